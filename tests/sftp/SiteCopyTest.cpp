// An SFTP profile through the same engine as an FTP one: the connect (host key
// asked once, then remembered in known_hosts), and the copies, renames and
// deletes of the panes, with the trees compared byte for byte.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <functional>

#include "Await.h"
#include "FtpFileOps.h"
#include "FtpSite.h"
#include "FtpTreeDelete.h"
#include "Job.h"
#include "SftpTestUtil.h"
#include "Transfer.h"

namespace {

// Answers the host-key question as told and counts it; records the failures.
class SftpView : public core::TransferView {
public:
    void ShowLine(core::StatusLine, const QString&) override {}
    void ShowStatus(const QString&) override {}
    void ShowConnectStep(const QString&) override {}
    void ShowProgress(int) override {}
    void RevealTransferControls() override {}
    void Failed(const core::TransferError& error) override { errors.push_back(error); }
    CertificateAnswer AskAboutCertificate(const CertificateVerdict&) override {
        return CertificateAnswer::Cancel;
    }
    CertificateAnswer AskAboutHostKey(const core::HostKeyInfo& key) override {
        asked.push_back(key);
        return answer;
    }
    bool ShowsProgress() const override { return true; }
    bool StartingUp() const override { return false; }

    CertificateAnswer answer = CertificateAnswer::AcceptAlways;
    std::vector<core::HostKeyInfo> asked;
    std::vector<core::TransferError> errors;
};

// Every file below root, by its path inside root, with its hash.
std::map<QString, QByteArray> Tree(const QString& root) {
    std::map<QString, QByteArray> tree;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        tree[QDir(root).relativeFilePath(path)] =
            QCryptographicHash::hash(Get(path), QCryptographicHash::Sha256);
    }
    return tree;
}

class SftpSiteTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("SSH_AUTH_SOCK", server.AgentSocket().toLocal8Bit());
        CProfile profile;
        profile.m_name = QStringLiteral("ssh");
        profile.m_address = QStringLiteral("sftp://127.0.0.1:%1").arg(server.Port());
        profile.m_userId = server.User();
        site.SetProfile(profile);
    }
    void TearDown() override { site.Close(); }
    bool Run(const std::function<bool()>& body) {
        return AwaitJob(body, &cancel);
    }
    QString Remote(const QString& name) const { return server.Root() + QLatin1Char('/') + name; }
    QString OnServer(const QString& name) const {
        return server.LocalRoot() + QLatin1Char('/') + name;
    }

    SshServer server{SshServer::Kind::OpenSsh};
    QTemporaryDir home;
    QTemporaryDir local;
    core::FtpSite site;
    SftpView view;
    std::atomic<int> cancel{0};
    core::Transfer transfer{&site, view, cancel};
};

