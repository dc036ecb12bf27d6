// The program over TLS: the certificate question in a message box answered once,
// always and cancel; the changed-certificate warning; the encryption shown in the
// main window's status bar; folder copies in both directions.
#include <QDir>
#include "Await.h"
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <gtest/gtest.h>
#include <map>

#include "AppFixture.h"
#include "CommStatusDlg.h"
#include "FtpConnection.h"
#include "InternetSession.h"
#include "MainFrame.h"
#include "MessageBoxRecorder.h"
#include "TestFrame.h"
#include "TlsServer.h"
#include "VelmarApp.h"

namespace {

using CertKind = TestCertificates::Kind;

// The application with a test window, the profile pointing at a TLS server.
class TlsApp : public testing::Test {
protected:
    void Serve(CertKind cert, TlsServer::Kind kind = TlsServer::Kind::Pyftpdlib,
               const QString& scheme = QString()) {
        ASSERT_TRUE(TestCertificates::Prepare()) << TestCertificates::Error().toStdString();
        server = std::make_unique<TlsServer>(kind, TestCertificates::Make(cert));
        ASSERT_TRUE(server->IsRunning()) << server->Error().toStdString();
        app = std::make_unique<CVelmarApp>();
        app->SetStartingUp(false);
        app->m_startupDir = local.path() + "/";
        frame = new TestFrame; // the application deletes it
        app->m_pMainWnd = frame;
        CProfile profile = app->Site().Profile();
        profile.m_name = "TLS Site";
        profile.m_address = scheme + server->Address();
        profile.m_userId = server->User();
        profile.m_password = server->Password();
        app->Site().SetProfile(profile);
    }
    void TearDown() override { app.reset(); }

    bool Connect() {
        CCommStatusDlg dlg(frame);
        return Await(dlg.Connect());
    }
    void Disconnect() { app->Site().Close(); }
    void CopyFoldersBothWays();

