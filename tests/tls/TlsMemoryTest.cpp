// A host and port that has shown TLS keeps it: when the same address later
// answers AUTH TLS with a refusal, nothing more goes out, least of all USER and
// PASS. A server that never offered TLS still gets a plain login.
#include <QFile>

#include "TlsTestUtil.h"

namespace {

using CertKind = TestCertificates::Kind;

TEST_F(TlsSessionTest, AServerThatShowedTlsGetsNoLoginInClearLater) {
    struct Case {
        const char* name;
        CertKind cert;
        std::deque<CertificateAnswer> answers;
    };
    const Case cases[] = {
        {"always accepted", CertKind::SelfSigned, {CertificateAnswer::AcceptAlways}},
        {"accepted once", CertKind::SelfSigned, {CertificateAnswer::AcceptOnce}},
        {"trusted, no question", CertKind::Trusted, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto tls =
            std::make_unique<TlsServer>(TlsServer::Kind::Pyftpdlib, TestCertificates::Make(c.cert));
        ASSERT_TRUE(tls->IsRunning()) << tls->Error().toStdString();
        const QString address = tls->Address();
        m_answers = c.answers;
        EXPECT_TRUE(Connect(*tls, address)->IsEncrypted());
        // The same host and port in plain, to a session that knows nothing of
        // the earlier one.
        const unsigned short port = tls->Port();
        tls.reset();
        TlsServer plain(TlsServer::Kind::PlainRecording, TestCertificate(), QString(), port);
        ASSERT_TRUE(plain.IsRunning()) << plain.Error().toStdString();
        NewSession();
        const CInternetException e = ConnectError(plain, address);
        EXPECT_EQ(e.m_dwError, ERROR_INTERNET_TLS_WITHDRAWN) << e.what();
        EXPECT_TRUE(e.Message().contains("no longer offers the encryption")) << e.what();
        EXPECT_EQ(plain.RecordedCommands(), QStringList({"AUTH"}));
        // "ftp://" is the user's own choice of plain FTP.
        EXPECT_FALSE(Connect(plain, "ftp://" + address)->IsEncrypted());
        EXPECT_EQ(plain.Commands().count("PASS"), 1);
    }
    // Kept by host and port, in a file beside the certificates.
    QFile memory(TlsMemory::BesideStore(CertificateStore::DefaultPath()));
    ASSERT_TRUE(memory.open(QIODevice::ReadOnly));
    EXPECT_EQ(memory.readAll().count("127.0.0.1:"), 3);
    // Another port of the same host never offered TLS: plain, as before.
    TlsServer other(TlsServer::Kind::PlainRecording, TestCertificate());
    ASSERT_TRUE(other.IsRunning()) << other.Error().toStdString();
    EXPECT_FALSE(Connect(other, other.Address())->IsEncrypted());
}

} // namespace
