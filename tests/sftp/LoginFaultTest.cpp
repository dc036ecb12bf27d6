#include "SftpTestUtil.h"

#include "Interrupt.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <thread>

// Logins in their order (agent, key files, password, keyboard-interactive), and
// the faults of a server: a dropped session, a silent one, a Cancel meanwhile.

namespace {

QString Words(const std::function<void()>& run, core::RemoteError::Kind* kind = nullptr) {
    try {
        run();
    } catch (const core::RemoteError& e) {
        if (kind)
            *kind = e.kind();
        return e.words();
    }
    return QStringLiteral("<no error>");
}

} // namespace

// Keys against sshd: a plain key logs in, an encrypted one the server accepts
// asks its passphrase, one it does not accept is never asked about. RSA keys,
// from files of either format and from the agent, sign with SHA-256: sshd 8.8 and
// later refuse SHA-1.
TEST(SftpLoginTest, KeyFilesAskOnlyForAcceptedKeys) {
    SshServer server(SshServer::Kind::OpenSsh);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    enum class Where { File, PemFile, NoPub, PemNoPub, Agent };
    const struct {
        const char* what;
        const char* file;
        const char* passphrase;
        bool authorized;
        int asked; // passphrase questions
        bool loggedIn;
        Where where;
    } cases[] = {
        {"plain key", "id_ed25519", "", true, 0, true, Where::File},
        {"encrypted, accepted", "id_ecdsa", "secret", true, 1, true, Where::File},
        {"encrypted, not accepted", "id_ecdsa", "secret", false, 0, false, Where::File},
        {"RSA", "id_rsa", "", true, 0, true, Where::File},
        {"RSA, encrypted PEM", "id_rsa", "secret", true, 1, true, Where::PemFile},
        {"RSA, encrypted OpenSSH format", "id_rsa", "secret", true, 1, true, Where::File},
        {"encrypted, no .pub beside it", "id_ed25519", "secret", true, 1, true, Where::NoPub},
        {"encrypted PEM, no .pub", "id_rsa", "secret", true, 0, false, Where::PemNoPub},
        {"RSA, not accepted", "id_rsa", "", false, 0, false, Where::File},
        {"RSA in the agent", "id_rsa", "", true, 0, true, Where::Agent},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SftpHome home;
        ASSERT_TRUE(QDir().mkpath(home.Keys()));
        // An agent's key is not in the key folder too.
        const QString key = (c.where == Where::Agent ? home.dir.path() : home.Keys()) +
                            QLatin1Char('/') + QLatin1String(c.file);
        const QString type = QString::fromLatin1(c.file).mid(3);
        const bool pem = c.where == Where::PemFile || c.where == Where::PemNoPub;
        ASSERT_TRUE(SshServer::MakeKey(key, type, c.passphrase, pem));
        if (c.authorized) {
            ASSERT_TRUE(server.AuthorizeKey(key + QStringLiteral(".pub")));
        }
        // OpenSSH's own format holds its public key; a locked PEM key without its
        // ".pub" cannot say whether the server takes it, and is not offered.
        if (c.where == Where::NoPub || c.where == Where::PemNoPub)
            QFile::remove(key + QStringLiteral(".pub"));
        int asked = 0;
        auto passphrase = [&](const QString& path) -> std::optional<QString> {
            ++asked;
            EXPECT_EQ(path, key);
            return QString::fromLatin1(c.passphrase);
        };
        AcceptOnce accept;
        core::SftpLogin login = home.LoginFor(server);
        login.password.clear();
        if (c.where == Where::Agent) {
            login.agentSocket = server.AgentSocket();
            ASSERT_TRUE(server.ClearAgent() && server.AddToAgent(key));
        }
        const QString words =
            Words([&] { core::ConnectSftp(login, accept.Question(), passphrase); });
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(words == QStringLiteral("<no error>"), c.loggedIn) << words.toStdString();
        if (!c.loggedIn) {
            EXPECT_TRUE(words.contains(QStringLiteral("publickey"))) << words.toStdString();
        } else {
            const QByteArray log = server.Log();
            const QByteArray accepted = log.mid(log.lastIndexOf("Accepted publickey"));
            EXPECT_TRUE(accepted.left(accepted.indexOf('\n')).contains(type.toUpper().toLatin1()))
                << accepted.toStdString();
        }
    }
}

