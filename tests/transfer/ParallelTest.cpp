// Several files at once: folder copies in every direction, a server that allows
// two connections, one failure among many, and Cancel while several run, each
// with both trees hashed before and after.
#include <QDir>
#include "Await.h"
#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FtpSite.h"
#include "Job.h"
#include "Registry.h"
#include "TransferFixture.h"
#include "TreeHashes.h"

namespace {

constexpr int kFiles = 12;

// Our own established connections to the server's port, from /proc/net/tcp.
int ConnectionsTo(unsigned short port) {
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QString remote = QStringLiteral(":%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    int count = 0;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QStringList fields = QString::fromLatin1(line).simplified().split(QLatin1Char(' '));
        if (fields.size() > 3 && fields[2].endsWith(remote) && fields[3] == QLatin1String("01"))
            ++count;
    }
    return count;
}

class ParallelTest : public testing::Test {
protected:
    void Start(FtpServer::Kind kind, FtpServer::Options options = {}, int transfers = 4) {
        ASSERT_TRUE(settings::SetTransfers(transfers));
        env = std::make_unique<TransferEnv>(kind, options);
        ASSERT_TRUE(env->server.IsRunning()) << env->server.Error().toStdString();
        ASSERT_TRUE(env->Connect());
        dlg = env->NewStatusWindow();
    }
    void TearDown() override {
        dlg.reset();
        env.reset();
    }
    // kFiles files in three folders, one of them nested, and an empty folder.
    static bool MakeTree(const QString& root, const std::function<bool(const QString&)>& mkdir,
                         const std::function<bool(const QString&, const QByteArray&)>& write) {
        bool ok = mkdir(root) && mkdir(root + "/a") && mkdir(root + "/a/deep") &&
                  mkdir(root + "/b") && mkdir(root + "/empty");
        const char* folders[] = {"", "/a", "/a/deep", "/b"};
        for (int i = 0; i < kFiles && ok; ++i)
            ok = write(root + folders[i % 4] + QStringLiteral("/f%1").arg(i), RandomBytes(700 * i));
        return ok;
    }
    bool LocalTree(const QString& root) {
        return MakeTree(
            env->Local(root), [](const QString& p) { return QDir().mkpath(p); },
            [](const QString& p, const QByteArray& d) { return TransferEnv::WriteLocal(p, d); });
    }
    bool ServerTree(const QString& root) {
        return MakeTree(
            root, [&](const QString& p) { return env->server.MakeDir(p); },
            [&](const QString& p, const QByteArray& d) { return env->server.WriteFile(p, d); });
    }
    QString Line(int id) const { return dlg->GetDlgItemText(id); }

