#pragma once

// Real FTPS servers for the TLS tests, with certificates made here by openssl.
//
// Every certificate the tests make is signed by one test authority, made once per
// test program and put in SSL_CERT_FILE before the first connection, so that it
// stands for the system's trust store: "trusted" means signed by it. Certificates
// that must not be trusted are self-signed or come from a second authority that is
// in no store.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <sys/types.h>

struct TestCertificate {
    QString certFile;
    QString keyFile;
};

class TestCertificates {
public:
    enum class Kind {
        Trusted,       // signed by the trusted authority for 127.0.0.1 and localhost
        SelfSigned,    // for 127.0.0.1, signed by itself
        OtherName,     // trusted, but for another host name only
        Expired,       // trusted and for 127.0.0.1, but out of date
        UnknownIssuer, // for 127.0.0.1, signed by an authority in no store
    };
    // Makes the authority and points SSL_CERT_FILE at it; call before any
    // connection. False (with Error()) when openssl failed.
    static bool Prepare();
    // A fresh certificate and key of the given kind; empty files on failure.
    static TestCertificate Make(Kind kind);
    static const QString& Error();
};

class TlsServer {
public:
    // VsftpdImplicit: implicit FTPS on 127.0.0.1:990, the port that makes
    // "ftps://" implicit; the tests run as root. One server on port 990 at a time
    // on the machine: the others wait on a lock file, as test programs run side
    // by side.
    enum class Kind { Vsftpd, Pyftpdlib, PlainRecording, VsftpdImplicit };
    // fault: one of pyftpd_tls_server.py's --fault modes, or empty. port: the
    // port to listen on (that of a server stopped before), 0 for a free one.
    TlsServer(Kind kind, const TestCertificate& certificate, const QString& fault = QString(),
              unsigned short port = 0);
    ~TlsServer();
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    bool IsRunning() const { return m_pid > 0; }
    const QString& Error() const { return m_error; }
    unsigned short Port() const { return m_port; }
    QString Address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString User() const { return m_user; }
    QString Password() const { return m_password; }
    QString Root() const { return m_root.path(); }
    QString PathOf(const QString& relative) const { return Root() + "/" + relative; }
    bool WriteFile(const QString& relative, const QByteArray& data) const;
    bool MakeDir(const QString& relative) const;
    QByteArray ReadFile(const QString& relative) const;
    // PlainRecording: the commands received so far, one an entry.
    QStringList Commands() const;
    // The commands once at least one is on record (the server writes them from
    // its own process): up to two seconds, then whatever there is.
    QStringList RecordedCommands() const;
    // The server's own log (vsftpd's), for a failure's message.
    QString Log() const;

private:
    bool Start(const TestCertificate& certificate);
    bool WriteVsftpdConfig(const TestCertificate& certificate, QString* path);
    bool Spawn(const QStringList& args);
    void Stop();

    bool IsVsftpd() const { return m_kind == Kind::Vsftpd || m_kind == Kind::VsftpdImplicit; }

    Kind m_kind;
    QString m_fault;
    unsigned short m_fixedPort = 0;
    int m_portLock = -1;
    QTemporaryDir m_root;
    QTemporaryDir m_work;
    unsigned short m_port = 0;
    pid_t m_pid = -1;
    QString m_user;
    QString m_password;
    QString m_error;
};
