#pragma once

#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "Certificate.h"
#include "FtpTypes.h"
#include "InternetException.h"

class CFtpConnection;

// Time-outs of every connection made through a session. A silent server must
// never hang the program: connecting, each reply and each data transfer step
// give up after these.
struct FtpTimeouts {
    int connectMs = 10000;
    int replyMs = 30000;
    int dataMs = 30000;
    int activeAcceptMs = 3000; // wait for the server to connect back in active mode
};

// The sockets of connections still being made through one session, so that a
// connect nobody waits for any more can be ended at once rather than after all
// its time-outs. The sockets are shut down, never closed here: their owners
// close them, after taking them out of this list.
class PendingConnects {
public:
    // False when the session has been closed: the connect is not to be made.
    bool Add(int fd);
    void Remove(int fd);
    // Ends every connect in progress and refuses new ones.
    void CancelAll();

private:
    std::mutex m_mutex;
    std::vector<int> m_fds;
    bool m_cancelled = false;
};

// The internet session: the factory of FTP connections. Several connections of
// one session may be open at once, and GetFtpConnection may be called from a
// worker thread.
class CInternetSession {
public:
    // Throws CInternetException when the session cannot be opened.
    explicit CInternetSession(const QString& agent = QString(), int context = 1,
                              unsigned accessType = PRE_CONFIG_INTERNET_ACCESS,
                              const QString& proxy = QString(),
                              const QString& proxyBypass = QString(), unsigned flags = 0);
    ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    // Connects and logs in. server is "host", "host:port" or "[ipv6]:port", each
    // with TLS when the server takes it (and then always, see TlsMemory), or the
    // same after "ftps://" or "ftpes://" (TLS or nothing; "ftps://host:990" from
    // the first byte) or "ftp://" (never TLS); port 0
    // (INTERNET_INVALID_PORT_NUMBER) with no port in server means 21. An empty user
    // logs in anonymously. passive false: active data connections first, falling
    // back to passive for good when the active one cannot be made.
    // Returns a new connection owned by the caller; throws CInternetException.
    CFtpConnection* GetFtpConnection(const QString& server, const QString& user = QString(),
                                     const QString& password = QString(),
                                     unsigned short port = INTERNET_INVALID_PORT_NUMBER,
                                     bool passive = false);

    // Ends connects still in progress (they throw ERROR_INTERNET_OPERATION_CANCELLED)
    // and refuses new ones. Safe to call from another thread than the connecting one.
    void Close();

    // Who answers for the user about a doubtful server certificate; with none,
    // such a certificate is refused.
    void SetCertificateCallback(CertificateCallback callback);
    CertificateTrust& Trust() { return *m_trust; }

    FtpTimeouts m_timeouts;
    QString m_agent;
    int m_context = 1;

    // Splits an FTP address into host and port; false when it is malformed.
    static bool ParseAddress(const QString& server, unsigned short defaultPort, QString* host,
                             unsigned short* port);

private:
    PendingConnects m_pending;
    std::shared_ptr<CertificateTrust> m_trust = std::make_shared<CertificateTrust>();
};
