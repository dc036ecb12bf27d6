#include <QDir>
#include "Await.h"
#include <QDirIterator>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>
#include <map>
#include <tuple>
#include <unistd.h>

#include "Job.h"
#include "LocalFind.h"
#include "TransferFixture.h"

namespace {

// A folder tree as relative path -> content ("<folder>" for a folder).
using Tree = std::map<QString, QByteArray>;
const QByteArray kFolder = "<folder>";

Tree Snapshot(const QString& root) {
    Tree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        tree[relative] = it.fileInfo().isDir() ? kFolder : TransferEnv::ReadLocal(path);
    }
    return tree;
}

// The source tree of the copies, and what must arrive of it.
const Tree kSource = {
    {"a.txt", RandomBytes(2500)},
    {".dotfile", "hidden files are copied"},
    {"sub1", kFolder},
    {"sub1/b.bin", RandomBytes(1000)},
    {"sub1/deeper", kFolder},
    {"sub1/deeper/c", ""},
    {"sub2", kFolder},
    {".hidden", kFolder},
    {".hidden/skipped.txt", "hidden folders are not"},
};

Tree Expected(const Tree& source) {
    Tree expected;
    for (const auto& [path, data] : source)
        if (!path.startsWith(".hidden"))
            expected[path] = data;
    return expected;
}

class FolderCopyTest : public testing::TestWithParam<Param> {
protected:
    void SetUp() override {
        env = std::make_unique<TransferEnv>(std::get<0>(GetParam()));
        ASSERT_TRUE(env->server.IsRunning()) << env->server.Error().toStdString();
        ASSERT_TRUE(env->Connect());
        dlg = env->NewStatusWindow();
        env->frame->setEnabled(false);
    }
    void TearDown() override {
        dlg.reset();
        env.reset();
    }
    Direction Dir() const { return std::get<1>(GetParam()); }
    bool SourceIsLocal() const { return Dir() == Direction::LocalToFtp; }
    bool DestinationIsLocal() const { return Dir() == Direction::FtpToLocal; }

    void PutSource(const QString& folder, const Tree& tree) {
        if (SourceIsLocal())
            ASSERT_TRUE(QDir().mkpath(env->Local(folder)));
        else
            ASSERT_TRUE(env->server.MakeDir(folder));
        for (const auto& [path, data] : tree) {
            const QString relative = folder + "/" + path;
            if (SourceIsLocal())
                ASSERT_TRUE(data == kFolder ? QDir().mkpath(env->Local(relative))
                                            : TransferEnv::WriteLocal(env->Local(relative), data));
            else
                ASSERT_TRUE(data == kFolder ? env->server.MakeDir(relative)
                                            : env->server.WriteFile(relative, data));
        }
    }
    QString SourcePath(const QString& folder) const {
        return SourceIsLocal() ? env->Local(folder) : "/" + folder;
    }
    QString DestinationPath(const QString& folder) const {
        return DestinationIsLocal() ? env->Local(folder) : "/" + folder;
    }
    QString DestinationOnDisk(const QString& folder) const {
        return DestinationIsLocal() ? env->Local(folder) : env->server.PathOf(folder);
    }
    bool CopyFolder(const QString& from, const QString& to) {
        switch (Dir()) {
        case Direction::LocalToFtp:
            return Await(dlg->CopyFolderLocalToFtp(SourcePath(from), DestinationPath(to)));
        case Direction::FtpToLocal:
            return Await(dlg->CopyFolderFtpToLocal(SourcePath(from), DestinationPath(to)));
        case Direction::FtpToFtp:
            return Await(dlg->CopyFolderFtpToFtp(SourcePath(from), DestinationPath(to)));
        }
        return false;
    }

    std::unique_ptr<TransferEnv> env;
    std::unique_ptr<CCommStatusDlg> dlg;
};

TEST_P(FolderCopyTest, CopiesTheTreeDepthFirstWithoutDotFolders) {
    PutSource("src", kSource);
    ASSERT_TRUE(CopyFolder("src", "dst"));
    EXPECT_EQ(Snapshot(DestinationOnDisk("dst")), Expected(kSource));
    EXPECT_EQ(env->boxes.Count(), 0);
    EXPECT_EQ(env->frame->PaneText(0), "Ready");
}

TEST_P(FolderCopyTest, EmptyFolderMakesAnEmptyDestination) {
    PutSource("empty", {});
    ASSERT_TRUE(CopyFolder("empty", "made"));
    EXPECT_TRUE(QDir(DestinationOnDisk("made")).exists());
    EXPECT_TRUE(Snapshot(DestinationOnDisk("made")).empty());
    EXPECT_EQ(env->boxes.Count(), 0);
}

TEST_P(FolderCopyTest, ExistingDestinationIsRefusedAndLeftAlone) {
    PutSource("src", kSource);
    if (DestinationIsLocal()) {
        ASSERT_TRUE(QDir().mkpath(env->Local("taken")));
        ASSERT_TRUE(TransferEnv::WriteLocal(env->Local("taken/mine.txt"), "mine"));
    } else {
        ASSERT_TRUE(env->server.MakeDir("taken"));
        ASSERT_TRUE(env->server.WriteFile("taken/mine.txt", "mine"));
    }
    EXPECT_FALSE(CopyFolder("src", "taken"));
    ASSERT_EQ(env->boxes.Count(), 1);
    EXPECT_EQ(env->boxes.Calls()[0].caption, "Error Creating Directory");
    EXPECT_EQ(env->boxes.Calls()[0].text, "The program was unable to create the new directory.");
    EXPECT_EQ(Snapshot(DestinationOnDisk("taken")), Tree({{"mine.txt", "mine"}}));
}

