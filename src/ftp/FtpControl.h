#pragma once

// The control connection of one FTP connection, on POCO's FTP client session. POCO
// speaks the control channel; the data connections are made here, because we
// need active mode with a fallback to passive, NAT-proof passive addresses, our
// own time-outs and direct access to the data socket.

#include <Poco/Net/FTPClientSession.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <QString>
#include <memory>
#include <string>

#include "InternetException.h"
#include "InternetSession.h"

class FtpDataChannel;

struct FtpReply {
    int code = 0;     // 0 when the server closed the connection
    std::string text; // all lines, joined by "\n"
    bool Is(int klass) const { return code / 100 == klass; }
};

class FtpControl : public Poco::Net::FTPClientSession {
public:
    // Connects, reads the greeting, logs in and sets up binary UTF-8 transfers.
    static std::unique_ptr<FtpControl> Open(const std::string& host, unsigned short port,
                                            const std::string& user, const std::string& password,
                                            const FtpTimeouts& timeouts, bool passive);
    ~FtpControl() override;

    // Sends a command and reads its reply. Throws CInternetException when the
    // connection is lost or the reply does not come in time; the connection is
    // then unusable (Alive() false).
    FtpReply Command(const std::string& command);
    // The same, false (never a throw) on anything but a reply of the given class.
    bool CommandOk(const std::string& command, int replyClass = 2, FtpReply* reply = nullptr);

    // Opens the data connection for a transfer command (RETR, STOR, LIST, MLSD)
    // and reads the server's preliminary reply. Throws CInternetException when the
    // server refuses (the refusal's reply in the message) or no data connection can
    // be made.
    Poco::Net::StreamSocket OpenData(const std::string& command);
    // Reads the reply that ends a transfer.
    FtpReply ReadReply();
    // Gets the control channel back in step after an abandoned transfer.
    void AbortTransfer();

    // Runs a listing command to the end; false when the server refuses it.
    bool FetchListing(const std::string& command, std::string& text);

    bool Alive() const { return isOpen() && !m_dead; }
    bool Passive() const { return m_passive; }
    bool HasMlst() const { return m_hasMlst; }
    bool ListDashARefused() const { return m_listNoDashA; }
    void SetListDashARefused() { m_listNoDashA = true; }
    const FtpTimeouts& Timeouts() const { return m_timeouts; }
    const QString& ServerName() const { return m_serverName; }

    // The one open file of this connection, told when the connection goes away.
    FtpDataChannel* m_openFile = nullptr;

    void Quit();

private:
    FtpControl(const Poco::Net::StreamSocket& socket, const FtpTimeouts& timeouts);
    FtpReply ReadReplyWithin(int timeoutMs);
    void Send(const std::string& line);
    void Login(const std::string& user, const std::string& password);
    void Negotiate();
    [[noreturn]] void Fail(int error, const QString& message);

    enum class ActiveResult { Connected, Refused, Unavailable };
    ActiveResult TryActive(const std::string& command, Poco::Net::StreamSocket& data,
                           FtpReply& refusal);
    Poco::Net::StreamSocket OpenPassive(const std::string& command);
    Poco::Net::SocketAddress PassiveAddress();
    bool WaitReadable(int fd1, int fd2, int timeoutMs, int* readyFd);

    FtpTimeouts m_timeouts;
    QString m_serverName;
    Poco::Net::SocketAddress m_peer;
    Poco::Net::SocketAddress m_local;
    bool m_dead = false;
    bool m_passive = false;
    bool m_noEpsv = false;
    bool m_hasMlst = false;
    bool m_listNoDashA = false;
};

// Turns whatever POCO or the system threw into CInternetException; call inside a
// catch block.
[[noreturn]] void RethrowAsInternetException(int fallbackError);

// A path for a command: UTF-8, and refused (false) when it holds a line end or NUL
// that would end the command early.
bool CommandPath(const QString& path, std::string& out);
