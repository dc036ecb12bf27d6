// The program's FTP classes against each real server of the suite: vsftpd,
// pyftpdlib, pure-ftpd and proftpd, in both data connection modes.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <gtest/gtest.h>
#include <iostream>
#include <thread>

#include "ServersTestUtil.h"

namespace {

class RealServer : public testing::TestWithParam<FtpServer::Kind> {
protected:
    void Start(FtpServer::Options options = {}) {
        m_server = std::make_unique<FtpServer>(GetParam(), options);
        ASSERT_TRUE(m_server->IsRunning()) << m_server->Error().toStdString();
        ShortTimeouts(m_session);
    }
    std::unique_ptr<CFtpConnection> Connect(bool passive = true) {
        return std::unique_ptr<CFtpConnection>(m_session.GetFtpConnection(
            m_server->Address(), m_server->User(), m_server->Password(), 0, passive));
    }

    std::unique_ptr<FtpServer> m_server;
    CInternetSession m_session;
};

std::string Name(const testing::TestParamInfo<FtpServer::Kind>& info) {
    return FtpServer::KindName(info.param);
}

TEST_P(RealServer, TransfersAreByteIdenticalInBothModes) {
    ASSERT_NO_FATAL_FAILURE(Start());
    // Sizes where block and buffer edges fall: empty, one byte, odd, several MiB.
    const qsizetype sizes[] = {0, 1, 65537, 3 * 1024 * 1024 + 11};
    for (const bool passive : {false, true}) {
        auto c = Connect(passive);
        for (const qsizetype size : sizes) {
            SCOPED_TRACE(testing::Message() << "passive " << passive << " size " << size);
            const QByteArray data = RandomBytes(size, unsigned(size) + passive);
            const QString name = QStringLiteral("/f%1-%2.bin").arg(size).arg(passive);
            ASSERT_NO_THROW(Upload(*c, name, data));
            EXPECT_EQ(m_server->ReadFile(name.mid(1)), data);
            QByteArray back;
            ASSERT_NO_THROW(back = Download(*c, name));
            EXPECT_EQ(back.size(), data.size());
            EXPECT_TRUE(back == data);
        }
    }
}

TEST_P(RealServer, ListsMakesRenamesAndDeletes) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(m_server->MakeDir(QStringLiteral("old")));
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("old/keep.txt"), "keep me"));
    auto c = Connect();
    QString dir;
    ASSERT_TRUE(c->GetCurrentDirectory(dir));
    EXPECT_EQ(dir, QStringLiteral("/"));

    ASSERT_TRUE(c->CreateDirectory(QStringLiteral("/made")));
    EXPECT_TRUE(QFileInfo(m_server->PathOf(QStringLiteral("made"))).isDir());
    EXPECT_FALSE(c->CreateDirectory(QStringLiteral("/made"))); // already there
    ASSERT_NO_THROW(Upload(*c, QStringLiteral("/made/a.txt"), "alpha"));

    const std::vector<FtpListEntry> root = ListEntries(*c, QStringLiteral("/*.*"));
    ASSERT_NE(FindEntry(root, QStringLiteral("made")), nullptr);
    EXPECT_TRUE(FindEntry(root, QStringLiteral("made"))->isFolder);
    ASSERT_NE(FindEntry(root, QStringLiteral("old")), nullptr);
    const std::vector<FtpListEntry> made = ListEntries(*c, QStringLiteral("/made/*.*"));
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].name, QStringLiteral("a.txt"));
    EXPECT_EQ(made[0].size, 5u);
    EXPECT_FALSE(made[0].isFolder);

    ASSERT_TRUE(c->Rename(QStringLiteral("/made/a.txt"), QStringLiteral("/made/b.txt")));
    ASSERT_TRUE(c->Rename(QStringLiteral("/made"), QStringLiteral("/renamed")));
    EXPECT_EQ(m_server->ReadFile(QStringLiteral("renamed/b.txt")), QByteArray("alpha"));
    EXPECT_FALSE(c->Rename(QStringLiteral("/nothing"), QStringLiteral("/x")));

    // A folder that still holds a file is refused and left whole.
    EXPECT_FALSE(c->RemoveDirectory(QStringLiteral("/renamed")));
    EXPECT_EQ(m_server->ReadFile(QStringLiteral("renamed/b.txt")), QByteArray("alpha"));
    ASSERT_TRUE(c->Remove(QStringLiteral("/renamed/b.txt")));
    ASSERT_TRUE(c->RemoveDirectory(QStringLiteral("/renamed")));
    EXPECT_FALSE(QFileInfo::exists(m_server->PathOf(QStringLiteral("renamed"))));
    EXPECT_FALSE(c->Remove(QStringLiteral("/renamed/b.txt")));
    EXPECT_EQ(m_server->ReadFile(QStringLiteral("old/keep.txt")), QByteArray("keep me"));
}

