// A copy onto an existing file, in the three directions against real servers:
// whatever ends it early (the server killed, the user's cancel, a full disk), the
// old file stays byte-identical and nothing else in either tree changes.
#include <QRegularExpression>
#include "Await.h"
#include <QTest>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Job.h"
#include "TransferFixture.h"
#include "TreeHashes.h"

namespace {

const QRegularExpression
    kTempLeftOnServer(QStringLiteral("(^|/)\\.[^/]*\\.velmar-part-[0-9a-f]+$"));

class FileReplaceTest : public testing::TestWithParam<Param> {
protected:
    void SetUp() override {
        env = std::make_unique<TransferEnv>(std::get<0>(GetParam()));
        ASSERT_TRUE(env->server.IsRunning()) << env->server.Error().toStdString();
        ASSERT_TRUE(env->Connect());
        dlg = env->NewStatusWindow();
        env->frame->setEnabled(false);
        old = RandomBytes(9000);
        ASSERT_TRUE(Local() ? TransferEnv::WriteLocal(env->Local("target.bin"), old)
                            : env->server.WriteFile("target.bin", old));
    }
    void TearDown() override {
        dlg.reset();
        env.reset();
    }
    Direction Dir() const { return std::get<1>(GetParam()); }
    bool Local() const { return Dir() == Direction::FtpToLocal; }
    QString TargetOnDisk() const {
        return Local() ? env->Local("target.bin") : env->server.PathOf("target.bin");
    }
    void PutSource(const QByteArray& data) {
        ASSERT_TRUE(Dir() == Direction::LocalToFtp
                        ? TransferEnv::WriteLocal(env->Local("source.bin"), data)
                        : env->server.WriteFile("source.bin", data));
    }
    bool Copy() {
        switch (Dir()) {
        case Direction::LocalToFtp:
            return Await(dlg->CopyLocalToFtp(env->Local("source.bin"), "/target.bin"));
        case Direction::FtpToLocal:
            return Await(dlg->CopyFtpToLocal("/source.bin", env->Local("target.bin")));
        case Direction::FtpToFtp:
            return Await(dlg->CopyFtpToFtp("/source.bin", "/target.bin"));
        }
        return false;
    }
    // Both trees, the local folder and the served one.
    TreeHashes Both() const {
        TreeHashes both;
        for (const auto& [path, hash] : HashTree(env->Local("")))
            both["local/" + path] = hash;
        for (const auto& [path, hash] : HashTree(env->server.Root()))
            both["server/" + path] = hash;
        return both;
    }
    QString TargetKey() const { return Local() ? "local/target.bin" : "server/target.bin"; }

    std::unique_ptr<TransferEnv> env;
    std::unique_ptr<CCommStatusDlg> dlg;
    QByteArray old;
};

TEST_P(FileReplaceTest, ACompletedCopyReplacesTheFileWholeAndLeavesNothingElse) {
    const QByteArray data = RandomBytes(2 * 1000 * 1000 + 77);
    PutSource(data);
    if (Local()) {
        ASSERT_EQ(::chmod(QFile::encodeName(TargetOnDisk()), 0640), 0);
    }
    TreeHashes expected = Both();
    expected[TargetKey()] = HashOf(data);
    ASSERT_TRUE(Copy());
    EXPECT_EQ(env->boxes.Count(), 0);
    EXPECT_EQ(Both(), expected);
    if (Local()) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(TargetOnDisk()), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << "the replaced file's permissions are kept";
    }
}

TEST_P(FileReplaceTest, CancelInTheMiddleLeavesTheOldFileAndNoTemporaryFile) {
    PutSource(RandomBytes(30 * 1000 * 1000));
    const TreeHashes before = Both();
    dlg->m_blockObserver = [&](const BlockReport& r) {
        if (r.blockIndex == 2000)
            core::CallOnUi([&] { QTest::mouseClick(dlg->Control(1033), Qt::LeftButton); });
    };
    EXPECT_FALSE(Copy());
    EXPECT_EQ(env->boxes.Captions(), QStringList({"Communication Cancelled"}));
    EXPECT_TRUE(TransferEnv::ReadLocal(TargetOnDisk()) == old);
    EXPECT_EQ(Both(), before);
}

TEST_P(FileReplaceTest, ServerKilledInTheMiddleLeavesTheOldFileByteIdentical) {
    PutSource(RandomBytes(40 * 1000 * 1000));
    const TreeHashes before = Both();
    dlg->m_blockObserver = [&](const BlockReport& r) {
        if (r.blockIndex == 3000)
            env->server.Kill();
    };
    EXPECT_FALSE(Copy());
    EXPECT_GE(env->boxes.CountCaption("Error Copying File"), 1);
    EXPECT_EQ(env->boxes.CountCaption("Error Copying File"), env->boxes.Count());
    EXPECT_TRUE(TransferEnv::ReadLocal(TargetOnDisk()) == old);
    // Nothing else changed. With the server gone, an upload's temporary file
    // cannot be removed: that, and only that, may be left on the server.
    const TreeHashes after = Both();
    for (const auto& [path, hash] : before) {
        const auto it = after.find(path);
        EXPECT_TRUE(it != after.end() && it->second == hash) << path.toStdString();
    }
    for (const auto& [path, hash] : after) {
        if (before.count(path))
            continue;
        EXPECT_TRUE(path.startsWith("server/") && kTempLeftOnServer.match(path).hasMatch())
            << "left behind: " << path.toStdString();
        // and the user is told where it is.
        const QString name = path.section('/', -1);
        bool named = false;
        for (const MessageBoxCall& call : env->boxes.Calls())
            named = named || call.text.contains(name);
        EXPECT_TRUE(named) << "nobody said that " << name.toStdString() << " is left";
    }
}

