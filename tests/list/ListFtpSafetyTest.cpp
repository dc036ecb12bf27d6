// Deletes and folder readings on real servers that must never lose data or show
// a failure as a folder: links, deep and interrupted deletes, refused, removed
// and broken folders. Every case fingerprints the served tree before and after.
#include <QProcess>
#include "Await.h"
#include <arpa/inet.h>
#include <atomic>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "ListTestUtil.h"
#include "TreeHash.h"

using namespace listtest;
using treehash::Take;
using treehash::Without;

namespace {
const QString kErrorDeleteFolder = QStringLiteral("Error Deleting Folder");
const QString kErrorRead = QStringLiteral("Error Reading Folder");

// Established TCP connections whose local port is port: the server's ends of
// its control connections, as the kernel sees them.
int ServerSideConnections(unsigned short port) {
    int count = 0;
    for (const char* file : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(file);
        std::string line;
        std::getline(in, line); // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            const std::size_t colon = local.rfind(':');
            if (colon != std::string::npos && state == "01" &&
                std::stoul(local.substr(colon + 1), nullptr, 16) == port)
                ++count;
        }
    }
    return count;
}

// Samples the connections to a server on a thread of its own for as long as it
// lives, and keeps the most seen at once.
class ConnectionSampler {
public:
    explicit ConnectionSampler(unsigned short port)
        : m_thread([this, port] {
              while (!m_stop) {
                  const int now = ServerSideConnections(port);
                  if (now > m_most)
                      m_most = now;
                  std::this_thread::sleep_for(std::chrono::microseconds(300));
              }
          }) {}
    ~ConnectionSampler() { Stop(); }
    int Stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_most;
    }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_most{0};
    std::thread m_thread;
};

class FtpSafety : public testing::TestWithParam<FtpServer::Kind> {
protected:
    void SetUp() override {
        server = std::make_unique<FtpServer>(GetParam());
        ASSERT_TRUE(server->IsRunning()) << server->Error().toStdString();
    }
    bool MakeDirs(const QString& rel) {
        QString path;
        for (const QString& part : rel.split(QLatin1Char('/'))) {
            path += (path.isEmpty() ? QString() : QStringLiteral("/")) + part;
            if (!server->MakeDir(path))
                return false;
        }
        return true;
    }
    bool Link(const QString& rel, const QString& target) const {
        return ::symlink(QFile::encodeName(target).constData(),
                         QFile::encodeName(server->PathOf(rel)).constData()) == 0;
    }
    bool Exists(const QString& rel) const {
        return QFileInfo::exists(server->PathOf(rel)) || QFileInfo(server->PathOf(rel)).isSymLink();
    }
    void StartApp() {
        f = StartWith(*server);
        list = f->FtpList();
        f->Boxes().Clear();
    }
    QString BoxText(int i) const { return f->Boxes().Calls().value(i).text; }

    std::unique_ptr<FtpServer> server;
    std::unique_ptr<AppFixture> f;
    CMyListView* list = nullptr;
};

TEST_P(FtpSafety, DeletingFoldersAndLinksNeverTouchesWhatTheLinksPointTo) {
    ASSERT_TRUE(MakeDirs(QStringLiteral("outside/sub")));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("outside/keep.txt"), "keep"));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("outside/sub/deep.txt"), "deep"));
    ASSERT_TRUE(MakeDirs(QStringLiteral("old/real")));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("old/real/x.txt"), "x"));
    // A link to a folder inside the deleted folder, one to a file, and one to a
    // folder chosen for the delete itself.
    ASSERT_TRUE(Link(QStringLiteral("old/current"), QStringLiteral("../outside")));
    ASSERT_TRUE(Link(QStringLiteral("old/file-link"), QStringLiteral("../outside/keep.txt")));
    ASSERT_TRUE(Link(QStringLiteral("linkdir"), QStringLiteral("outside/sub")));
    const treehash::Fingerprint before = Take(server->Root());
    StartApp();
    list->SelectRows({RowOf(list, QStringLiteral("old")), RowOf(list, QStringLiteral("linkdir"))});
    ASSERT_EQ(list->SelectedRows().size(), 2);
    list->DeleteSelected(); AwaitSpawned();
    EXPECT_EQ(f->Boxes().Captions(), QStringList{QStringLiteral("Confirm File Delete")})
        << BoxText(1).toStdString();
    EXPECT_EQ(Take(server->Root()),
              Without(Without(before, QStringLiteral("old")), QStringLiteral("linkdir")));
    EXPECT_EQ(Names(list), QStringList{QStringLiteral("outside")});
}

