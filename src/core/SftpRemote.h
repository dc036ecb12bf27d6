#pragma once

#include "RemoteSite.h"

#include "KnownHosts.h"
#include "Session.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

// SFTP sites behind the remote-site interface.
namespace core {

// What a connect to an SFTP site needs, from the profile and the user's files.
struct SftpLogin {
    QString host;
    int port = 22;
    QString user;
    QString password;
    // Empty: the user's own (~/.ssh/known_hosts, ~/.ssh/config and
    // /etc/ssh/ssh_config, ~/.ssh, SSH_AUTH_SOCK). Tests point them elsewhere.
    QString knownHostsPath;
    std::optional<QStringList> sshConfigFiles;
    std::optional<QString> keyFolder;
    std::optional<QString> agentSocket;
    sftp::Timeouts timeouts;
};

// "sftp://host" or "sftp://host:port" (an IPv6 address in brackets); false for
// anything else.
bool ParseSftpAddress(const QString& address, QString& host, int& port);

enum class HostKeyAnswer { ConnectOnce, Remember, Cancel };
// Asked for a key that is not remembered (Unknown or OtherTypeKnown) before any
// login is tried.
using HostKeyQuestion = std::function<HostKeyAnswer(const sftp::HostKeyCheck&)>;
// The passphrase of an encrypted key that the server accepts; nothing: skip it.
using PassphraseQuestion = std::function<std::optional<QString>(const QString& keyPath)>;
// A keyboard-interactive prompt the password does not answer.
using PromptQuestion = std::function<std::optional<QString>(const QString& prompt)>;

// A host whose key differs from the one remembered: refused, no way through.
class HostKeyChanged : public RemoteError {
public:
    HostKeyChanged(const sftp::HostKeyCheck& check, const QString& words)
        : RemoteError(Kind::Refused, words), m_check(check) {}
    const sftp::HostKeyCheck& check() const { return m_check; }

private:
    sftp::HostKeyCheck m_check;
};

// Connects, checks the host key (asking when it is not known), logs in. Throws
// RemoteError: Refused (the login, an anonymous profile, a cancelled question:
// Cancelled), HostKeyChanged, Lost, TimedOut.
std::unique_ptr<RemoteConnection> ConnectSftp(const SftpLogin& login, HostKeyQuestion askHostKey,
                                              PassphraseQuestion askPassphrase,
                                              PromptQuestion askPrompt = {});

} // namespace core
