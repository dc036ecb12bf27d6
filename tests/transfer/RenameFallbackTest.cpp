// Replacing a file on a server that refuses to rename onto an existing name: the
// old file steps aside, the new one takes its name, the old one goes. Nothing
// else changes on the server.
#include <QDir>
#include "Await.h"
#include <algorithm>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "Spawned.h"
#include "TransferFixture.h"
#include "TreeHashes.h"

namespace {

// no_replace_rename_server.py over a temporary folder, for the life of the object.
class NoReplaceServer {
public:
    explicit NoReplaceServer(const QString& quirks = QString())
        : m_process({QStringLiteral("/usr/bin/python3"),
                     QStringLiteral(VELMAR_SOURCE_DIR "/tests/transfer/no_replace_rename_server.py"),
                     m_root.path(), QStringLiteral("user"), QStringLiteral("secret"), quirks}) {
        const QByteArray line = m_process.WaitForLine("port ", 10000).trimmed();
        if (!line.isEmpty())
            m_port = line.mid(5).toInt();
    }
    int Port() const { return m_port; }
    QString Root() const { return m_root.path(); }
    QString PathOf(const QString& rel) const { return m_root.path() + "/" + rel; }
    // The renames the server refused so far.
    QStringList Refusals() const {
        QStringList refused;
        for (const QString& line : QString::fromUtf8(m_process.Output()).split('\n'))
            if (line.startsWith("refused RNTO "))
                refused << line.mid(13);
        return refused;
    }

private:
    QTemporaryDir m_root;
    Spawned m_process;
    int m_port = 0;
};

class RenameFallbackTest : public testing::Test {
protected:
    explicit RenameFallbackTest(const QString& quirks = QString()) : server(quirks) {}
    void SetUp() override {
        ASSERT_GT(server.Port(), 0) << "the scripted server did not start";
        CProfile profile = env.app->Site().Profile();
        profile.m_address = QStringLiteral("127.0.0.1:%1").arg(server.Port());
        profile.m_userId = QStringLiteral("user");
        profile.m_password = QStringLiteral("secret");
        env.app->Site().SetProfile(profile);
        ASSERT_TRUE(env.Connect());
        dlg = env.NewStatusWindow();
    }
    static bool Write(const QString& path, const QByteArray& data) {
        return TransferEnv::WriteLocal(path, data);
    }