TEST_P(FtpSafety, AThreeLevelFolderGoesWithAtMostTwoConnections) {
    ASSERT_TRUE(MakeDirs(QStringLiteral("a/b/c")));
    for (const char* file : {"a/1", "a/b/2", "a/b/c/3", "a/b/c/4"})
        ASSERT_TRUE(server->WriteFile(QString::fromLatin1(file), "data"));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("keep"), "keep"));
    const treehash::Fingerprint before = Take(server->Root());
    StartApp();
    ConnectionSampler sampler(server->Port());
    const bool deleted = Await(list->DeleteFolderTree(list->m_path + QStringLiteral("a/")));
    const int most = sampler.Stop();
    EXPECT_TRUE(deleted);
    EXPECT_TRUE(f->Boxes().Calls().isEmpty()) << BoxText(0).toStdString();
    EXPECT_EQ(Take(server->Root()), Without(before, QStringLiteral("a")));
    // The main connection is seen (the sampler works), and no more than one other.
    EXPECT_GE(most, 1);
    EXPECT_LE(most, 2);
}

TEST_P(FtpSafety, ADeleteStopsAtSixtyFourLevelsAndSaysSo) {
    QString deep = QStringLiteral("d");
    for (int level = 1; level < 70; ++level)
        deep += QStringLiteral("/d");
    ASSERT_TRUE(MakeDirs(deep));
    ASSERT_TRUE(server->WriteFile(deep + QStringLiteral("/bottom.txt"), "bottom"));
    const treehash::Fingerprint before = Take(server->Root());
    StartApp();
    EXPECT_FALSE(Await(list->DeleteFolderTree(list->m_path + QStringLiteral("d/"))));
    ASSERT_EQ(f->Boxes().Captions(), QStringList{kErrorDeleteFolder});
    EXPECT_TRUE(BoxText(0).contains(QStringLiteral("64 levels"))) << BoxText(0).toStdString();
    EXPECT_TRUE(BoxText(0).contains(QStringLiteral("Nothing was deleted")));
    EXPECT_EQ(Take(server->Root()), before);
}

TEST_P(FtpSafety, AServerKilledInTheMiddleOfADeleteIsReportedWithWhatRemains) {
    ASSERT_TRUE(MakeDirs(QStringLiteral("big")));
    constexpr int kFiles = 1500;
    for (int i = 0; i < kFiles; ++i)
        ASSERT_TRUE(
            server->WriteFile(QStringLiteral("big/f%1").arg(i, 4, 10, QLatin1Char('0')), "x"));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("keep"), "keep"));
    StartApp();
    // The server dies as soon as the first file has gone.
    const QString folder = server->PathOf(QStringLiteral("big"));
    std::thread killer([&] {
        for (int spin = 0; spin < 200000; ++spin) {
            if (QDir(folder).entryList(QDir::Files).size() < kFiles)
                break;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        server->Kill();
    });
    const bool deleted = Await(list->DeleteFolderTree(list->m_path + QStringLiteral("big/")));
    killer.join();
    EXPECT_FALSE(deleted);
    // A connection that cannot be made again is told as lost, with what is left.
    ASSERT_EQ(f->Boxes().Captions(), QStringList{QStringLiteral("Connection Lost")});
    const int left = QDir(folder).entryList(QDir::Files).size();
    EXPECT_GT(left, 0);
    EXPECT_LT(left, kFiles);
    EXPECT_TRUE(BoxText(0).contains(QStringLiteral("remains on the server")))
        << BoxText(0).toStdString();
    EXPECT_TRUE(BoxText(0).contains(QStringLiteral("big/")));
    EXPECT_EQ(server->ReadFile(QStringLiteral("keep")), QByteArray("keep"));
    EXPECT_TRUE(f->Frame()->isEnabled());
}

TEST_P(FtpSafety, AFolderRemovedBehindTheProgramsBackShowsAnErrorAndNothingElse) {
    ASSERT_TRUE(MakeDirs(QStringLiteral("gone/inner")));
    ASSERT_TRUE(MakeDirs(QStringLiteral("other")));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("top.txt"), "top"));
    StartApp();
    CMyTreeView* tree = f->FtpTree();
    QTreeWidgetItem* gone = ChildNamed(tree->m_rootItem, QStringLiteral("gone"));
    ASSERT_NE(gone, nullptr);
    ASSERT_TRUE(QDir(server->PathOf(QStringLiteral("gone"))).removeRecursively());
    const treehash::Fingerprint before = Take(server->Root());
    // Expanding reads it for the tree, selecting reads it for the list.
    gone->setExpanded(true);
    AwaitSpawned();
    EXPECT_FALSE(Labels(gone).contains(QStringLiteral("other")));
    EXPECT_FALSE(Labels(gone).contains(QStringLiteral("inner")));
    tree->SelectItem(gone);
    AwaitSpawned();
    EXPECT_EQ(f->Boxes().Captions(), (QStringList{kErrorRead, kErrorRead}));
    EXPECT_TRUE(BoxText(0).contains(QStringLiteral("gone")));
    EXPECT_EQ(list->ItemCount(), 0);
    EXPECT_EQ(Take(server->Root()), before);
    // The folder that is there still reads.
    f->Boxes().Clear();
    tree->SelectItem(ChildNamed(tree->m_rootItem, QStringLiteral("other")));
    AwaitSpawned();
    EXPECT_TRUE(f->Boxes().Calls().isEmpty());
    tree->SelectItem(tree->m_rootItem);
    AwaitSpawned();
    EXPECT_EQ(Names(list).size(), 2);
}