// asyncssh: password and keyboard-interactive, each alone; a wrong password is
// refused naming what was tried; with a password, at most three keys go first.
TEST(SftpLoginTest, PasswordAndKeyboardInteractive) {
    const struct {
        const char* methods;
        bool rightPassword;
        const char* tried;
    } cases[] = {
        {"password", true, "password"},
        {"kbdint", true, "keyboard-interactive"},
        {"password,kbdint", false, "password, keyboard-interactive"},
        {"publickey,password", true, "publickey (3 agent keys), password"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.methods);
        SshServer server(SshServer::Kind::AsyncSsh, {.methods = QString::fromLatin1(c.methods)});
        ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
        SftpHome home;
        core::SftpLogin login = home.LoginFor(server);
        if (!c.rightPassword)
            login.password += QStringLiteral("x");
        if (QString::fromLatin1(c.methods).contains(QStringLiteral("publickey"))) {
            for (int i = 0; i < 4; ++i) {
                const QString key = home.dir.filePath(QStringLiteral("k%1").arg(i));
                ASSERT_TRUE(SshServer::MakeKey(key, QStringLiteral("ed25519")));
                ASSERT_TRUE(server.AddToAgent(key));
            }
            login.agentSocket = server.AgentSocket();
        }
        AcceptOnce accept;
        const QString words = Words([&] {
            auto site = core::ConnectSftp(login, accept.Question(), {});
            EXPECT_EQ(site->Encryption(), QStringLiteral("SSH"));
            EXPECT_EQ(site->HomeFolder(), QStringLiteral("/"));
        });
        if (c.rightPassword) {
            EXPECT_EQ(words, QStringLiteral("<no error>"));
        } else {
            EXPECT_TRUE(words.contains(QString::fromLatin1(c.tried))) << words.toStdString();
        }
        EXPECT_EQ(server.Log().count("key offered"), login.agentSocket->isEmpty() ? 0 : 3);
    }
}

// A session dropped in the middle of a read is Lost; a silent server is given up
// on within the time-out, and a Cancel ends the wait at once.
TEST(SftpFaultTest, DroppedAndSilentServers) {
    enum class Fault { Drop, Stall, Cancel };
    for (const Fault fault : {Fault::Drop, Fault::Stall, Fault::Cancel}) {
        SCOPED_TRACE(int(fault));
        SshServer::Options options;
        (fault == Fault::Drop ? options.dropAfter : options.stallAfter) = 100000;
        SshServer server(SshServer::Kind::AsyncSsh, options);
        ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
        Put(server.LocalRoot() + QStringLiteral("/big"), QByteArray(4 << 20, 'x'));
        SftpHome home;
        core::SftpLogin login = home.LoginFor(server);
        login.timeouts.replyMs = 1500;
        AcceptOnce accept;
        auto site = core::ConnectSftp(login, accept.Question(), {});
        std::atomic<int> stop{0};
        ftp::InterruptScope scope(&stop);
        QElapsedTimer clock;
        std::thread canceller([&] {
            if (fault == Fault::Cancel) {
                QThread::msleep(500);
                clock.start();
                stop = 1;
            }
        });
        core::RemoteError::Kind kind{};
        if (fault != Fault::Cancel)
            clock.start();
        Words(
            [&] {
                auto reader = site->OpenRead(QStringLiteral("/big"), 0);
                char buffer[65536];
                while (reader->Read(buffer, sizeof buffer) > 0) {
                }
            },
            &kind);
        const qint64 ms = clock.elapsed();
        canceller.join();
        const core::RemoteError::Kind expected[] = {core::RemoteError::Kind::Lost,
                                                    core::RemoteError::Kind::TimedOut,
                                                    core::RemoteError::Kind::Cancelled};
        EXPECT_EQ(kind, expected[int(fault)]);
        EXPECT_LT(ms, fault == Fault::Cancel ? 150 : 4000);
        stop = 0;
    }
}

