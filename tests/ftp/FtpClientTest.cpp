// The FTP client classes against real vsftpd and pyftpdlib servers: logins,
// listings, finds and the changes to the server's tree.
#include <QDir>
#include <QFileInfo>
#include <atomic>
#include <chrono>
#include <thread>

#include "FtpTestUtil.h"

namespace {

class FtpClient : public ServerTest {};

TEST_P(FtpClient, LogsInAndStandsInTheRoot) {
    auto c = Connect();
    QString dir;
    ASSERT_TRUE(c->GetCurrentDirectory(dir));
    EXPECT_EQ(dir, QStringLiteral("/"));
    EXPECT_EQ(c->GetServerName(), QStringLiteral("127.0.0.1"));
}

TEST_P(FtpClient, EmptyUserLogsInAnonymously) {
    if (!ServesAnonymous())
        GTEST_SKIP() << "this test server has no anonymous account";
    std::unique_ptr<CFtpConnection> c(m_session.GetFtpConnection(m_server->Address()));
    QString dir;
    EXPECT_TRUE(c->GetCurrentDirectory(dir));
}

TEST_P(FtpClient, RefusedLoginThrowsLoginFailure) {
    try {
        std::unique_ptr<CFtpConnection> c(m_session.GetFtpConnection(
            m_server->Address(), m_server->BadUser(), m_server->BadPassword()));
        FAIL() << "the login was accepted";
    } catch (const CInternetException& e) {
        EXPECT_EQ(e.m_dwError, ERROR_INTERNET_LOGIN_FAILURE);
        EXPECT_FALSE(e.Message().isEmpty());
    }
}

TEST_P(FtpClient, PortArgumentIsUsedWhenTheAddressHasNone) {
    std::unique_ptr<CFtpConnection> c(m_session.GetFtpConnection(
        m_server->Host(), m_server->User(), m_server->Password(), m_server->Port()));
    QString dir;
    EXPECT_TRUE(c->GetCurrentDirectory(dir));
}

TEST_P(FtpClient, EmptyFolderFindsNothing) {
    ASSERT_TRUE(m_server->MakeDir(QStringLiteral("empty")));
    auto c = Connect();
    EXPECT_TRUE(Names(List(*c, QStringLiteral("/empty/*.*"))).empty());
    ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("/empty")));
    EXPECT_TRUE(Names(List(*c, QString())).empty());
    CFtpFileFind find(c.get());
    bool more = find.FindFile();
    while (more) { // only "." and ".." may be listed
        more = find.FindNextFile();
        EXPECT_TRUE(find.GetFileName() == QLatin1String(".") ||
                    find.GetFileName() == QLatin1String(".."));
    }
}

TEST_P(FtpClient, FolderWithOneFileHasExactlyOneEntry) {
    ASSERT_TRUE(m_server->MakeDir(QStringLiteral("one")));
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("one/only.bin"), QByteArray(1234, 'x')));
    auto c = Connect();
    CFtpFileFind find(c.get());
    ASSERT_TRUE(find.FindFile(QStringLiteral("/one/*.*")));
    std::vector<QString> names;
    bool more = true;
    while (more) {
        more = find.FindNextFile();
        if (!find.GetFileName().startsWith(QLatin1Char('.'))) {
            names.push_back(find.GetFileName());
            EXPECT_EQ(find.GetLength(), 1234u);
            EXPECT_FALSE(find.IsDirectory());
            std::int64_t t = 0;
            ASSERT_TRUE(find.GetLastWriteTime(t));
            const std::int64_t mtime = QFileInfo(m_server->PathOf(QStringLiteral("one/only.bin")))
                                           .lastModified()
                                           .toSecsSinceEpoch();
            EXPECT_LE(std::abs(t - mtime), 60); // LIST gives minutes only
        }
    }
    EXPECT_EQ(names, std::vector<QString>{QStringLiteral("only.bin")});
    // The last entry stays current after FindNextFile said so.
    EXPECT_FALSE(find.FindNextFile());
    EXPECT_FALSE(find.GetFileName().isEmpty());
}

TEST_P(FtpClient, FolderEntryCarriesFlagAndServerSize) {
    ASSERT_TRUE(m_server->MakeDir(QStringLiteral("parent/child")));
    auto c = Connect();
    const auto entries = List(*c, QStringLiteral("/parent/*.*"));
    const auto it = std::find_if(entries.begin(), entries.end(), [](const FtpListEntry& e) {
        return e.name == QLatin1String("child");
    });
    ASSERT_NE(it, entries.end());
    EXPECT_TRUE(it->isFolder);
    // proftpd's MLSD gives a folder no size fact.
    const std::uint64_t size =
        Is(FtpServer::Kind::Proftpd)
            ? 0
            : std::uint64_t(QFileInfo(m_server->PathOf(QStringLiteral("parent/child"))).size());
    EXPECT_EQ(it->size, size);
}

