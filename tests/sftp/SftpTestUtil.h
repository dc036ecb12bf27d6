#pragma once

#include "Profile.h"
#include "SftpRemote.h"
#include "SshServer.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

inline void Put(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(data) == data.size());
}

inline void PutText(const QString& path, const QString& text) {
    Put(path, text.toUtf8());
}

inline QByteArray Get(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A home of the test's own for each login: known_hosts, keys, no agent and no
// ssh_config unless the test puts them there.
struct SftpHome {
    QTemporaryDir dir;
    QString KnownHosts() const { return dir.filePath(QStringLiteral("known_hosts")); }
    QString Keys() const { return dir.filePath(QStringLiteral("keys")); }

    core::SftpLogin LoginFor(const SshServer& server) const {
        core::SftpLogin login;
        login.host = server.Host();
        login.port = server.Port();
        login.user = server.User();
        login.password = server.Password();
        login.knownHostsPath = KnownHosts();
        login.sshConfigFiles = QStringList();
        login.keyFolder = Keys();
        login.agentSocket = QString();
        return login;
    }
};

// Takes any host key once; remembers what it was asked.
struct AcceptOnce {
    int asked = 0;
    sftp::HostKeyCheck last;
    core::HostKeyQuestion Question() {
        return [this](const sftp::HostKeyCheck& check) {
            ++asked;
            last = check;
            return core::HostKeyAnswer::ConnectOnce;
        };
    }
};

// The password profile of an asyncssh server, with HOME in home and no agent,
// so that the user's own ~/.ssh is never read nor written.
inline CProfile PasswordProfile(const SshServer& server, const QTemporaryDir& home) {
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("SSH_AUTH_SOCK", QByteArray());
    CProfile profile;
    profile.m_name = QStringLiteral("ssh");
    profile.m_address = QStringLiteral("sftp://127.0.0.1:%1").arg(server.Port());
    profile.m_userId = server.User();
    profile.m_password = server.Password();
    return profile;
}