// A listing with names that would reach outside the folder, or carry control
// characters, gives only the usable ones; a name that is not UTF-8 is shown
// decoded and its bytes go back to the server unchanged.
TEST(SftpFaultTest, HostileAndForeignNames) {
    SshServer server(SshServer::Kind::AsyncSsh, {.hostileNames = true});
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    const QByteArray rawPath = QFile::encodeName(server.LocalRoot()) + "/caf\xe9";
    FILE* f = std::fopen(rawPath.constData(), "w");
    ASSERT_TRUE(f);
    std::fputs("latin", f);
    std::fclose(f);
    SftpHome home;
    AcceptOnce accept;
    auto site = core::ConnectSftp(home.LoginFor(server), accept.Question(), {});
    const std::vector<core::RemoteEntry> entries = site->List(QStringLiteral("/"));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, QStringLiteral("caf") + QChar(0xE9));
    EXPECT_EQ(entries[0].rawName, "caf\xe9");
    auto reader = site->OpenRead(QStringLiteral("/") + entries[0].name, 0);
    char buffer[16];
    EXPECT_EQ(reader->Read(buffer, sizeof buffer), 5u);
    reader->Close();
    std::remove(rawPath.constData()); // a name Qt cannot remove
}

// A server may answer a read with fewer bytes than asked though more follow: the
// rest is asked for again, and the data still comes out whole and in order.
TEST(SftpFaultTest, ShortReadsAreAskedAgain) {
    SshServer server(SshServer::Kind::AsyncSsh, {.readCap = 1000});
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    QByteArray data(300007, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + i / 251);
    Put(server.LocalRoot() + QStringLiteral("/f"), data);
    SftpHome home;
    AcceptOnce accept;
    auto site = core::ConnectSftp(home.LoginFor(server), accept.Question(), {});
    for (const std::uint64_t offset : {0, 1, 40000}) {
        SCOPED_TRACE(offset);
        auto reader = site->OpenRead(QStringLiteral("/f"), offset);
        QByteArray got;
        char buffer[65536];
        while (const std::size_t n = reader->Read(buffer, sizeof buffer))
            got.append(buffer, qsizetype(n));
        reader->Close();
        EXPECT_TRUE(got == data.mid(qsizetype(offset))) << got.size();
    }
}

// A read or a write the server refuses while many are in flight is Refused, and
// the replies still on their way are taken: the same session goes on.
TEST(SftpFaultTest, RefusedTransfersLeaveTheSessionUsable) {
    for (const bool writing : {false, true}) {
        SCOPED_TRACE(writing);
        SshServer server(SshServer::Kind::AsyncSsh, {.refuseAfter = 200000});
        ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
        Put(server.LocalRoot() + QStringLiteral("/big"), QByteArray(1 << 20, 'x'));
        SftpHome home;
        AcceptOnce accept;
        auto site = core::ConnectSftp(home.LoginFor(server), accept.Question(), {});
        core::RemoteError::Kind kind{};
        const QString words = Words(
            [&] {
                char buffer[65536] = {};
                if (writing) {
                    auto writer = site->OpenWrite(QStringLiteral("/up"), core::WriteStart::New);
                    for (int i = 0; i < 16; ++i)
                        writer->Write(buffer, sizeof buffer);
                    writer->Close();
                } else {
                    auto reader = site->OpenRead(QStringLiteral("/big"), 0);
                    while (reader->Read(buffer, sizeof buffer) > 0) {
                    }
                }
            },
            &kind);
        EXPECT_EQ(kind, core::RemoteError::Kind::Refused);
        EXPECT_TRUE(words.contains(QStringLiteral("SFTP status 4"))) << words.toStdString();
        EXPECT_FALSE(site->OutcomeUnknown());
        EXPECT_EQ(site->List(QStringLiteral("/")).size(), writing ? 2u : 1u);
    }
}