TEST_P(FolderCopyTest, CancelEndsTheWholeCopyWithOneMessage) {
    Tree tree = {{"one.bin", RandomBytes(5000)},
                 {"sub", kFolder},
                 {"sub/two.bin", RandomBytes(5000)},
                 {"sub/three.bin", RandomBytes(5000)},
                 {"four.bin", RandomBytes(5000)}};
    PutSource("src", tree);
    int files = 0;
    dlg->m_blockObserver = [&](const BlockReport& r) {
        if (r.blockIndex == 0 && ++files == 2)
            core::CallOnUi([&] { QTest::mouseClick(dlg->Control(1033), Qt::LeftButton); });
    };
    EXPECT_FALSE(CopyFolder("src", "dst"));
    EXPECT_EQ(env->boxes.Captions(), QStringList({"Communication Cancelled"}));
    const Tree copied = Snapshot(DestinationOnDisk("dst"));
    int complete = 0, partial = 0;
    for (const auto& [path, data] : copied) {
        if (data == kFolder)
            continue;
        if (data == tree[path])
            ++complete;
        else if (data == tree[path].left(1000))
            ++partial;
        else
            ADD_FAILURE() << path.toStdString();
    }
    // The files being copied at Cancel leave nothing, not even beside their
    // names; several run at once, so those done before it stay whole.
    EXPECT_LT(complete, 4);
    EXPECT_EQ(partial, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, FolderCopyTest,
    testing::Combine(testing::Values(FtpServer::Kind::Vsftpd, FtpServer::Kind::Pyftpdlib),
                     testing::Values(Direction::LocalToFtp, Direction::FtpToLocal,
                                     Direction::FtpToFtp)),
    ParamName);

class FtpFolderRulesTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        ASSERT_TRUE(env->Connect());
        dlg = env->NewStatusWindow();
        ASSERT_TRUE(env->server.MakeDir("src"));
        for (const auto& [path, data] : kSource)
            ASSERT_TRUE(data == kFolder ? env->server.MakeDir("src/" + path)
                                        : env->server.WriteFile("src/" + path, data));
    }
    void TearDown() override {
        dlg.reset();
        ServerTest::TearDown();
    }
    std::unique_ptr<CCommStatusDlg> dlg;
};

TEST_P(FtpFolderRulesTest, IntoItselfOrItsOwnSubfolderIsRefusedAndCreatesNothing) {
    const Tree before = Snapshot(env->server.PathOf("src"));
    const char* destinations[] = {"/src", "/src/", "/src/sub1/inner", "/src/sub2/x/y"};
    for (const char* destination : destinations) {
        env->boxes.Clear();
        EXPECT_FALSE(Await(dlg->CopyFolderFtpToFtp("/src", destination))) << destination;
        ASSERT_EQ(env->boxes.Count(), 1) << destination;
        EXPECT_EQ(env->boxes.Calls()[0].caption, "Error Copying Folder");
        EXPECT_EQ(env->boxes.Calls()[0].text,
                  "The destination folder is the same as the source folder.");
        EXPECT_EQ(env->boxes.Calls()[0].owner, dlg.get());
    }
    EXPECT_EQ(Snapshot(env->server.PathOf("src")), before);
    // A sibling whose name merely begins with the source's is not inside it.
    env->boxes.Clear();
    EXPECT_TRUE(Await(dlg->CopyFolderFtpToFtp("/src", "/src2")));
    EXPECT_EQ(env->boxes.Count(), 0);
}

TEST_P(FtpFolderRulesTest, UploadStopsAtTheFirstFailingFileAndKeepsWhatCameBefore) {
    // Five files in a subfolder; the third that the folder walk meets cannot be
    // read (a link to nothing). Which one is third is the file system's order.
    const QString src = env->Local("up");
    ASSERT_TRUE(QDir().mkpath(src + "/inner"));
    ASSERT_TRUE(TransferEnv::WriteLocal(src + "/top.txt", "top"));
    std::map<QString, QByteArray> files;
    for (const char* name : {"f1", "f2", "f3", "f4", "f5"}) {
        files[name] = RandomBytes(1500);
        ASSERT_TRUE(TransferEnv::WriteLocal(src + "/inner/" + name, files[name]));
    }
    QStringList order;
    CLocalFind find;
    ASSERT_TRUE(find.FindFirst(src + "/inner/*.*"));
    do {
        if (!find.Current().isFolder)
            order << find.Current().name;
    } while (find.FindNext());
    ASSERT_EQ(order.size(), 5);
    const QString bad = order[2];
    ASSERT_TRUE(QFile::remove(src + "/inner/" + bad));
    ASSERT_EQ(::symlink("/nonexistent/target", QFile::encodeName(src + "/inner/" + bad)), 0);

    EXPECT_FALSE(Await(dlg->CopyFolderLocalToFtp(src, "/up")));
    EXPECT_EQ(env->boxes.Captions(), QStringList({"Error Copying File"}));
    // The files before it arrived; those after it, copied at the same time, are
    // whole or not there at all.
    Tree arrived = Snapshot(env->server.PathOf("up/inner"));
    for (const QString& later : {order[3], order[4]})
        if (arrived.count(later) && arrived[later] == files[later])
            arrived.erase(later);
    EXPECT_EQ(arrived, Tree({{order[0], files[order[0]]}, {order[1], files[order[1]]}}));
}

VELMAR_BOTH_SERVERS(FtpFolderRulesTest);

} // namespace
