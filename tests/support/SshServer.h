#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <sys/types.h>

// A real SSH server on a free port of 127.0.0.1 for the life of the object, with
// keys of its own made by ssh-keygen in a temporary folder.
//
// - OpenSsh: the sshd that scripts/fetch-test-servers unpacks (never installed:
//   the package would start an SSH service), with its own configuration, host key
//   and authorized key, running as the current user, no PAM, logging VERBOSE to
//   Log(). It takes ClientKey() and the keys of the test agent.
// - AsyncSsh: tests/support/asyncssh_server.py, serving Root() as "/", with
//   password and keyboard-interactive logins for User()/Password() and the
//   faults of its options.
class SshServer {
public:
    enum class Kind { OpenSsh, AsyncSsh };
    struct Options {
        QString methods = QStringLiteral("password,kbdint"); // AsyncSsh logins
        long long dropAfter = -1; // AsyncSsh: cut after this many file bytes, and every
                                  // connection that moves file data from then on
        bool dropOnce = false;    // AsyncSsh: only the first connection is cut
        // AsyncSsh: for this many ms after the cut no connection is taken; -1:
        // none again; unset: the server stays.
        std::optional<int> awayAfterDropMs = std::nullopt;
        long long stallAfter = -1;  // AsyncSsh: silent after this many file bytes
        bool hostileNames = false;  // AsyncSsh: listings add names no client may use
        int readCap = -1;           // AsyncSsh: each read gives at most this many bytes
        long long refuseAfter = -1; // AsyncSsh: reads and writes fail after this many bytes
        bool ecdsaHostKey = false;  // OpenSsh: an ECDSA host key beside the Ed25519 one
    };

    explicit SshServer(Kind kind) : SshServer(kind, Options()) {}
    SshServer(Kind kind, Options options);
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    bool IsRunning() const { return m_pid > 0; }
    const QString& Error() const { return m_error; }

    QString Host() const { return QStringLiteral("127.0.0.1"); }
    unsigned short Port() const { return m_port; }
    QString User() const { return m_user; }
    QString Password() const { return m_password; }

    // A folder of the test's own on the server, as the client names it.
    QString Root() const;
    // The same folder on this machine's disk.
    QString LocalRoot() const { return m_root->path(); }

    // An Ed25519 key the server accepts (the private key; ".pub" beside it).
    QString ClientKey() const;
    // The host key as a known_hosts key ("ssh-ed25519 AAAA...") and as ssh prints
    // its fingerprint ("SHA256:...").
    QString HostKeyLine(const QString& file = QStringLiteral("host_key")) const;
    QString HostFingerprint() const;
    // What the server wrote to its log so far.
    QByteArray Log() const;
    // AsyncSsh: the file bytes it has sent (reads) and stored (writes), over
    // every session.
    struct Moved {
        long long read = 0;
        long long written = 0;
    };
    Moved FileBytesMoved() const;

    // An ssh-agent holding ClientKey(), started on first use; its socket.
    QString AgentSocket();
    // Adds a key to that agent.
    bool AddToAgent(const QString& key);
    // Empties that agent (ClientKey() too).
    bool ClearAgent();
    // OpenSsh: one more key (its ".pub" path) the server accepts.
    bool AuthorizeKey(const QString& publicKey) const;

    // Makes a fresh key pair at path (type "ed25519", "ecdsa", "rsa"), with a
    // passphrase when one is given, in OpenSSH's own format or PEM; false when
    // ssh-keygen failed.
    static bool MakeKey(const QString& path, const QString& type,
                        const QString& passphrase = QString(), bool pem = false);
    // ssh-keygen's -F look-up of host in a known_hosts file: the lines it finds.
    static QString FindKnownHost(const QString& file, const QString& host);

private:
    bool StartOpenSsh();
    bool StartAsyncSsh();
    bool WaitForPort(int timeoutMs);

    Kind m_kind;
    Options m_options;
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<QTemporaryDir> m_work;
    unsigned short m_port = 0;
    pid_t m_pid = -1;
    pid_t m_agentPid = -1;
    QString m_user;
    QString m_password;
    QString m_error;
};