TEST_P(FtpClient, ListingTwiceGivesTheSameListing) {
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(m_server->WriteFile(QStringLiteral("f%1").arg(i), QByteArray(i, 'a')));
    auto c = Connect();
    const auto first = List(*c, QString());
    const auto second = List(*c, QString());
    ASSERT_EQ(first.size(), second.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].name, second[i].name);
        EXPECT_EQ(first[i].size, second[i].size);
    }
    EXPECT_EQ(Names(first).size(), 5u);
}

TEST_P(FtpClient, NamesWithSpacesUnicodeAndLeadingDot) {
    const QStringList names = {QStringLiteral("with space.txt"), QStringLiteral("two  spaces"),
                               QStringLiteral("Grüße ñ 日本.txt"), QStringLiteral(".hidden"),
                               QStringLiteral(".config dir")};
    for (const QString& n : names)
        ASSERT_TRUE(n.endsWith(QLatin1String("dir")) ? m_server->MakeDir(n)
                                                     : m_server->WriteFile(n, n.toUtf8()));
    auto c = Connect();
    const auto entries = List(*c, QStringLiteral("/*.*"));
    EXPECT_EQ(Names(entries), std::set<QString>(names.begin(), names.end()));
    // Each name works as a path too.
    for (const QString& n : names) {
        CFtpFileFind find(c.get());
        ASSERT_TRUE(find.FindFile(QLatin1Char('/') + n)) << n.toStdString();
        find.FindNextFile();
        EXPECT_EQ(find.GetFileName(), n);
        EXPECT_EQ(find.IsDirectory(), n.endsWith(QLatin1String("dir")));
    }
}

TEST_P(FtpClient, TenThousandEntries) {
    if (Is(FtpServer::Kind::PureFtpd))
        GTEST_SKIP() << "pure-ftpd lists at most 10000 entries, \".\" and \"..\" among them";
    ASSERT_TRUE(m_server->MakeDir(QStringLiteral("many")));
    std::set<QString> expected;
    for (int i = 0; i < 10000; ++i) {
        const QString name = QStringLiteral("entry-%1.dat").arg(i, 5, 10, QLatin1Char('0'));
        ASSERT_TRUE(m_server->WriteFile(QStringLiteral("many/") + name, QByteArray()));
        expected.insert(name);
    }
    auto c = Connect();
    EXPECT_EQ(Names(List(*c, QStringLiteral("/many/*.*"))), expected);
    ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("/many")));
    EXPECT_EQ(Names(List(*c, QStringLiteral("*.*"))).size(), 10000u);
}

TEST_P(FtpClient, FindOfAFileGivesItsSize) {
    ASSERT_TRUE(m_server->MakeDir(QStringLiteral("d")));
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("d/file.bin"), QByteArray(4321, 'z')));
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("top.bin"), QByteArray(7, 'z')));
    auto c = Connect();
    CFtpFileFind find(c.get());
    ASSERT_TRUE(find.FindFile(QStringLiteral("/d/file.bin")));
    EXPECT_FALSE(find.FindNextFile());
    EXPECT_EQ(find.GetFileName(), QStringLiteral("file.bin"));
    EXPECT_EQ(find.GetLength(), 4321u);
    EXPECT_FALSE(find.IsDirectory());
    // Relative to the current directory.
    ASSERT_TRUE(find.FindFile(QStringLiteral("top.bin")));
    find.FindNextFile();
    EXPECT_EQ(find.GetLength(), 7u);
    EXPECT_FALSE(find.FindFile(QStringLiteral("/d/missing.bin")));
    EXPECT_FALSE(find.FindFile(QStringLiteral("/nowhere/file.bin")));
}

TEST_P(FtpClient, FindOfAFolderGivesItsOwnEntry) {
    ASSERT_TRUE(m_server->MakeDir(QStringLiteral("a/b")));
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("a/b/inside"), QByteArray(3, 'q')));
    auto c = Connect();
    for (const QString& path : {QStringLiteral("/a/b"), QStringLiteral("/a/b/")}) {
        CFtpFileFind find(c.get());
        ASSERT_TRUE(find.FindFile(path)) << path.toStdString();
        EXPECT_FALSE(find.FindNextFile());
        EXPECT_EQ(find.GetFileName(), QStringLiteral("b"));
        EXPECT_TRUE(find.IsDirectory());
        EXPECT_EQ(find.Entries().size(), 1u);
    }
}