// A server that takes two connections from one address: the delete of a
// three-level folder goes whole, and says nothing.
TEST(FtpSafetyVsftpd, AThreeLevelFolderDeletesWholeWhereTwoConnectionsAreAllowed) {
    FtpServer server(FtpServer::Kind::Vsftpd, FtpServer::Options{.maxPerIp = 2});
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    for (const char* dir : {"a", "a/b", "a/b/c"})
        ASSERT_TRUE(server.MakeDir(QString::fromLatin1(dir)));
    for (const char* file : {"a/1", "a/b/2", "a/b/c/3", "a/b/c/4", "keep"})
        ASSERT_TRUE(server.WriteFile(QString::fromLatin1(file), "data"));
    const treehash::Fingerprint before = Take(server.Root());
    auto f = StartWith(server);
    f->Boxes().Clear();
    CMyListView* list = f->FtpList();
    list->SelectRows({RowOf(list, QStringLiteral("a"))});
    list->DeleteSelected(); AwaitSpawned();
    EXPECT_EQ(f->Boxes().Captions(), QStringList{QStringLiteral("Confirm File Delete")})
        << f->Boxes().Calls().value(1).text.toStdString();
    EXPECT_EQ(Take(server.Root()), Without(before, QStringLiteral("a")));
    EXPECT_EQ(Names(list), QStringList{QStringLiteral("keep")});
}

TEST(FtpSafetyVsftpd, AFolderWithoutPermissionShowsAnErrorAndNothingElse) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make a folder the session user may not enter";
    FtpServer server(FtpServer::Kind::Vsftpd);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    ASSERT_TRUE(server.MakeDir(QStringLiteral("locked")));
    ASSERT_TRUE(server.WriteFile(QStringLiteral("locked/secret"), "s"));
    ASSERT_TRUE(server.MakeDir(QStringLiteral("open")));
    ASSERT_EQ(::chmod(QFile::encodeName(server.PathOf(QStringLiteral("locked"))).constData(), 0),
              0);
    const treehash::Fingerprint before = Take(server.Root());
    auto f = StartWith(server);
    f->Boxes().Clear();
    CMyTreeView* tree = f->FtpTree();
    QTreeWidgetItem* locked = ChildNamed(tree->m_rootItem, QStringLiteral("locked"));
    ASSERT_NE(locked, nullptr);
    locked->setExpanded(true);
    AwaitSpawned();
    EXPECT_FALSE(Labels(locked).contains(QStringLiteral("open")));
    tree->SelectItem(locked);
    AwaitSpawned();
    EXPECT_EQ(f->Boxes().Captions(), (QStringList{kErrorRead, kErrorRead}));
    EXPECT_EQ(f->FtpList()->ItemCount(), 0);
    EXPECT_EQ(Take(server.Root()), before);
    ::chmod(QFile::encodeName(server.PathOf(QStringLiteral("locked"))).constData(), 0755);
}

// A free port of this machine for a server started here.
unsigned short FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    unsigned short port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

TEST(FtpSafetyBrokenListing, AListingCutOffByADyingServerIsAnErrorNotAFolder) {
    const unsigned short port = FreePort();
    ASSERT_NE(port, 0);
    QProcess script;
    script.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(VELMAR_BROKEN_LISTING_SERVER), QString::number(port)});
    ASSERT_TRUE(script.waitForReadyRead(10000)) << "the scripted server did not start";
    auto f = std::make_unique<AppFixture>();
    f->SetProfile(QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("u"),
                  QStringLiteral("p"));
    ASSERT_TRUE(f->Start());
    CMyListView* list = f->FtpList();
    ASSERT_EQ(Names(list).size(), 3);
    f->Boxes().Clear();
    CMyTreeView* tree = f->FtpTree();
    QTreeWidgetItem* broken = ChildNamed(tree->m_rootItem, QStringLiteral("broken"));
    ASSERT_NE(broken, nullptr);
    tree->SelectItem(broken);
    AwaitSpawned();
    EXPECT_EQ(f->Boxes().Captions(), QStringList{QStringLiteral("Connection Lost")});
    // Neither the 200 lines that came nor the folder shown before.
    EXPECT_EQ(list->ItemCount(), 0);
    EXPECT_TRUE(f->Frame()->isEnabled());
    script.kill();
    script.waitForFinished(5000);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpSafety, testing::ValuesIn(AllServerKinds()), KindName);
} // namespace