    NoReplaceServer server;
    TransferEnv env{FtpServer::Kind::Pyftpdlib};
    std::unique_ptr<CCommStatusDlg> dlg;
};

TEST_F(RenameFallbackTest, UploadAndServerCopyReplaceTheFileThroughAnAsideName) {
    const QByteArray old = RandomBytes(7000);
    const QByteArray fresh = RandomBytes(250000);
    ASSERT_TRUE(Write(server.PathOf("target.bin"), old));
    ASSERT_TRUE(Write(env.Local("up.bin"), fresh));
    TreeHashes expected = HashTree(server.Root());
    expected["target.bin"] = HashOf(fresh);
    ASSERT_TRUE(Await(dlg->CopyLocalToFtp(env.Local("up.bin"), "/target.bin")));
    EXPECT_EQ(env.boxes.Count(), 0);
    EXPECT_EQ(HashTree(server.Root()), expected);
    EXPECT_EQ(server.Refusals(), QStringList{"/target.bin"}) << "the fallback was not needed";

    // The same on the server, from one file to another.
    const QByteArray other = RandomBytes(120000);
    ASSERT_TRUE(Write(server.PathOf("other.bin"), other));
    expected = HashTree(server.Root());
    expected["target.bin"] = HashOf(other);
    ASSERT_TRUE(Await(dlg->CopyFtpToFtp("/other.bin", "/target.bin")));
    EXPECT_EQ(env.boxes.Count(), 0);
    EXPECT_EQ(HashTree(server.Root()), expected);
    EXPECT_EQ(server.Refusals().size(), 2);
}

TEST_F(RenameFallbackTest, ANewNameNeedsNoRenameAndACancelLeavesTheOldFile) {
    const QByteArray data = RandomBytes(3000);
    ASSERT_TRUE(Write(env.Local("new.bin"), data));
    ASSERT_TRUE(Await(dlg->CopyLocalToFtp(env.Local("new.bin"), "/new.bin")));
    EXPECT_EQ(HashTree(server.Root()), TreeHashes({{"new.bin", HashOf(data)}}));
    EXPECT_TRUE(server.Refusals().isEmpty());

    ASSERT_TRUE(Write(env.Local("big.bin"), RandomBytes(5 * 1000 * 1000)));
    const TreeHashes before = HashTree(server.Root());
    dlg->m_blockObserver = [&](const BlockReport& r) {
        if (r.blockIndex == 500)
            dlg->OnCancelCommunication();
    };
    EXPECT_FALSE(Await(dlg->CopyLocalToFtp(env.Local("big.bin"), "/new.bin")));
    EXPECT_EQ(env.boxes.Captions(), QStringList{"Communication Cancelled"});
    EXPECT_EQ(HashTree(server.Root()), before);
}

// Servers that refuse renames, hidden names or the removal of an old file: a
// new name still arrives whole under its own name, an old file is never lost,
// and whatever is left is named with a file's caption.
struct QuirkRow {
    const char* quirks;
    bool replace;               // the target exists before the upload
    const char* captions;       // the boxes, comma-separated
    bool leftAside;             // a ".target.bin.velmar-old-" file stays
};

class QuirkyServerTest : public RenameFallbackTest, public testing::WithParamInterface<QuirkRow> {
protected:
    QuirkyServerTest() : RenameFallbackTest(QString::fromLatin1(GetParam().quirks)) {}
};

TEST_P(QuirkyServerTest, TheFileArrivesWholeAndNothingIsLost) {
    const QuirkRow& row = GetParam();
    const QByteArray old = RandomBytes(7000);
    const QByteArray fresh = RandomBytes(250000);
    if (row.replace) {
        ASSERT_TRUE(Write(server.PathOf("target.bin"), old));
    }
    // Twice: the second copy meets a site that already knows the server's ways.
    for (const char* name : {"target.bin", "second.bin"}) {
        const QString target = row.replace ? QStringLiteral("target.bin") : QString(name);
        ASSERT_TRUE(Write(env.Local(name), fresh));
        const bool copied = Await(dlg->CopyLocalToFtp(env.Local(name), "/" + target));
        EXPECT_EQ(copied, QString(row.captions).isEmpty() || row.leftAside) << name;
        EXPECT_EQ(TransferEnv::ReadLocal(server.PathOf(target)), copied ? fresh : old) << name;
    }
    // A new file written under its own name is said so in the status window.
    if (!row.replace) {
        EXPECT_TRUE(dlg->GetDlgItemText(1034).contains("its own name"))
            << dlg->GetDlgItemText(1034).toStdString();
    }
    QStringList expected = QString(row.captions).split(',', Qt::SkipEmptyParts);
    EXPECT_EQ(env.boxes.Captions(), expected);
    QStringList names = QDir(server.Root()).entryList(QDir::Files | QDir::Hidden);
    names.removeOne("target.bin");
    names.removeOne("second.bin");
    EXPECT_EQ(names.size(), row.leftAside ? 2 : 0) << names.join(' ').toStdString();
    for (const QString& name : names) {
        EXPECT_TRUE(name.startsWith(".target.bin.velmar-old-")) << name.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Quirks, QuirkyServerTest,
    testing::Values(QuirkRow{"no-rename", false, "", false},
                    QuirkRow{"no-dot-stor", false, "", false},
                    QuirkRow{"no-dot-stor", true, "Error Copying File,Error Copying File", false},
                    QuirkRow{"keep-old", true, "Error Deleting File,Error Deleting File", true}),
    [](const testing::TestParamInfo<QuirkRow>& info) {
        std::string name = info.param.quirks;
        std::replace(name.begin(), name.end(), '-', '_');
        return name + (info.param.replace ? "_replace" : "_new");
    });

} // namespace
