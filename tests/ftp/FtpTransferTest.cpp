// Files moved through CInternetFile against real servers: byte-identical round
// trips, active mode and the fallback to passive, and transfers that break.
#include <QFile>
#include <chrono>
#include <thread>

#include "FtpControl.h"
#include "FtpTestUtil.h"

namespace {

class FtpTransfer : public ServerTest {
protected:
    // Uploads in the callers' 1000-byte blocks.
    void Upload(CFtpConnection& c, const QString& path, const QByteArray& data) {
        std::unique_ptr<CInternetFile> f(c.OpenFile(path, GENERIC_WRITE));
        for (qsizetype pos = 0; pos < data.size(); pos += 1000)
            f->Write(data.constData() + pos,
                     unsigned(std::min<qsizetype>(1000, data.size() - pos)));
        f->Close();
        EXPECT_EQ(f->BytesTransferred(), std::uint64_t(data.size()));
    }

    static QByteArray Download(CFtpConnection& c, const QString& path, unsigned block) {
        std::unique_ptr<CInternetFile> f(c.OpenFile(path, GENERIC_READ));
        QByteArray data;
        std::vector<char> buffer(block);
        for (;;) {
            const unsigned n = f->Read(buffer.data(), block);
            if (n == 0)
                break;
            data.append(buffer.data(), n);
        }
        f->Close();
        return data;
    }
};

TEST_P(FtpTransfer, RoundTripIsByteIdenticalInActiveMode) {
    const QByteArray data = RandomBytes(5 * 1024 * 1024 + 777, 1);
    auto c = Connect();
    Upload(*c, QStringLiteral("/random.bin"), data);
    EXPECT_FALSE(c->IsPassive()); // the server accepted PORT
    EXPECT_EQ(m_server->ReadFile(QStringLiteral("random.bin")), data);
    EXPECT_EQ(Download(*c, QStringLiteral("/random.bin"), 1000), data);
    EXPECT_EQ(Download(*c, QStringLiteral("/random.bin"), 1 << 20),
              data); // straight into a large buffer
    EXPECT_FALSE(c->IsPassive());
}

TEST_P(FtpTransfer, EmptyFileAndOverwrite) {
    auto c = Connect();
    Upload(*c, QStringLiteral("/f.bin"), RandomBytes(3000, 2));
    Upload(*c, QStringLiteral("/f.bin"), QByteArray());
    EXPECT_TRUE(m_server->ReadFile(QStringLiteral("f.bin")).isEmpty());
    EXPECT_TRUE(Download(*c, QStringLiteral("/f.bin"), 1000).isEmpty());
}

TEST_P(FtpTransfer, RefusedActiveModeFallsBackToPassiveForGood) {
    if (Is(FtpServer::Kind::PureFtpd))
        GTEST_SKIP() << "the pure-ftpd test server cannot refuse active mode";
    StartServer(FtpServer::Options{.refuseActive = true});
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("in.bin"), RandomBytes(300000, 3)));
    auto c = Connect();
    EXPECT_FALSE(c->IsPassive());
    EXPECT_EQ(Names(List(*c, QString())), std::set<QString>{QStringLiteral("in.bin")});
    EXPECT_TRUE(c->IsPassive());
    EXPECT_EQ(Download(*c, QStringLiteral("/in.bin"), 1000),
              m_server->ReadFile(QStringLiteral("in.bin")));
    const QByteArray up = RandomBytes(200000, 4);
    Upload(*c, QStringLiteral("/up.bin"), up);
    EXPECT_EQ(m_server->ReadFile(QStringLiteral("up.bin")), up);
}

TEST_P(FtpTransfer, PassiveFromTheStart) {
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("p.bin"), RandomBytes(100000, 5)));
    std::unique_ptr<CFtpConnection> c(m_session.GetFtpConnection(
        m_server->Address(), m_server->User(), m_server->Password(), 0, true));
    EXPECT_TRUE(c->IsPassive());
    EXPECT_EQ(Download(*c, QStringLiteral("/p.bin"), 4096),
              m_server->ReadFile(QStringLiteral("p.bin")));
}

TEST_P(FtpTransfer, MissingFileThrowsAndTheConnectionStaysUsable) {
    auto c = Connect();
    try {
        delete c->OpenFile(QStringLiteral("/no such file"), GENERIC_READ);
        FAIL() << "a missing file was opened";
    } catch (const CInternetException& e) {
        EXPECT_EQ(e.m_dwError, ERROR_INTERNET_EXTENDED_ERROR);
    }
    EXPECT_THROW(delete c->OpenFile(QStringLiteral("/no dir/file"), GENERIC_WRITE),
                 CInternetException);
    QString dir;
    EXPECT_TRUE(c->GetCurrentDirectory(dir));
    Upload(*c, QStringLiteral("/ok.bin"), "fine");
    EXPECT_EQ(m_server->ReadFile(QStringLiteral("ok.bin")), QByteArray("fine"));
}

TEST_P(FtpTransfer, OneOpenFileOrListingPerConnection) {
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("a.bin"), RandomBytes(2000000, 6)));
    auto c = Connect();
    std::unique_ptr<CInternetFile> f(c->OpenFile(QStringLiteral("/a.bin")));
    try {
        delete c->OpenFile(QStringLiteral("/a.bin"));
        FAIL() << "a second file was opened";
    } catch (const CInternetException& e) {
        EXPECT_EQ(e.m_dwError, ERROR_FTP_TRANSFER_IN_PROGRESS);
    }
    CFtpFileFind find(c.get());
    EXPECT_FALSE(find.FindFile());
    EXPECT_FALSE(c->CreateDirectory(QStringLiteral("/x")));
    f->Close();
    EXPECT_TRUE(find.FindFile());
}