TEST_F(SftpSiteTest, EveryOperationOfThePanesWorksOverSsh) {
    ASSERT_TRUE(Run([&] { return transfer.Connect(); }))
        << (view.errors.empty() ? "" : view.errors.front().detail.toStdString());
    ASSERT_EQ(view.asked.size(), 1u);
    EXPECT_EQ(view.asked.front().fingerprint, server.HostFingerprint());
    EXPECT_EQ(site.Encryption(), QStringLiteral("SSH"));
    EXPECT_FALSE(site.CurrentDir().isEmpty());
    EXPECT_FALSE(SshServer::FindKnownHost(home.filePath(".ssh/known_hosts"),
                                          QStringLiteral("[127.0.0.1]:%1").arg(server.Port()))
                     .isEmpty());

    // A tree of the user's, up, across the site and back down.
    const QString src = local.filePath(QStringLiteral("src"));
    ASSERT_TRUE(QDir().mkpath(src + QStringLiteral("/sub/deeper")));
    Put(src + QStringLiteral("/a.bin"), QByteArray(300000, 'a'));
    Put(src + QStringLiteral("/sub/empty.txt"), QByteArray());
    Put(src + QStringLiteral("/sub/deeper/b.txt"), "bee");
    const auto tree = Tree(src);
    ASSERT_TRUE(Run([&] { return transfer.CopyFolderLocalToFtp(src, Remote("up")); }));
    EXPECT_EQ(Tree(OnServer("up")), tree);
    ASSERT_TRUE(Run([&] { return transfer.CopyFolderFtpToFtp(Remote("up"), Remote("across")); }));
    EXPECT_EQ(Tree(OnServer("across")), tree);
    ASSERT_TRUE(Run([&] {
        return transfer.CopyFolderFtpToLocal(Remote("across"), local.filePath("down"));
    }));
    EXPECT_EQ(Tree(local.filePath("down")), tree);

    // A file over an existing one, each way, through a temporary name.
    Put(OnServer("up/sub/deeper/b.txt"), "old");
    ASSERT_TRUE(Run([&] {
        return transfer.CopyLocalToFtp(src + "/a.bin", Remote("up/sub/deeper/b.txt"));
    })) << (view.errors.empty() ? "" : view.errors.back().detail.toStdString());
    EXPECT_EQ(Get(OnServer("up/sub/deeper/b.txt")), QByteArray(300000, 'a'));
    ASSERT_TRUE(Run([&] {
        return transfer.CopyFtpToLocal(Remote("up/sub/deeper/b.txt"), src + "/sub/empty.txt");
    }));
    EXPECT_EQ(Get(src + "/sub/empty.txt"), QByteArray(300000, 'a'));
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(QDir(OnServer("up/sub/deeper")).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // Rename never replaces; a tree delete removes a link, never its target.
    core::RemoteConnection* remote = site.Remote();
    EXPECT_EQ(core::RenameFtp(remote, Remote("up/a.bin"), Remote("across/a.bin")).kind,
              core::OpErrorKind::NameTaken);
    EXPECT_TRUE(core::RenameFtp(remote, Remote("up/a.bin"), Remote("up/c.bin")).Ok());
    ASSERT_TRUE(QFile::link(OnServer("across"), OnServer("up/link")));
    EXPECT_TRUE(core::DeleteFtpTree(remote, Remote("up/")).Ok());
    EXPECT_FALSE(QFileInfo::exists(OnServer("up")));
    EXPECT_EQ(Tree(OnServer("across")), tree);

    // The key is remembered: the next connect asks nothing.
    site.Close();
    ASSERT_TRUE(Run([&] { return transfer.Connect(); }));
    EXPECT_EQ(view.asked.size(), 1u);
}

TEST_F(SftpSiteTest, AHostKeyNotAcceptedLogsNothingIn) {
    view.answer = CertificateAnswer::Cancel;
    EXPECT_FALSE(Run([&] { return transfer.Connect(); }));
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors.front().kind, core::TransferError::Kind::Connect);
    EXPECT_FALSE(site.IsConnected());
    EXPECT_FALSE(server.Log().contains("Accepted")) << server.Log().toStdString();
}

// A password login (asyncssh) through the engine: a file up, then down over an
// existing one.
TEST(SftpPasswordSite, AFileGoesUpAndDownOverAnExistingOne) {
    SshServer server(SshServer::Kind::AsyncSsh);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    QTemporaryDir home;
    QTemporaryDir local;
    core::FtpSite site;
    site.SetProfile(PasswordProfile(server, home));
    SftpView view;
    view.answer = CertificateAnswer::AcceptOnce;
    std::atomic<int> cancel{0};
    core::Transfer transfer{&site, view, cancel};
    auto run = [&](const std::function<bool()>& body) {
        return AwaitJob(body, &cancel);
    };
    auto why = [&] { return view.errors.empty() ? std::string() : view.errors.back().detail.toStdString(); };
    ASSERT_TRUE(run([&] { return transfer.Connect(); })) << why();
    Put(local.filePath("a.txt"), QByteArray(5000, 'a'));
    Put(local.filePath("b.txt"), "old");
    // As the panes name a file of the root folder: the folder's slash, then the name's.
    const QString remote = server.Root() + QStringLiteral("//a.txt");
    ASSERT_TRUE(run([&] { return transfer.CopyLocalToFtp(local.filePath("a.txt"), remote); })) << why();
    ASSERT_TRUE(run([&] { return transfer.CopyFtpToLocal(remote, local.filePath("b.txt")); })) << why();
    EXPECT_EQ(Get(local.filePath("b.txt")), QByteArray(5000, 'a'));
    site.Close();
}

} // namespace
