// Explicit FTPS against real vsftpd (session reuse required) and pyftpdlib,
// implicit FTPS against vsftpd, and the address forms against TLS and plain servers.
#include <QElapsedTimer>
#include <QFile>

#include "TlsTestUtil.h"

namespace {

class TlsFtp : public TlsSessionTest, public testing::WithParamInterface<TlsServer::Kind> {
protected:
    void SetUp() override {
        TlsSessionTest::SetUp();
        m_server = std::make_unique<TlsServer>(
            GetParam(), TestCertificates::Make(TestCertificates::Kind::Trusted));
        ASSERT_TRUE(m_server->IsRunning()) << m_server->Error().toStdString();
    }
    std::unique_ptr<TlsServer> m_server;
};

std::string KindName(const testing::TestParamInfo<TlsServer::Kind>& info) {
    return info.param == TlsServer::Kind::Vsftpd ? "vsftpd" : "pyftpdlib";
}

TEST_P(TlsFtp, BareHostAndFtpsLogInEncryptedAndList) {
    ASSERT_TRUE(m_server->WriteFile("a.txt", "alpha"));
    ASSERT_TRUE(m_server->MakeDir("sub"));
    for (const QString& address :
         {m_server->Address(), "ftps://" + m_server->Address(),
          "FTPS://" + m_server->Address() + "/", "ftpes://" + m_server->Address()}) {
        SCOPED_TRACE(address.toStdString());
        auto c = Connect(*m_server, address);
        EXPECT_TRUE(c->IsEncrypted());
        EXPECT_EQ(Names(*c), (std::vector<QString>{"a.txt", "sub"}));
        QString dir;
        EXPECT_TRUE(c->GetCurrentDirectory(dir));
        EXPECT_EQ(dir, "/");
    }
    // A certificate that the trust store vouches for asks nothing.
    EXPECT_TRUE(m_questions.empty());
}

TEST_P(TlsFtp, RoundTripsAreByteIdenticalPassiveAndActive) {
    // Sizes around the data channel's buffer and TLS's 16 KiB records.
    const std::vector<qsizetype> sizes = {0, 1, 16384, 16385, 256 * 1024 + 3, 3 * 1024 * 1024 + 11};
    for (const bool passive : {true, false}) {
        auto c = Connect(*m_server, m_server->Address(), passive);
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "passive " << passive << " size " << sizes[i]);
            const QByteArray data = Random(sizes[i]);
            const QString name = QStringLiteral("/f%1.bin").arg(i);
            Upload(*c, name, data, i % 2 ? 1000 : 1 << 20);
            EXPECT_EQ(m_server->ReadFile(name.mid(1)), data);
            EXPECT_EQ(Download(*c, name, i % 2 ? 1 << 20 : 1000), data);
        }
        // Active mode held: the server connected back over TLS every time.
        EXPECT_EQ(c->IsPassive(), passive);
        EXPECT_TRUE(c->IsEncrypted());
    }
}

TEST_P(TlsFtp, ManyDataConnectionsResumeTheControlSession) {
    // vsftpd refuses any data connection that does not resume the session
    // (require_ssl_reuse); both servers must keep serving, listing after transfer.
    auto c = Connect(*m_server, m_server->Address());
    for (int i = 0; i < 12; ++i) {
        const QByteArray data = Random(5000 + i);
        Upload(*c, QStringLiteral("/r%1").arg(i), data, 4096);
        ASSERT_EQ(Download(*c, QStringLiteral("/r%1").arg(i), 4096), data) << i;
        ASSERT_EQ(Names(*c).size(), std::size_t(i + 1));
    }
    // A second connection of the same session does the same.
    auto other = Connect(*m_server, m_server->Address());
    EXPECT_EQ(Names(*other).size(), 12u);
}

TEST_P(TlsFtp, FtpSchemeNeverTriesTls) {
    if (GetParam() == TlsServer::Kind::Vsftpd) {
        // vsftpd demands TLS before the password: the login is refused.
        const CInternetException e = ConnectError(*m_server, "ftp://" + m_server->Address());
        EXPECT_EQ(e.m_dwError, ERROR_INTERNET_LOGIN_FAILURE) << e.what();
    } else {
        const CInternetException e = ConnectError(*m_server, "ftp://" + m_server->Address());
        EXPECT_NE(e.m_dwError, 0);
        EXPECT_FALSE(m_server->Commands().contains("AUTH"));
        EXPECT_FALSE(m_server->Commands().contains("PASS"));
    }
}

TEST_P(TlsFtp, AnEarlyCloseOfADownloadKeepsTheConnection) {
    ASSERT_TRUE(m_server->WriteFile("big.bin", Random(8 * 1024 * 1024)));
    ASSERT_TRUE(m_server->WriteFile("small.txt", "small"));
    auto c = Connect(*m_server, m_server->Address());
    {
        std::unique_ptr<CInternetFile> f(c->OpenFile("/big.bin"));
        char buffer[4096];
        EXPECT_EQ(f->Read(buffer, sizeof buffer), sizeof buffer);
        f->Close();
    }
    EXPECT_EQ(Download(*c, "/small.txt", 100), QByteArray("small"));
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsFtp,
                         testing::Values(TlsServer::Kind::Vsftpd, TlsServer::Kind::Pyftpdlib),
                         KindName);

