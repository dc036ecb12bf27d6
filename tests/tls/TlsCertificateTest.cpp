// Certificates the trust store does not vouch for: what the question says, what
// each answer leads to, the remembered fingerprints and a certificate that changed.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

#include "TlsTestUtil.h"

namespace {

using Kind = TestCertificates::Kind;

class TlsCertificate : public TlsSessionTest {
protected:
    std::unique_ptr<TlsServer> Serve(Kind kind,
                                     TlsServer::Kind server = TlsServer::Kind::Pyftpdlib) {
        auto s = std::make_unique<TlsServer>(server, TestCertificates::Make(kind));
        EXPECT_TRUE(s->IsRunning()) << s->Error().toStdString();
        return s;
    }
    static QString StoreText() {
        QFile f(CertificateStore::DefaultPath());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

TEST_F(TlsCertificate, EachDoubtIsReportedWithItsReasonAndNothingIsSentOnCancel) {
    struct Case {
        Kind kind;
        unsigned problems;
        const char* reason;
    };
    const Case cases[] = {
        {Kind::SelfSigned, CERT_SELF_SIGNED, "self-signed"},
        {Kind::UnknownIssuer, CERT_UNTRUSTED, "not signed by a trusted authority"},
        {Kind::Expired, CERT_EXPIRED, "expired"},
        {Kind::OtherName, CERT_NAME_MISMATCH, "not issued for the name \"127.0.0.1\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.kind));
        m_questions.clear();
        auto server = Serve(c.kind);
        const CInternetException e = ConnectError(*server, server->Address());
        EXPECT_EQ(e.m_dwError, ERROR_INTERNET_SEC_CERT_ERRORS);
        ASSERT_EQ(m_questions.size(), 1u);
        const CertificateVerdict& v = m_questions[0];
        EXPECT_EQ(v.problems, c.problems);
        EXPECT_TRUE(v.Describe().contains(c.reason)) << v.Describe().toStdString();
        EXPECT_EQ(v.host, "127.0.0.1");
        EXPECT_EQ(v.port, server->Port());
        EXPECT_EQ(v.fingerprint.size(), 32 * 3 - 1); // 32 bytes as "AB:" pairs
        EXPECT_FALSE(v.subject.isEmpty());
        EXPECT_FALSE(v.issuer.isEmpty());
        EXPECT_TRUE(v.validFrom.endsWith(" UTC"));
        EXPECT_TRUE(v.validUntil.endsWith(" UTC"));
        // The user said no: the password never went out, not even encrypted.
        EXPECT_EQ(server->RecordedCommands(), QStringList({"AUTH"}));
    }
    EXPECT_TRUE(StoreText().isEmpty());
}

TEST_F(TlsCertificate, AcceptOnceHoldsForThisSessionOnly) {
    auto server = Serve(Kind::SelfSigned, TlsServer::Kind::Vsftpd);
    m_answers = {CertificateAnswer::AcceptOnce};
    auto c = Connect(*server, server->Address());
    EXPECT_TRUE(c->IsEncrypted());
    auto extra = Connect(*server, server->Address()); // no second question
    EXPECT_EQ(m_questions.size(), 1u);
    EXPECT_TRUE(StoreText().isEmpty());
    NewSession();
    EXPECT_EQ(ConnectError(*server, server->Address()).m_dwError, ERROR_INTERNET_SEC_CERT_ERRORS);
    EXPECT_EQ(m_questions.size(), 2u);
}

TEST_F(TlsCertificate, AlwaysAcceptIsRememberedInAPrivateFile) {
    auto server = Serve(Kind::SelfSigned);
    m_answers = {CertificateAnswer::AcceptAlways};
    auto c = Connect(*server, server->Address());
    ASSERT_EQ(m_questions.size(), 1u);
    const QString key = QStringLiteral("127.0.0.1:%1").arg(server->Port());
    EXPECT_TRUE(StoreText().contains(key + " " + m_questions[0].fingerprint))
        << StoreText().toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(CertificateStore::DefaultPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(CertificateStore::DefaultPath().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME") +
                                                           "/Velmar98/"));
    NewSession();
    auto again = Connect(*server, server->Address());
    EXPECT_TRUE(again->IsEncrypted());
    EXPECT_EQ(m_questions.size(), 1u);
}

TEST_F(TlsCertificate, AChangedCertificateIsAWarningEvenWhenTrusted) {
    auto first = Serve(Kind::SelfSigned);
    m_answers = {CertificateAnswer::AcceptAlways};
    Connect(*first, first->Address());
    ASSERT_EQ(m_questions.size(), 1u);
    const QString remembered = m_questions[0].fingerprint;
    // The same host and port, another certificate: pretend the server was
    // replaced by writing the remembered entry for the new server's port.
    auto second = Serve(Kind::Trusted);
    ASSERT_TRUE(m_session->Trust().Store().Remember("127.0.0.1", second->Port(), remembered));
    NewSession();
    const CInternetException e = ConnectError(*second, second->Address());
    EXPECT_EQ(e.m_dwError, ERROR_INTERNET_SEC_CERT_ERRORS);
    ASSERT_EQ(m_questions.size(), 2u);
    const CertificateVerdict& v = m_questions[1];
    EXPECT_EQ(v.problems, unsigned(CERT_CHANGED));
    EXPECT_EQ(v.rememberedFingerprint, remembered);
    EXPECT_NE(v.fingerprint, remembered);
    EXPECT_TRUE(v.Describe().contains("NOT the one you chose")) << v.Describe().toStdString();
    EXPECT_EQ(second->Commands(), QStringList({"AUTH"}));
    // Accepting it always replaces the old fingerprint; then it passes silently.
    m_answers = {CertificateAnswer::AcceptAlways};
    Connect(*second, second->Address());
    NewSession();
    Connect(*second, second->Address());
    EXPECT_EQ(m_questions.size(), 3u);
    EXPECT_EQ(m_session->Trust().Store().Lookup("127.0.0.1", second->Port()),
              m_questions[2].fingerprint);
}

TEST_F(TlsCertificate, WithoutACallbackADoubtfulCertificateIsRefused) {
    auto server = Serve(Kind::SelfSigned);
    CInternetSession bare;
    EXPECT_THROW(
        delete bare.GetFtpConnection(server->Address(), server->User(), server->Password()),
        CInternetException);
    EXPECT_EQ(server->RecordedCommands(), QStringList({"AUTH"}));
}

TEST(CertificateStoreFile, KeepsForeignLinesAndReplacesOnlyItsEntry) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/sub/certificates";
    CertificateStore store(path);
    EXPECT_TRUE(store.Lookup("h", 21).isEmpty()); // no file yet
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/sub"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("garbage without fields\nHOST:21 aa:bb\n# comment\n\xff\xfe binary\n");
    }
    EXPECT_EQ(store.Lookup("host", 21), "AA:BB"); // names and hex compare without case
    EXPECT_TRUE(store.Lookup("host", 2121).isEmpty());
    ASSERT_TRUE(store.Remember("Host", 21, "cc:dd"));
    ASSERT_TRUE(store.Remember("::1", 21, "ee"));
    EXPECT_EQ(store.Lookup("host", 21), "CC:DD");
    EXPECT_EQ(store.Lookup("::1", 21), "EE");
    EXPECT_TRUE(store.Lookup("::1", 2).isEmpty());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.contains("garbage without fields"));
    EXPECT_TRUE(text.contains("# comment"));
    EXPECT_FALSE(text.contains("AA:BB"));
    EXPECT_TRUE(text.contains("[::1]:21 EE"));
    EXPECT_EQ(QDir(dir.path() + "/sub").entryList(QDir::Files), QStringList({"certificates"}));
}

TEST(CertificateStoreFile, AnUnwritablePlaceFailsAndLeavesTheOldFile) {
    QTemporaryDir dir;
    const QString blocker = dir.path() + "/file";
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    // A folder where a file stands cannot be made.
    CertificateStore store(blocker + "/certificates");
    EXPECT_FALSE(store.Remember("h", 21, "AA"));
    EXPECT_TRUE(QFileInfo(blocker).isFile());
}

} // namespace
