#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Host keys kept as OpenSSH keeps them, so that a host the user already reaches
// with ssh is trusted here too, and a key remembered here is trusted by ssh.
namespace sftp {

// A server's host key as the handshake brought it.
struct HostKey {
    QString name;                // the wire name: "ssh-ed25519", "ecdsa-sha2-nistp256", ...
    QByteArray blob;             // the public key as the server sent it
    QString Type() const;        // as ssh shows it: "ED25519", "ECDSA", "RSA", "DSA"
    QString Fingerprint() const; // "SHA256:" and the unpadded base64 of its hash
};

enum class HostKeyStatus {
    Known,          // this very key is remembered for the host
    Unknown,        // nothing is remembered for the host
    OtherTypeKnown, // only keys of other types are remembered: asked about as unknown
    Changed,        // another key of this type is remembered (or this one is revoked)
};

struct HostKeyCheck {
    HostKeyStatus status = HostKeyStatus::Unknown;
    HostKey offered;
    QString knownFingerprint; // Changed: the fingerprint of the remembered key
    QStringList knownTypes;   // OtherTypeKnown: the types remembered
};

// The name a host goes by in known_hosts: "host" on port 22, "[host]:port" else.
QString KnownHostName(const QString& host, int port);

class KnownHosts {
public:
    // The user's ~/.ssh/known_hosts.
    KnownHosts();
    explicit KnownHosts(const QString& path) : m_path(path) {}
    const QString& Path() const { return m_path; }

    HostKeyCheck Check(const QString& host, int port, const HostKey& key) const;
    // Appends the key for the host in the form ssh writes it; the file is
    // replaced whole and keeps its mode. False when it could not be written.
    bool Remember(const QString& host, int port, const HostKey& key, bool hashed) const;

private:
    QString m_path;
};

// Whether ssh would hash a name it adds for host: HashKnownHosts from the first
// of the config files that sets it for the host (OpenSSH's default: no).
bool HashKnownHosts(const QString& host, const QStringList& configFiles);
// ~/.ssh/config and /etc/ssh/ssh_config.
QStringList DefaultSshConfigFiles();

// Whether name matches a comma-separated list of ssh host patterns ("*", "?",
// and "!" to exclude), without regard to case.
bool MatchHostPatterns(const QString& name, const QString& patterns);

} // namespace sftp