    std::unique_ptr<TransferEnv> env;
    std::unique_ptr<CCommStatusDlg> dlg;
};

// Every direction on both servers, one file at a time and four; the window ends
// on the whole batch.
TEST_F(ParallelTest, FolderCopiesInEveryDirectionArriveWhole) {
    for (const auto& [kind, transfers] :
         {std::pair{FtpServer::Kind::Pyftpdlib, 4}, std::pair{FtpServer::Kind::Vsftpd, 4},
          std::pair{FtpServer::Kind::Vsftpd, 1}}) {
        SCOPED_TRACE(std::string(FtpServer::KindName(kind)) + " " + std::to_string(transfers));
        Start(kind, {}, transfers);
        ASSERT_TRUE(LocalTree("src"));
        const TreeHashes source = HashTree(env->Local("src"));
        ASSERT_TRUE(Await(dlg->CopyFolderLocalToFtp(env->Local("src"), "/up")))
            << (env->boxes.Count() ? env->boxes.Calls()[0].text.toStdString() : "");
        EXPECT_EQ(HashTree(env->server.PathOf("up")), source);
        EXPECT_EQ(Line(CCommStatusDlg::IDC_FILES), QStringLiteral("12 of 12"));
        EXPECT_EQ(Line(CCommStatusDlg::IDC_IN_FLIGHT), QString());
        const QString bytes = Line(CCommStatusDlg::IDC_ALL_BYTES);
        EXPECT_EQ(bytes.section(" of ", 0, 0), bytes.section(" of ", 1)) << bytes.toStdString();
        ASSERT_TRUE(Await(dlg->CopyFolderFtpToLocal("/up", env->Local("down"))));
        EXPECT_EQ(HashTree(env->Local("down")), source);
        ASSERT_TRUE(Await(dlg->CopyFolderFtpToFtp("/up", "/again")));
        EXPECT_EQ(HashTree(env->server.PathOf("again")), source);
        EXPECT_EQ(HashTree(env->Local("src")), source);
        EXPECT_EQ(env->boxes.Count(), 0);
        TearDown();
    }
}

// Two connections allowed, four wanted: the copies go on with what they get.
TEST_F(ParallelTest, ServerThatAllowsTwoConnectionsStillGetsEverything) {
    FtpServer::Options options;
    options.maxPerIp = 2;
    Start(FtpServer::Kind::Vsftpd, options);
    ASSERT_TRUE(LocalTree("src"));
    const TreeHashes source = HashTree(env->Local("src"));
    ASSERT_TRUE(Await(dlg->CopyFolderLocalToFtp(env->Local("src"), "/up")));
    EXPECT_EQ(env->app->Site().ConnectionLimit(), 2);
    ASSERT_TRUE(Await(dlg->CopyFolderFtpToLocal("/up", env->Local("down"))));
    ASSERT_TRUE(Await(dlg->CopyFolderFtpToFtp("/up", "/again")));
    EXPECT_EQ(HashTree(env->server.PathOf("up")), source);
    EXPECT_EQ(HashTree(env->Local("down")), source);
    EXPECT_EQ(HashTree(env->server.PathOf("again")), source);
    EXPECT_EQ(env->boxes.Count(), 0);
    const int limit = env->app->Site().ConnectionLimit();
    EXPECT_TRUE(limit == 1 || limit == 2) << limit;
}

// Six files onto six old ones, the fourth unreadable: one message, for it; the
// files before it replaced, it and every other old file whole, nothing beside.
TEST_F(ParallelTest, OneFailureIsOneMessageAndOldFilesStayWhole) {
    Start(FtpServer::Kind::Pyftpdlib);
    std::vector<core::BatchFile> files;
    std::map<QString, QByteArray> fresh;
    ASSERT_TRUE(QDir().mkpath(env->Local("new")));
    for (int i = 0; i < 6; ++i) {
        const QString name = QStringLiteral("f%1").arg(i);
        ASSERT_TRUE(env->server.WriteFile(name, "old " + name.toUtf8()));
        fresh[name] = RandomBytes(300000);
        if (i == 3)
            ASSERT_EQ(::symlink("/nonexistent", QFile::encodeName(env->Local("new/" + name))), 0);
        else
            ASSERT_TRUE(TransferEnv::WriteLocal(env->Local("new/" + name), fresh[name]));
        files.push_back({core::BatchFile::Way::Upload, env->Local("new/" + name), "/" + name});
    }
    EXPECT_FALSE(Await(dlg->CopyFiles(files)));
    EXPECT_EQ(env->boxes.Captions(), QStringList({"Error Copying File"}));
    const TreeHashes after = HashTree(env->server.Root());
    ASSERT_EQ(after.size(), 6u); // no temporary name left
    for (int i = 0; i < 6; ++i) {
        const QString name = QStringLiteral("f%1").arg(i);
        const QByteArray old = HashOf("old " + name.toUtf8());
        if (i < 3)
            EXPECT_EQ(after.at(name), HashOf(fresh[name])) << i;
        else if (i == 3)
            EXPECT_EQ(after.at(name), old);
        else
            EXPECT_TRUE(after.at(name) == old || after.at(name) == HashOf(fresh[name])) << i;
    }
}

// Cancel while several downloads replace old files: every old file whole or
// replaced whole, no temporary name, and no pool connection left open.
TEST_F(ParallelTest, CancelLeavesEveryOldFileWholeAndNoConnectionBehind) {
    Start(FtpServer::Kind::Pyftpdlib);
    std::vector<core::BatchFile> files;
    for (int i = 0; i < 8; ++i) {
        const QString name = QStringLiteral("big%1").arg(i);
        ASSERT_TRUE(env->server.WriteFile(name, RandomBytes(3 * 1024 * 1024)));
        ASSERT_TRUE(TransferEnv::WriteLocal(env->Local(name), "old " + name.toUtf8()));
        files.push_back({core::BatchFile::Way::Download, "/" + name, env->Local(name)});
    }
    const TreeHashes before = HashTree(env->Local(""));
    std::atomic<int> blocks{0};
    dlg->m_blockObserver = [&](const BlockReport&) {
        if (++blocks == 3000)
            core::PostToUi([&] { dlg->OnCancelCommunication(); });
    };
    EXPECT_FALSE(Await(dlg->CopyFiles(files)));
    EXPECT_EQ(ConnectionsTo(env->server.Port()), 1); // the main connection alone
    EXPECT_EQ(env->boxes.Captions(), QStringList({"Communication Cancelled"}));
    const TreeHashes after = HashTree(env->Local(""));
    ASSERT_EQ(after.size(), before.size());
    int replaced = 0;
    for (const auto& [name, hash] : after) {
        if (hash == before.at(name))
            continue;
        ++replaced;
        EXPECT_EQ(hash, HashOf(env->server.ReadFile(name))) << name.toStdString();
    }
    EXPECT_LT(replaced, 8);
}

// Four files, the third a pipe: the two before it go, the pipe is refused with
// its one message, and nothing after it starts.
TEST_F(ParallelTest, RefusedFileInABatchEndsItThere) {
    Start(FtpServer::Kind::Vsftpd);
    std::vector<core::BatchFile> files;
    for (const char* name : {"a", "b", "c", "d"}) {
        const QString path = env->Local(name);
        if (QByteArray(name) == "c")
            ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            ASSERT_TRUE(TransferEnv::WriteLocal(path, RandomBytes(5000)));
        files.push_back({core::BatchFile::Way::Upload, path, QStringLiteral("/") + name});
    }
    EXPECT_FALSE(Await(dlg->CopyFiles(files)));
    EXPECT_EQ(env->boxes.Count(), 1);
    const TreeHashes after = HashTree(env->server.Root());
    EXPECT_EQ(after, (TreeHashes{{"a", HashTree(env->Local("")).at("a")},
                                 {"b", HashTree(env->Local("")).at("b")}}));
}

// The site keeps the lowest connection limit heard until the profile changes,
// and reads the number of transfers as the setting does.
TEST(ParallelSite, LimitLastsForTheProfileAndTransfersStayInRange) {
    core::FtpSite site;
    EXPECT_EQ(site.ConnectionLimit(), 0);
    for (const auto& [heard, kept] : {std::pair{3, 3}, {5, 3}, {2, 2}, {0, 1}}) {
        site.NoteConnectionLimit(heard);
        EXPECT_EQ(site.ConnectionLimit(), kept) << heard;
    }
    CProfile other;
    other.m_name = QStringLiteral("other");
    site.SetProfile(other);
    EXPECT_EQ(site.ConnectionLimit(), 0);
    for (const auto& [set, read] : {std::pair{1, 1}, {10, 10}, {0, 4}, {11, 4}, {-1, 4}}) {
        site.SetTransfers(set);
        EXPECT_EQ(site.Transfers(), read) << set;
    }
}

TEST(TransfersSetting, ReadsFourUnlessSetWithinOneToTen) {
    const std::pair<const char*, int> cases[] = {
        {"1", 1},  {"10", 10}, {" 7 ", 7},        {"0", 4}, {"11", 4},
        {"-3", 4}, {"abc", 4}, {"4294967297", 4}, {"", 4},
    };
    for (const auto& [stored, read] : cases) {
        CRegKey key;
        ASSERT_TRUE(key.Create(QString::fromLatin1(kProgramKeyPath)));
        ASSERT_TRUE(key.SetString(QStringLiteral("Transfers"), QString::fromLatin1(stored)));
        key.Close();
        EXPECT_EQ(settings::Transfers(), read) << stored;
    }
    CRegKey::FailNext(CRegKey::Op::Query);
    EXPECT_EQ(settings::Transfers(), 4);
}

} // namespace