TEST_P(FtpTransfer, ClosingADownloadEarlyLeavesTheConnectionUsable) {
    const QByteArray big = RandomBytes(16 * 1024 * 1024, 7);
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("big.bin"), big));
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("small.txt"), "small"));
    auto c = Connect();
    for (int round = 0; round < 3; ++round) {
        std::unique_ptr<CInternetFile> f(c->OpenFile(QStringLiteral("/big.bin")));
        char buffer[1000];
        for (int i = 0; i < 100; ++i)
            ASSERT_GT(f->Read(buffer, sizeof buffer), 0u);
        EXPECT_NO_THROW(f->Close());
        EXPECT_NO_THROW(f->Close()); // twice is harmless
    }
    EXPECT_EQ(Download(*c, QStringLiteral("/small.txt"), 1000), QByteArray("small"));
    EXPECT_EQ(Names(List(*c, QString())),
              (std::set<QString>{QStringLiteral("big.bin"), QStringLiteral("small.txt")}));
    // Dropping the file without Close is the same.
    delete c->OpenFile(QStringLiteral("/big.bin"));
    EXPECT_EQ(Download(*c, QStringLiteral("/small.txt"), 1000), QByteArray("small"));
    // A real server's answers to the abort add up: no fresh login was needed.
    EXPECT_EQ(c->Control().Reconnects(), 0);
}

TEST_P(FtpTransfer, ReadingExactlyTheLengthThenClosingSucceeds) {
    const QByteArray data = RandomBytes(250000, 8);
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("exact.bin"), data));
    auto c = Connect();
    std::unique_ptr<CInternetFile> f(c->OpenFile(QStringLiteral("/exact.bin")));
    QByteArray got(data.size(), Qt::Uninitialized);
    qsizetype pos = 0;
    while (pos < got.size())
        pos += f->Read(got.data() + pos, unsigned(std::min<qsizetype>(1000, got.size() - pos)));
    EXPECT_NO_THROW(f->Close());
    EXPECT_EQ(got, data);
    QString dir;
    EXPECT_TRUE(c->GetCurrentDirectory(dir));
}

TEST_P(FtpTransfer, ServerKilledMidDownloadIsAnError) {
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("huge.bin"), RandomBytes(48 * 1024 * 1024, 9)));
    auto c = Connect();
    std::unique_ptr<CInternetFile> f(c->OpenFile(QStringLiteral("/huge.bin")));
    char buffer[1000];
    ASSERT_GT(f->Read(buffer, sizeof buffer), 0u);
    m_server->Kill();
    bool thrown = false;
    std::uint64_t total = 0;
    try {
        for (;;) {
            const unsigned n = f->Read(buffer, sizeof buffer);
            if (n == 0)
                break;
            total += n;
        }
        f->Close();
    } catch (const CInternetException& e) {
        thrown = true;
    }
    EXPECT_TRUE(thrown) << "a cut download was reported complete after " << total << " bytes";
    EXPECT_LT(total, 48u * 1024 * 1024);
    // The connection is gone, and says so: the one fresh login finds no server.
    QString dir;
    EXPECT_THROW(c->GetCurrentDirectory(dir), CInternetException);
    EXPECT_FALSE(c->Control().WillRedial());
}

TEST_P(FtpTransfer, ServerKilledMidUploadIsAnError) {
    auto c = Connect();
    std::unique_ptr<CInternetFile> f(c->OpenFile(QStringLiteral("/up.bin"), GENERIC_WRITE));
    const QByteArray block = RandomBytes(1000, 10);
    f->Write(block.constData(), 1000);
    m_server->Kill();
    bool thrown = false;
    try {
        for (int i = 0; i < 100000; ++i)
            f->Write(block.constData(), 1000);
        f->Close();
    } catch (const CInternetException&) {
        thrown = true;
    }
    EXPECT_TRUE(thrown);
}

// A server behind a firewall: PORT is accepted, the connection never comes.
class FtpBlackholedActive : public FtpTransfer {};

TEST_P(FtpBlackholedActive, GivesUpOnActiveAndStaysInStepInPassive) {
    StartServer(FtpServer::Options{.blackholeActive = true});
    m_session.m_timeouts.activeAcceptMs = 500;
    const QByteArray data = RandomBytes(150000, 11);
    ASSERT_TRUE(m_server->WriteFile(QStringLiteral("in.bin"), data));
    auto c = Connect();
    EXPECT_EQ(Names(List(*c, QStringLiteral("/*.*"))), std::set<QString>{QStringLiteral("in.bin")});
    EXPECT_TRUE(c->IsPassive());
    EXPECT_EQ(Download(*c, QStringLiteral("/in.bin"), 1000), data);
    // A new connection starts in active mode again and falls back on a download.
    auto d = Connect();
    EXPECT_FALSE(d->IsPassive());
    EXPECT_EQ(Download(*d, QStringLiteral("/in.bin"), 1000), data);
    EXPECT_TRUE(d->IsPassive());
    QString dir;
    EXPECT_TRUE(d->GetCurrentDirectory(dir));
    EXPECT_EQ(dir, QStringLiteral("/"));
}

INSTANTIATE_TEST_SUITE_P(Pyftpdlib, FtpBlackholedActive,
                         testing::Values(kServerSetups[1], kServerSetups[2]), SetupName);

INSTANTIATE_TEST_SUITE_P(Servers, FtpTransfer, testing::ValuesIn(kServerSetups), SetupName);

} // namespace
