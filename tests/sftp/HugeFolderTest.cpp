#include "SftpTestUtil.h"

#include <QDir>
#include <fcntl.h>
#include <map>
#include <unistd.h>

// A folder of 100,000 entries on sshd lists through the site connection whole:
// every name once, none twice, none lost between the server's many replies.
TEST(SftpHugeFolderTest, EveryNameArrivesOnce) {
    SshServer server(SshServer::Kind::OpenSsh);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    const QString folder = QStringLiteral("/huge");
    ASSERT_TRUE(QDir().mkpath(server.LocalRoot() + folder));
    constexpr int kEntries = 100000;
    std::map<QString, int> seen;
    for (int i = 0; i < kEntries; ++i) {
        // Names of every length up to 250 bytes, some not ASCII.
        const QString name = QStringLiteral("%1 %2").arg(i).arg(
            QString(i % 7 == 0 ? QStringLiteral("é") : QStringLiteral("x")).repeated(i % 120));
        const QByteArray path = QFile::encodeName(server.LocalRoot() + folder + '/' + name);
        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_EXCL, 0644);
        ASSERT_GE(fd, 0) << path.constData();
        ::close(fd);
        seen[name] = 0;
    }
    SftpHome home;
    core::SftpLogin login = home.LoginFor(server);
    login.agentSocket = server.AgentSocket();
    AcceptOnce accept;
    auto site = core::ConnectSftp(login, accept.Question(), {});
    int unexpected = 0;
    for (const core::RemoteEntry& e : site->List(server.Root() + folder)) {
        const auto it = seen.find(e.name);
        it == seen.end() ? ++unexpected : ++it->second;
    }
    EXPECT_EQ(unexpected, 0);
    const auto wrong =
        std::count_if(seen.begin(), seen.end(), [](const auto& s) { return s.second != 1; });
    EXPECT_EQ(wrong, 0);
}