// Links as each server lists them: the entry is delivered under its own name and
// marked as a link; the file behind a link downloads whole, and the folder
// behind a link can be entered.
TEST_P(RealServer, LinksToAFolderAndToAFile) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const QByteArray content = RandomBytes(1234, 7);
    ASSERT_TRUE(m_server->MakeDir(QStringLiteral("sub")));
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("sub/inner.txt"), "inside"));
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("target.bin"), content));
    ASSERT_TRUE(
        QFile::link(QStringLiteral("sub"), m_server->PathOf(QStringLiteral("link-to-dir"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("target.bin"),
                            m_server->PathOf(QStringLiteral("link-to-file"))));
    auto c = Connect();
    bool failed = true;
    const std::vector<FtpListEntry> root = ListEntries(*c, QStringLiteral("/*.*"), &failed);
    ASSERT_FALSE(failed);
    const FtpListEntry* toDir = FindEntry(root, QStringLiteral("link-to-dir"));
    const FtpListEntry* toFile = FindEntry(root, QStringLiteral("link-to-file"));
    ASSERT_NE(toDir, nullptr);
    ASSERT_NE(toFile, nullptr);
    std::cout << "[ links ] " << FtpServer::KindName(GetParam()) << ": link-to-dir link "
              << toDir->isLink << " folder " << toDir->isFolder << " size " << toDir->size
              << "; link-to-file link " << toFile->isLink << " folder " << toFile->isFolder
              << " size " << toFile->size << std::endl;
    // pyftpdlib's MLSD gives what a link points to; vsftpd (LIST), pure-ftpd and
    // proftpd (MLSD) give the link itself.
    const bool listsLinks = GetParam() != FtpServer::Kind::Pyftpdlib;
    EXPECT_EQ(toDir->isLink, listsLinks);
    EXPECT_EQ(toFile->isLink, listsLinks);
    EXPECT_FALSE(toFile->isFolder);

    QByteArray got;
    ASSERT_NO_THROW(got = Download(*c, QStringLiteral("/link-to-file")));
    EXPECT_TRUE(got == content) << got.size() << " bytes";
    ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("/link-to-dir")));
    const std::vector<FtpListEntry> inside = ListEntries(*c, QString());
    ASSERT_EQ(inside.size(), 1u);
    EXPECT_EQ(inside[0].name, QStringLiteral("inner.txt"));
}

// With maxPerIp set, the server turns away one connection too many, and takes
// a new one again once an earlier one has gone.
TEST_P(RealServer, LimitsConnectionsPerAddress) {
    FtpServer::Options options;
    options.maxPerIp = 2;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    auto first = Connect();
    auto second = Connect();
    QString dir;
    ASSERT_TRUE(first->GetCurrentDirectory(dir));
    ASSERT_TRUE(second->GetCurrentDirectory(dir));
    EXPECT_THROW(Connect(), CInternetException);
    EXPECT_TRUE(first->GetCurrentDirectory(dir)); // the refusal harmed no session
    second.reset();
    // The server notices the end of a session a moment later.
    std::unique_ptr<CFtpConnection> third;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!third && std::chrono::steady_clock::now() < deadline) {
        try {
            third = Connect();
        } catch (const CInternetException&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
    ASSERT_TRUE(third);
    EXPECT_TRUE(third->GetCurrentDirectory(dir));
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServer, testing::ValuesIn(kAllServers), Name);

} // namespace
