#include "SftpTestUtil.h"

#include <QFile>
#include <QProcess>
#include <QThread>

// Host keys as ssh keeps them: the question comes before any login reaches the
// server, a remembered key is one that ssh-keygen -F finds, a changed key is
// refused with both fingerprints.

namespace {

QString OtherKeyLine(const QString& type) {
    QTemporaryDir dir;
    EXPECT_TRUE(SshServer::MakeKey(dir.filePath(QStringLiteral("k")), type));
    return QString::fromUtf8(Get(dir.filePath(QStringLiteral("k.pub")))).section(' ', 0, 1);
}

// Whether sshd has seen any login attempt at all.
bool AnyLogin(const QByteArray& log) {
    return log.contains("Accepted") || log.contains("Failed") || log.contains("Postponed") ||
           log.contains("Invalid user");
}

} // namespace

class HostKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
        QDir().mkpath(home.Keys());
        QFile::copy(server.ClientKey(), home.Keys() + QStringLiteral("/id_ed25519"));
        QFile::copy(server.ClientKey() + QStringLiteral(".pub"),
                    home.Keys() + QStringLiteral("/id_ed25519.pub"));
    }
    QString HostName() const { return QStringLiteral("[127.0.0.1]:%1").arg(server.Port()); }

    SshServer server{SshServer::Kind::OpenSsh};
    SftpHome home;
};