    QTemporaryDir local;
    std::unique_ptr<TlsServer> server;
    std::unique_ptr<CVelmarApp> app;
    TestFrame* frame = nullptr;
    MessageBoxRecorder boxes;
};

TEST_F(TlsApp, TheQuestionIsAMessageBoxWithThreeAnswers) {
    Serve(CertKind::SelfSigned);
    // Cancel: no connection, the usual error after the question.
    boxes.Answer(IDCANCEL);
    EXPECT_FALSE(Connect());
    EXPECT_EQ(app->Site().Connection(), nullptr);
    ASSERT_EQ(boxes.Count(), 2);
    const MessageBoxCall& ask = boxes.Calls()[0];
    EXPECT_EQ(ask.caption, "Untrusted Server Certificate");
    EXPECT_EQ(ask.flags & 0xF, unsigned(MB_ACCEPTONCEALWAYSCANCEL));
    for (const char* part : {"self-signed", "Subject:", "Issuer:", "Valid from:", "Valid until:",
                             "SHA-256 fingerprint:"})
        EXPECT_TRUE(ask.text.contains(part)) << part << "\n" << ask.text.toStdString();
    EXPECT_EQ(boxes.Calls()[1].caption, "Error Opening FTP Connection");
    EXPECT_EQ(server->RecordedCommands(), QStringList({"AUTH"}));

    // Once: connected, encrypted; asked again after reconnecting with a new session.
    boxes.Clear();
    boxes.Answer(IDACCEPTONCE);
    ASSERT_TRUE(Connect());
    ASSERT_NE(app->Site().Connection(), nullptr);
    EXPECT_TRUE(app->Site().Connection()->IsEncrypted());
    EXPECT_EQ(boxes.Count(), 1);
    Disconnect();
    boxes.Answer(IDACCEPTALWAYS);
    ASSERT_TRUE(Connect());
    EXPECT_EQ(boxes.Count(), 2);
    // Always: never asked again, even by a new session.
    Disconnect();
    ASSERT_TRUE(Connect());
    EXPECT_EQ(boxes.Count(), 2);
    EXPECT_FALSE(CertificateStore().Lookup("127.0.0.1", server->Port()).isEmpty());
}

TEST_F(TlsApp, AChangedCertificateIsALoudWarningThatDefaultsToCancel) {
    Serve(CertKind::Trusted);
    // Another certificate was accepted for this host and port before.
    ASSERT_TRUE(CertificateStore().Remember("127.0.0.1", server->Port(),
                                            "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:"
                                            "11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF"));
    boxes.Answer(IDCANCEL);
    EXPECT_FALSE(Connect());
    ASSERT_GE(boxes.Count(), 1);
    const MessageBoxCall& warn = boxes.Calls()[0];
    EXPECT_EQ(warn.caption, "WARNING: Server Certificate Changed");
    EXPECT_EQ(warn.flags & 0xF0, unsigned(MB_ICONWARNING));
    EXPECT_TRUE(warn.flags & MB_DEFBUTTONLAST);
    EXPECT_TRUE(warn.text.contains("Remembered fingerprint: 00:11:22")) << warn.text.toStdString();
    EXPECT_EQ(server->RecordedCommands(), QStringList({"AUTH"}));
}

TEST_F(TlsApp, FtpsAgainstAPlainServerSaysWhyAndSendsNoLogin) {
    ASSERT_TRUE(TestCertificates::Prepare());
    server = std::make_unique<TlsServer>(TlsServer::Kind::PlainRecording, TestCertificate());
    ASSERT_TRUE(server->IsRunning()) << server->Error().toStdString();
    app = std::make_unique<CVelmarApp>();
    frame = new TestFrame;
    app->m_pMainWnd = frame;
    CProfile profile = app->Site().Profile();
    profile.m_address = "ftps://" + server->Address();
    profile.m_userId = server->User();
    profile.m_password = server->Password();
    app->Site().SetProfile(profile);
    EXPECT_FALSE(Connect());
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Calls()[0].caption, "Error Opening FTP Connection");
    EXPECT_TRUE(boxes.Calls()[0].text.contains("does not offer a secure connection (TLS)"))
        << boxes.Calls()[0].text.toStdString();
    EXPECT_EQ(server->RecordedCommands(), QStringList({"AUTH"}));
}

TEST_F(TlsApp, AServerThatDropsItsTlsIsWarnedAboutAndGetsNoLogin) {
    Serve(CertKind::SelfSigned);
    boxes.Answer(IDACCEPTALWAYS);
    ASSERT_TRUE(Connect());
    Disconnect();
    // Someone in the path answers for the same host and port, without TLS.
    const unsigned short port = server->Port();
    server.reset();
    server = std::make_unique<TlsServer>(TlsServer::Kind::PlainRecording, TestCertificate(),
                                         QString(), port);
    ASSERT_TRUE(server->IsRunning()) << server->Error().toStdString();
    boxes.Clear();
    EXPECT_FALSE(Connect());
    EXPECT_EQ(app->Site().Connection(), nullptr);
    ASSERT_EQ(boxes.Count(), 1);
    const MessageBoxCall& warn = boxes.Calls()[0];
    EXPECT_EQ(warn.caption, "WARNING: Encryption No Longer Offered");
    EXPECT_EQ(warn.flags & 0xF0, unsigned(MB_ICONWARNING));
    EXPECT_TRUE(warn.text.contains("no longer offers the encryption (TLS) that it offered before"))
        << warn.text.toStdString();
    EXPECT_EQ(server->RecordedCommands(), QStringList({"AUTH"}));
}

// Relative path -> content, "<dir>" for a folder.
std::map<QString, QByteArray> Snapshot(const QString& root) {
    std::map<QString, QByteArray> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        tree[QDir(root).relativeFilePath(path)] =
            it.fileInfo().isDir() ? QByteArray("<dir>")
                                  : (f.open(QIODevice::ReadOnly) ? f.readAll() : "?");
    }
    return tree;
}