TEST_P(FtpClient, CurrentDirectory) {
    ASSERT_TRUE(m_server->MakeDir(QStringLiteral("sub dir/deeper")));
    auto c = Connect();
    QString dir;
    ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("/sub dir/deeper")));
    ASSERT_TRUE(c->GetCurrentDirectory(dir));
    EXPECT_EQ(dir, QStringLiteral("/sub dir/deeper"));
    EXPECT_FALSE(c->SetCurrentDirectory(QStringLiteral("/does-not-exist")));
    ASSERT_TRUE(c->GetCurrentDirectory(dir));
    EXPECT_EQ(dir, QStringLiteral("/sub dir/deeper"));
    EXPECT_FALSE(c->SetCurrentDirectory(QStringLiteral("/x\r\nDELE y")));
}

TEST_P(FtpClient, TreeChangesSucceedOrReportRefusal) {
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("file.txt"), "abc"));
    auto c = Connect();
    EXPECT_TRUE(c->CreateDirectory(QStringLiteral("/new folder")));
    EXPECT_TRUE(QFileInfo(m_server->PathOf(QStringLiteral("new folder"))).isDir());
    EXPECT_FALSE(c->CreateDirectory(QStringLiteral("/new folder")));    // exists
    EXPECT_FALSE(c->CreateDirectory(QStringLiteral("/missing/child"))); // no parent
    EXPECT_TRUE(c->Rename(QStringLiteral("/file.txt"), QStringLiteral("/new folder/renamed.txt")));
    EXPECT_EQ(m_server->ReadFile(QStringLiteral("new folder/renamed.txt")), QByteArray("abc"));
    EXPECT_FALSE(c->Rename(QStringLiteral("/file.txt"), QStringLiteral("/again.txt")));
    EXPECT_FALSE(c->RemoveDirectory(QStringLiteral("/new folder"))); // not empty
    EXPECT_TRUE(c->Remove(QStringLiteral("/new folder/renamed.txt")));
    EXPECT_FALSE(c->Remove(QStringLiteral("/new folder/renamed.txt")));
    EXPECT_TRUE(c->RemoveDirectory(QStringLiteral("/new folder")));
    EXPECT_FALSE(c->RemoveDirectory(QStringLiteral("/new folder")));
    EXPECT_FALSE(QFileInfo::exists(m_server->PathOf(QStringLiteral("new folder"))));
    // A new folder's own entry, as the callers read its time.
    EXPECT_TRUE(c->CreateDirectory(QStringLiteral("/stamped")));
    CFtpFileFind find(c.get());
    ASSERT_TRUE(find.FindFile(QStringLiteral("/stamped")));
    find.FindNextFile();
    std::int64_t t = 0;
    ASSERT_TRUE(find.GetLastWriteTime(t));
    EXPECT_LE(std::abs(t - QDateTime::currentSecsSinceEpoch()), 120);
}

TEST_P(FtpClient, ConnectionsFromWorkerThreadsAtOnce) {
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            try {
                auto c = Connect();
                QString dir;
                if (c->GetCurrentDirectory(dir) && dir == QLatin1String("/"))
                    ++ok;
            } catch (const CInternetException&) {
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(ok.load(), 4);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpClient, testing::ValuesIn(kServerSetups), SetupName);

TEST(FtpConnect, ClosedPortThrowsCannotConnect) {
    const unsigned short port = [] {
        FtpServer probe(FtpServer::Kind::Silent);
        return probe.Port(); // free again once the probe is gone
    }();
    CInternetSession session;
    try {
        delete session.GetFtpConnection(QStringLiteral("127.0.0.1:%1").arg(port));
        FAIL() << "connected to a closed port";
    } catch (const CInternetException& e) {
        EXPECT_EQ(e.m_dwError, ERROR_INTERNET_CANNOT_CONNECT);
    }
}

TEST(FtpConnect, MalformedAddressThrows) {
    CInternetSession session;
    EXPECT_THROW(delete session.GetFtpConnection(QStringLiteral("host:notaport")),
                 CInternetException);
}

TEST(FtpConnect, SilentServerGivesUpWithinTheTimeouts) {
    FtpServer silent(FtpServer::Kind::Silent);
    ASSERT_TRUE(silent.IsRunning()) << silent.Error().toStdString();
    CInternetSession session;
    session.m_timeouts.connectMs = 1000;
    session.m_timeouts.replyMs = 1000;
    const auto start = std::chrono::steady_clock::now();
    try {
        delete session.GetFtpConnection(silent.Address());
        FAIL() << "a server that never greets was accepted";
    } catch (const CInternetException& e) {
        EXPECT_EQ(e.m_dwError, ERROR_INTERNET_TIMEOUT);
    }
    // A hang would take the reply time-out's default of 30 s or forever.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

} // namespace