// Each known_hosts content before the connect, and what must come of it.
TEST_F(HostKeyTest, KnownHostsDecideTheQuestion) {
    const QString key = server.HostKeyLine();
    const QString ecdsa = OtherKeyLine(QStringLiteral("ecdsa"));
    const QString otherEd = OtherKeyLine(QStringLiteral("ed25519"));
    struct Case {
        const char* what;
        QString knownHosts;
        sftp::HostKeyStatus status;
    };
    const QString name = HostName();
    const Case cases[] = {
        {"plain entry", name + ' ' + key + '\n', sftp::HostKeyStatus::Known},
        {"pattern list", "other," + name + ' ' + key + '\n', sftp::HostKeyStatus::Known},
        {"wildcard", QStringLiteral("[127.0.0.*]:*") + ' ' + key + '\n',
         sftp::HostKeyStatus::Known},
        {"negated", "*,!" + name + ' ' + key + '\n', sftp::HostKeyStatus::Unknown},
        {"port 22 form only", "127.0.0.1 " + key + '\n', sftp::HostKeyStatus::Unknown},
        {"nothing", QString(), sftp::HostKeyStatus::Unknown},
        {"other type", name + ' ' + ecdsa + '\n', sftp::HostKeyStatus::OtherTypeKnown},
        {"changed", name + ' ' + otherEd + '\n', sftp::HostKeyStatus::Changed},
        {"revoked", "@revoked " + name + ' ' + key + '\n', sftp::HostKeyStatus::Changed},
        {"comment and junk", "# " + name + ' ' + key + "\ngarbage\n", sftp::HostKeyStatus::Unknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PutText(home.KnownHosts(), c.knownHosts);
        AcceptOnce accept;
        try {
            auto site = core::ConnectSftp(home.LoginFor(server), accept.Question(), {});
            EXPECT_NE(c.status, sftp::HostKeyStatus::Changed);
            EXPECT_EQ(accept.asked, c.status == sftp::HostKeyStatus::Known ? 0 : 1);
            if (accept.asked) {
                EXPECT_EQ(accept.last.status, c.status);
                EXPECT_EQ(accept.last.offered.Type(), QStringLiteral("ED25519"));
                EXPECT_EQ(accept.last.offered.Fingerprint(), server.HostFingerprint());
            }
            if (c.status == sftp::HostKeyStatus::OtherTypeKnown) {
                EXPECT_EQ(accept.last.knownTypes, QStringList{QStringLiteral("ECDSA")});
            }
        } catch (const core::HostKeyChanged& e) {
            EXPECT_EQ(c.status, sftp::HostKeyStatus::Changed);
            EXPECT_EQ(accept.asked, 0);
            EXPECT_TRUE(e.words().contains(server.HostFingerprint()));
            if (c.knownHosts.contains(otherEd)) {
                EXPECT_TRUE(e.words().contains(e.check().knownFingerprint) &&
                            !e.check().knownFingerprint.isEmpty());
            }
        }
    }
}

// Remembered keys, hashed or not, are lines ssh-keygen -F finds; the file keeps its mode.
TEST_F(HostKeyTest, RememberAppendsAsSshDoes) {
    const QString config = home.dir.filePath(QStringLiteral("ssh_config"));
    for (const bool hashed : {true, false}) {
        SCOPED_TRACE(hashed ? "hashed" : "plain");
        PutText(config, QStringLiteral("Host nothing-else\n  HashKnownHosts no\nHost *\n  "
                                       "HashKnownHosts %1\n")
                            .arg(hashed ? "yes" : "no"));
        PutText(home.KnownHosts(),
                QStringLiteral("# kept\nsomehost %1").arg(OtherKeyLine("ed25519")));
        QFile::setPermissions(home.KnownHosts(), QFile::ReadOwner | QFile::WriteOwner);
        core::SftpLogin login = home.LoginFor(server);
        login.sshConfigFiles = QStringList{config};
        auto remember = [](const sftp::HostKeyCheck&) { return core::HostKeyAnswer::Remember; };
        EXPECT_TRUE(core::ConnectSftp(login, remember, {}));
        const QString found = SshServer::FindKnownHost(home.KnownHosts(), HostName());
        EXPECT_TRUE(found.contains(server.HostKeyLine())) << found.toStdString();
        EXPECT_EQ(found.contains(QStringLiteral("|1|")), hashed);
        EXPECT_FALSE(SshServer::FindKnownHost(home.KnownHosts(), "somehost").isEmpty());
        EXPECT_EQ(QFile::permissions(home.KnownHosts()),
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        // Now known: no second question.
        AcceptOnce again;
        EXPECT_TRUE(core::ConnectSftp(login, again.Question(), {}));
        EXPECT_EQ(again.asked, 0);
    }
}

// While the question is open nothing but the handshake has reached sshd; a
// refusal ends the connection before any login.
TEST_F(HostKeyTest, NoLoginBeforeTheAnswer) {
    for (const auto answer : {core::HostKeyAnswer::Cancel, core::HostKeyAnswer::ConnectOnce}) {
        QByteArray logAtQuestion;
        auto ask = [&](const sftp::HostKeyCheck&) {
            logAtQuestion = server.Log();
            return answer;
        };
        const qsizetype before = server.Log().size();
        try {
            core::ConnectSftp(home.LoginFor(server), ask, {});
            EXPECT_EQ(answer, core::HostKeyAnswer::ConnectOnce);
        } catch (const core::RemoteError& e) {
            EXPECT_EQ(e.kind(), core::RemoteError::Kind::Cancelled);
        }
        EXPECT_TRUE(logAtQuestion.mid(before).contains("Connection from 127.0.0.1"));
        EXPECT_FALSE(AnyLogin(logAtQuestion.mid(before))) << logAtQuestion.toStdString();
        for (int i = 0; i < 100 && !server.Log().mid(before).contains("127.0.0.1 port"); ++i)
            QThread::msleep(20);
        EXPECT_EQ(AnyLogin(server.Log().mid(before)), answer != core::HostKeyAnswer::Cancel);
    }
    EXPECT_TRUE(server.Log().contains("Accepted publickey for " + server.User().toUtf8()));
}

TEST(SshConfigTest, HashKnownHostsFirstValueWins) {
    QTemporaryDir dir;
    const QString user = dir.filePath(QStringLiteral("config"));
    const QString system = dir.filePath(QStringLiteral("ssh_config"));
    const QString included = dir.filePath(QStringLiteral("inc.conf"));
    PutText(included, QStringLiteral("Host inc\n HashKnownHosts=yes\n"));
    PutText(user, QStringLiteral("Include inc.conf\nHost a.example !b.example\n HashKnownHosts no\n"
                                 "Match host x\n HashKnownHosts yes\n"));
    PutText(system, QStringLiteral("Host *\n    HashKnownHosts yes\n"));
    const struct {
        const char* host;
        bool hashed;
    } cases[] = {{"a.example", false}, {"b.example", true}, {"inc", true}, {"x", true}};
    for (const auto& c : cases)
        EXPECT_EQ(sftp::HashKnownHosts(c.host, {user, system}), c.hashed) << c.host;
    EXPECT_FALSE(sftp::HashKnownHosts(QStringLiteral("a"), {user}));
}

// A host remembered with one of its keys is not asked about for another: the
// handshake asks for the remembered type first, as ssh does.
TEST(HostKeyOrderTest, RememberedTypeGoesFirst) {
    SshServer server(SshServer::Kind::OpenSsh, {.ecdsaHostKey = true});
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    SftpHome home;
    core::SftpLogin login = home.LoginFor(server);
    login.agentSocket = server.AgentSocket();
    const std::pair<const char*, bool> cases[] = {
        {"host_key", false}, {"host_key_ecdsa", false}, {"host_key_ecdsa", true}};
    for (const auto& [file, hashed] : cases) {
        SCOPED_TRACE(std::string(file) + (hashed ? ", hashed" : ""));
        PutText(home.KnownHosts(), QStringLiteral("[127.0.0.1]:%1 %2\n")
                                       .arg(server.Port())
                                       .arg(server.HostKeyLine(QLatin1String(file))));
        if (hashed) {
            ASSERT_EQ(QProcess::execute(QStringLiteral("ssh-keygen"),
                                        {QStringLiteral("-q"), QStringLiteral("-H"),
                                         QStringLiteral("-f"), home.KnownHosts()}),
                      0);
            ASSERT_TRUE(Get(home.KnownHosts()).startsWith("|1|"));
        }
        AcceptOnce accept;
        EXPECT_TRUE(core::ConnectSftp(login, accept.Question(), {}));
        EXPECT_EQ(accept.asked, 0) << accept.last.offered.Type().toStdString();
    }
}