TEST_P(FileReplaceTest, ASourceThatCannotBeReadLeavesTheOldFile) {
    const TreeHashes before = Both();
    EXPECT_FALSE(Copy()); // no source.bin anywhere
    EXPECT_EQ(env->boxes.Captions(), QStringList({"Error Copying File"}));
    EXPECT_EQ(Both(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, FileReplaceTest,
    testing::Combine(testing::Values(FtpServer::Kind::Vsftpd, FtpServer::Kind::Pyftpdlib),
                     testing::Values(Direction::LocalToFtp, Direction::FtpToLocal,
                                     Direction::FtpToFtp)),
    ParamName);

class LocalReplaceTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        ASSERT_TRUE(env->Connect());
        dlg = env->NewStatusWindow();
    }
    void TearDown() override {
        dlg.reset();
        ServerTest::TearDown();
    }
    std::unique_ptr<CCommStatusDlg> dlg;
};

TEST_P(LocalReplaceTest, ALinkInThePlaceOfTheDownloadIsReplacedNotWhatItPointsTo) {
    const QByteArray outside = RandomBytes(5000);
    ASSERT_TRUE(TransferEnv::WriteLocal(env->Local("outside.bin"), outside));
    ASSERT_EQ(::symlink(QFile::encodeName(env->Local("outside.bin")),
                        QFile::encodeName(env->Local("link.bin"))),
              0);
    const QByteArray data = RandomBytes(3000);
    ASSERT_TRUE(env->server.WriteFile("data.bin", data));
    ASSERT_TRUE(Await(dlg->CopyFtpToLocal("/data.bin", env->Local("link.bin"))));
    EXPECT_FALSE(QFileInfo(env->Local("link.bin")).isSymLink());
    EXPECT_TRUE(TransferEnv::ReadLocal(env->Local("link.bin")) == data);
    EXPECT_TRUE(TransferEnv::ReadLocal(env->Local("outside.bin")) == outside);
    EXPECT_EQ(HashTree(env->Local("")).size(), 2u);
}

// A small file system of its own, so that a download can fill it. Mounting needs
// root and a kernel that lets this process mount.
class SmallDisk {
public:
    explicit SmallDisk(const QString& path) : m_path(QFile::encodeName(path)) {
        if (::geteuid() != 0) {
            m_why = "mounting a tmpfs needs root";
            return;
        }
        if (::mount("tmpfs", m_path.constData(), "tmpfs", 0, "size=1m") != 0) {
            m_why = std::string("mount: ") + std::strerror(errno);
            return;
        }
        m_mounted = true;
    }
    ~SmallDisk() {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    bool Mounted() const { return m_mounted; }
    const std::string& Why() const { return m_why; }

private:
    QByteArray m_path;
    bool m_mounted = false;
    std::string m_why;
};

TEST_P(LocalReplaceTest, AFullDiskLeavesTheOldFileAndSaysSo) {
    const QString disk = env->Local("disk");
    ASSERT_TRUE(QDir().mkpath(disk));
    SmallDisk small(disk);
    if (!small.Mounted())
        GTEST_SKIP() << "no small disk to fill: " << small.Why();
    const QByteArray old = RandomBytes(300 * 1000);
    ASSERT_TRUE(TransferEnv::WriteLocal(disk + "/keep.bin", old));
    ASSERT_TRUE(env->server.WriteFile("big.bin", RandomBytes(3 * 1000 * 1000)));
    const TreeHashes before = HashTree(disk);
    EXPECT_FALSE(Await(dlg->CopyFtpToLocal("/big.bin", disk + "/keep.bin")));
    EXPECT_EQ(env->boxes.Captions(), QStringList({"Error Copying File"}));
    EXPECT_EQ(env->boxes.Calls().value(0).text,
              "The program was unable to copy the selected file(s).");
    EXPECT_TRUE(TransferEnv::ReadLocal(disk + "/keep.bin") == old);
    EXPECT_EQ(HashTree(disk), before);
    // The connection is still good for the next copy.
    env->boxes.Clear();
    ASSERT_TRUE(env->server.WriteFile("small.bin", "fits"));
    EXPECT_TRUE(Await(dlg->CopyFtpToLocal("/small.bin", disk + "/keep.bin")));
    EXPECT_EQ(TransferEnv::ReadLocal(disk + "/keep.bin"), QByteArray("fits"));
}

VELMAR_BOTH_SERVERS(LocalReplaceTest);

} // namespace