TEST_F(TlsApp, FolderCopiesBothWaysOverTlsWithSessionReuse) {
    Serve(CertKind::Trusted, TlsServer::Kind::Vsftpd);
    CopyFoldersBothWays();
}

TEST_F(TlsApp, FolderCopiesBothWaysOverImplicitFtps) {
    Serve(CertKind::Trusted, TlsServer::Kind::VsftpdImplicit, "ftps://");
    CopyFoldersBothWays();
}

void TlsApp::CopyFoldersBothWays() {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(app->Site().Connection()->IsEncrypted());
    const QString src = local.path() + "/src";
    ASSERT_TRUE(QDir().mkpath(src + "/sub/deeper"));
    QByteArray big(700 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 7919) >> 5);
    const std::map<QString, QByteArray> files = {
        {"a.txt", "alpha"}, {"sub/b.bin", big}, {"sub/deeper/c", ""}};
    for (const auto& [path, data] : files) {
        QFile f(src + "/" + path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    auto dlg = std::make_unique<CCommStatusDlg>(frame);
    dlg->Create();
    ASSERT_TRUE(Await(dlg->CopyFolderLocalToFtp(src, "/up")));
    EXPECT_EQ(Snapshot(server->PathOf("up")), Snapshot(src));
    ASSERT_TRUE(Await(dlg->CopyFolderFtpToLocal("/up", local.path() + "/down")));
    EXPECT_EQ(Snapshot(local.path() + "/down"), Snapshot(src));
    EXPECT_EQ(boxes.Count(), 0) << (boxes.Count() ? boxes.Calls()[0].text.toStdString() : "");
}

// The real main window shows whether the FTP side is encrypted.
QString SecurityText(AppFixture& f) {
    auto* label = f.Frame()->findChild<QLabel*>("securityPane");
    return label ? label->text() + " | " + label->toolTip() : QString("no pane");
}

TEST(TlsIndicator, TheStatusBarSaysWhetherTheFtpSideIsEncrypted) {
    ASSERT_TRUE(TestCertificates::Prepare()) << TestCertificates::Error().toStdString();
    TlsServer tls(TlsServer::Kind::Vsftpd, TestCertificates::Make(CertKind::Trusted));
    TlsServer plain(TlsServer::Kind::PlainRecording, TestCertificate());
    TlsServer implicit(TlsServer::Kind::VsftpdImplicit, TestCertificates::Make(CertKind::Trusted));
    ASSERT_TRUE(tls.IsRunning() && plain.IsRunning()) << tls.Error().toStdString();
    ASSERT_TRUE(implicit.IsRunning()) << implicit.Error().toStdString();
    struct Case {
        const TlsServer& server;
        const char* scheme;
        const char* shown;
    };
    const Case cases[] = {
        {tls, "", "Encrypted (TLS) | The connection to the FTP server is encrypted."},
        {tls, "ftps://", "Encrypted (TLS) | The connection to the FTP server is encrypted."},
        {implicit, "ftps://", "Encrypted (TLS) | The connection to the FTP server is encrypted."},
        {plain, "", "Not encrypted | The connection to the FTP server is not encrypted"},
        {plain, "ftp://", "Not encrypted | The connection to the FTP server is not encrypted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scheme + c.server.Address().toStdString());
        AppFixture f;
        f.SetProfile(c.scheme + c.server.Address(), c.server.User(), c.server.Password());
        ASSERT_TRUE(f.Start());
        ASSERT_NE(f.App().Site().Connection(), nullptr);
        EXPECT_TRUE(SecurityText(f).startsWith(c.shown)) << SecurityText(f).toStdString();
        EXPECT_EQ(f.Frame()->windowTitle().contains("TLS"), false);
        EXPECT_EQ(f.Boxes().Count(), 0);
    }
}

} // namespace
