#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <sys/types.h>

struct FtpServerLaunch;

// A real FTP server on a free port of 127.0.0.1, serving a fresh temporary folder,
// for the life of the object.
//
// No server here accepts a system account: each checks its own list of users.
//
// - Vsftpd: standalone vsftpd with a configuration written into a temporary folder.
//   vsftpd refuses anonymous sessions in a writable root, so User()/Password() is
//   the virtual user that scripts/setup-test-servers.sh sets up (its password is
//   readable by root alone), checked by a PAM service of its own and running as a
//   locked account, chrooted into Root() with full write access. Anonymous logins
//   work too, into an empty read-only folder of their own. It needs root (as the
//   tests run here and in CI) to chroot and change user.
// - Pyftpdlib: tests/support/pyftpd_server.py under /usr/bin/python3, with the
//   account User()/Password() and anonymous, both with every permission.
// - Silent: accepts TCP connections and never says a word.
// - PureFtpd, Proftpd: the Debian builds that scripts/fetch-test-servers unpacks
//   (never installed: they conflict with vsftpd), each with one virtual user of
//   a random password made for this server, chrooted into Root(); no anonymous.
//   Both send MLSD; both list symbolic links as links.
class FtpServer {
public:
    enum class Kind { Vsftpd, Pyftpdlib, Silent, PureFtpd, Proftpd };
    struct Options {
        bool refuseActive = false;    // PORT and EPRT are refused (not pure-ftpd)
        bool blackholeActive = false; // pyftpdlib: PORT taken, but it never connects back
        bool noMlsd = false;          // pyftpdlib without MLSD/MLST: LIST only
        int maxPerIp = 0;             // connections allowed from one address; 0: no limit
        // pyftpdlib: these commands (comma-separated) answer lateMs late, the
        // server busy meanwhile; 0: on time.
        int lateMs = 0;
        QString lateVerbs = QStringLiteral("DELE");
        // vsftpd, proftpd: a session idle this long is ended by the server (421);
        // 0: the server's own default.
        int idleSeconds = 0;
        // pyftpdlib: the session closes once in RETR and once in STOR at this
        // many bytes of the file (-1: never); REST refused; a line per data
        // transfer (verb, bytes) in this file.
        long long dropAt = -1;
        QString dropIn = {}; // "RETR" or "STOR": the drop in that one only
        bool noRest = false;
        QString transferLog = {};
    };

    explicit FtpServer(Kind kind) : FtpServer(kind, Options()) {}
    FtpServer(Kind kind, Options options);
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    // False when the server could not be started; Error() tells why.
    bool IsRunning() const { return m_pid > 0; }
    const QString& Error() const { return m_error; }

    QString Host() const { return QStringLiteral("127.0.0.1"); }
    unsigned short Port() const { return m_port; }
    // "127.0.0.1:port", as a profile's FTP address.
    QString Address() const;
    // The account to log in with; an empty user means anonymous.
    QString User() const { return m_user; }
    QString Password() const { return m_password; }
    // A user and password the server refuses.
    QString BadUser() const;
    QString BadPassword() const;
    Kind GetKind() const { return m_kind; }
    static const char* KindName(Kind kind);

    // The served folder, and helpers that put content into it readable and
    // writable by the server's session user.
    QString Root() const;
    QString PathOf(const QString& relative) const;
    bool WriteFile(const QString& relative, const QByteArray& data) const;
    bool MakeDir(const QString& relative) const;
    QByteArray ReadFile(const QString& relative) const;

    // Ends the server and every session process at once (SIGKILL).
    void Kill();
    // Kills it as Kill does, then starts it again on the same port, serving the
    // same folder: a restart, as clients see one. False when it did not come up.
    bool Restart();
    // Stops (SIGSTOP) or resumes (SIGCONT) the server's working processes:
    // meanwhile it reads nothing and answers nothing.
    void Freeze(bool frozen);

private:
    bool Start();
    bool StartOnPort();
    bool StartProcess(const QStringList& args);
    bool WaitForPort(int timeoutMs);
    void Stop();
    FtpServerLaunch Launch() const;

    Kind m_kind;
    Options m_options;
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<QTemporaryDir> m_work;
    unsigned short m_port = 0;
    pid_t m_pid = -1;
    QString m_user;
    QString m_password;
    QString m_error;
};