// "ftps://host:990": TLS from the first byte, against vsftpd with implicit_ssl.
TEST_F(TlsSessionTest, ImplicitFtpsBrowsesAndCopiesByteIdentical) {
    TlsServer server(TlsServer::Kind::VsftpdImplicit,
                     TestCertificates::Make(TestCertificates::Kind::Trusted));
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    ASSERT_TRUE(server.MakeDir("sub"));
    const std::vector<qsizetype> sizes = {0, 16385, 3 * 1024 * 1024 + 11};
    for (const bool passive : {true, false}) {
        auto c = Connect(server, "ftps://" + server.Address(), passive);
        EXPECT_TRUE(c->IsEncrypted());
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "passive " << passive << " size " << sizes[i]);
            const QByteArray data = Random(sizes[i]);
            const QString name = QStringLiteral("/sub/f%1.bin").arg(i);
            Upload(*c, name, data, 1 << 20);
            EXPECT_EQ(server.ReadFile(name.mid(1)), data);
            EXPECT_EQ(Download(*c, name, 1000), data);
        }
        // Every data connection resumed the control's session (require_ssl_reuse).
        EXPECT_EQ(Names(*c), std::vector<QString>{"sub"});
        EXPECT_TRUE(c->SetCurrentDirectory("/sub"));
        EXPECT_EQ(Names(*c).size(), sizes.size());
        EXPECT_EQ(c->IsPassive(), passive);
    }
    EXPECT_TRUE(m_questions.empty());
}

TEST_F(TlsSessionTest, ImplicitFtpsToAPlainServerSendsNoLogin) {
    m_session->m_timeouts.replyMs = 3000;
    TlsServer server(TlsServer::Kind::PlainRecording, TestCertificate(), QString(), 990);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    QElapsedTimer timer;
    timer.start();
    const CInternetException e = ConnectError(server, "ftps://" + server.Address());
    EXPECT_EQ(e.m_dwError, ERROR_INTERNET_SECURITY_CHANNEL_ERROR) << e.what();
    EXPECT_LT(timer.elapsed(), 6000);
    for (const char* command : {"USER", "PASS", "AUTH"})
        EXPECT_FALSE(server.Commands().contains(command)) << command;
}

class PlainServer : public TlsSessionTest {
protected:
    void SetUp() override {
        TlsSessionTest::SetUp();
        m_server = std::make_unique<TlsServer>(TlsServer::Kind::PlainRecording, TestCertificate());
        ASSERT_TRUE(m_server->IsRunning()) << m_server->Error().toStdString();
    }
    std::unique_ptr<TlsServer> m_server;
};

TEST_F(PlainServer, FtpsIsRefusedAndNothingFollowsTheGreetingButAuth) {
    const CInternetException e = ConnectError(*m_server, "ftps://" + m_server->Address());
    EXPECT_EQ(e.m_dwError, ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
    EXPECT_TRUE(e.Message().contains("does not offer a secure connection")) << e.what();
    EXPECT_EQ(m_server->RecordedCommands(), QStringList({"AUTH"}));
}

TEST_F(PlainServer, BareHostAndFtpSchemeWorkUnencrypted) {
    ASSERT_TRUE(m_server->WriteFile("p.txt", "plain"));
    for (const QString& address : {m_server->Address(), "ftp://" + m_server->Address()}) {
        SCOPED_TRACE(address.toStdString());
        auto c = Connect(*m_server, address);
        EXPECT_FALSE(c->IsEncrypted());
        EXPECT_EQ(Download(*c, "/p.txt", 100), QByteArray("plain"));
    }
    // Only the bare host asked for TLS; "ftp://" never did.
    EXPECT_EQ(m_server->Commands().count("AUTH"), 1);
    EXPECT_EQ(m_server->Commands().count("PASS"), 2);
}

TEST_F(TlsSessionTest, ABrokenHandshakeFailsInTimeAndNothingFollowsAuth) {
    m_session->m_timeouts.replyMs = 2000;
    for (const char* fault : {"silent-after-auth", "garbage-after-auth"}) {
        TlsServer server(TlsServer::Kind::PlainRecording, TestCertificate(), fault);
        ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
        for (const QString& scheme : {QString(), QStringLiteral("ftps://")}) {
            SCOPED_TRACE(fault + scheme.toStdString());
            QElapsedTimer timer;
            timer.start();
            const CInternetException e = ConnectError(server, scheme + server.Address());
            // Once the server said yes to TLS there is no way back to plain.
            EXPECT_EQ(e.m_dwError, ERROR_INTERNET_SECURITY_CHANNEL_ERROR) << e.what();
            EXPECT_LT(timer.elapsed(), 8000);
        }
        EXPECT_EQ(server.Commands(), QStringList({"AUTH", "AUTH"}));
    }
}

TEST_F(TlsSessionTest, ARefusedProtectionLevelEndsTheConnectionBeforeTheLogin) {
    TlsServer server(TlsServer::Kind::Pyftpdlib,
                     TestCertificates::Make(TestCertificates::Kind::Trusted), "refuse-prot");
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    const CInternetException e = ConnectError(server, server.Address());
    EXPECT_EQ(e.m_dwError, ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
    EXPECT_TRUE(e.Message().contains("534")) << e.what();
    EXPECT_EQ(server.Commands(), QStringList({"AUTH", "PBSZ", "PROT"}));
}

} // namespace
