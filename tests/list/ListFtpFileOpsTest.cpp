// The list pane's file operations on the FTP side, against real servers.
#include <QLineEdit>
#include "Await.h"
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

#include "ListTestUtil.h"

using namespace listtest;

namespace {
const QString kConfirmDelete = QStringLiteral("Confirm File Delete");

class FtpFileOps : public testing::TestWithParam<FtpServer::Kind> {
protected:
    void SetUp() override {
        server = std::make_unique<FtpServer>(GetParam());
        ASSERT_TRUE(server->IsRunning()) << server->Error().toStdString();
    }
    // Makes each folder of a relative path writable by the server's user.
    bool MakeDirs(const QString& rel) {
        QString path;
        for (const QString& part : rel.split(QLatin1Char('/'))) {
            path += (path.isEmpty() ? QString() : QStringLiteral("/")) + part;
            if (!server->MakeDir(path))
                return false;
        }
        return true;
    }
    bool Exists(const QString& rel) const { return QFileInfo::exists(server->PathOf(rel)); }
    void StartApp() {
        f = StartWith(*server);
        list = f->FtpList();
        f->Boxes().Clear();
    }
    QLineEdit* Editor(int row) {
        return qobject_cast<QLineEdit*>(list->indexWidget(list->Model()->index(row, 0)));
    }

    std::unique_ptr<FtpServer> server;
    std::unique_ptr<AppFixture> f;
    CMyListView* list = nullptr;
};

TEST_P(FtpFileOps, NewFolderTakesTheFirstFreeNumberOnTheServer) {
    ASSERT_TRUE(MakeDirs(QStringLiteral("NewFolder1")));
    ASSERT_TRUE(MakeDirs(QStringLiteral("NewFolder3")));
    StartApp();
    ASSERT_EQ(list->ItemCount(), 2);
    ASSERT_TRUE(Await(list->NewFolder()));
    EXPECT_TRUE(QFileInfo(server->PathOf(QStringLiteral("NewFolder2"))).isDir());
    ASSERT_EQ(Names(list).last(), QStringLiteral("NewFolder2"));
    EXPECT_EQ(list->ItemImage(2), IMG_FTP_FOLDER);
    EXPECT_FALSE(Cell(list, 2, 2).isEmpty());
    EXPECT_EQ(list->m_editing, 1);
    // The tree shows the new folder under the root.
    EXPECT_TRUE(Labels(f->FtpTree()->m_rootItem).contains(QStringLiteral("NewFolder2")));
    QLineEdit* editor = Editor(2);
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("Named"));
    QTest::keyClick(editor, Qt::Key_Return); AwaitSpawned();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(QFileInfo(server->PathOf(QStringLiteral("Named"))).isDir());
    EXPECT_FALSE(Exists(QStringLiteral("NewFolder2")));
    EXPECT_EQ(list->ItemName(2), QStringLiteral("Named"));
    EXPECT_TRUE(f->Boxes().Calls().isEmpty());
}

TEST_P(FtpFileOps, NewFolderOverAnUnshownNameAddsNothing) {
    StartApp();
    ASSERT_TRUE(MakeDirs(QStringLiteral("NewFolder1")));
    EXPECT_FALSE(Await(list->NewFolder()));
    EXPECT_EQ(f->Boxes().Captions(), QStringList{QStringLiteral("Error Creating Directory")});
    EXPECT_EQ(list->ItemCount(), 0);
}

TEST_P(FtpFileOps, RenameToAnExistingNameLosesNothing) {
    ASSERT_TRUE(server->WriteFile(QStringLiteral("a.txt"), "AAA"));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("b.txt"), "BBB"));
    StartApp();
    const int row = RowOf(list, QStringLiteral("a.txt"));
    list->OnEndLabelEdit(row, QStringLiteral("b.txt")); AwaitSpawned();
    EXPECT_EQ(f->Boxes().Captions(), QStringList{QStringLiteral("Error Renaming File")});
    EXPECT_EQ(server->ReadFile(QStringLiteral("a.txt")), QByteArray("AAA"));
    EXPECT_EQ(server->ReadFile(QStringLiteral("b.txt")), QByteArray("BBB"));
    EXPECT_EQ(list->ItemName(row), QStringLiteral("a.txt"));
    ASSERT_NE(Editor(row), nullptr);
    EXPECT_EQ(list->m_editing, 1);
    QTest::keyClick(Editor(row), Qt::Key_Escape); AwaitSpawned();
    QCoreApplication::processEvents();
    // And a rename to a free name goes through.
    list->OnEndLabelEdit(row, QStringLiteral("c.txt")); AwaitSpawned();
    EXPECT_EQ(server->ReadFile(QStringLiteral("c.txt")), QByteArray("AAA"));
    EXPECT_FALSE(Exists(QStringLiteral("a.txt")));
    EXPECT_EQ(list->ItemName(row), QStringLiteral("c.txt"));
    EXPECT_EQ(f->Boxes().Count(), 1);
}

TEST_P(FtpFileOps, DeleteSeveralItemsWithFoldersInsideFolders) {
    ASSERT_TRUE(server->WriteFile(QStringLiteral("a.txt"), "1"));
    ASSERT_TRUE(MakeDirs(QStringLiteral("site/img/thumbs")));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("site/index.html"), "2"));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("site/img/a.png"), "3"));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("site/img/thumbs/t.png"), "4"));
    ASSERT_TRUE(MakeDirs(QStringLiteral("empty")));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("keep.txt"), "5"));
    StartApp();
    list->SelectRows({RowOf(list, QStringLiteral("a.txt")), RowOf(list, QStringLiteral("site")),
                      RowOf(list, QStringLiteral("empty"))});
    QTest::keyClick(list, Qt::Key_Delete); AwaitSpawned();
    EXPECT_EQ(f->Boxes().Captions(), QStringList{kConfirmDelete});
    EXPECT_FALSE(Exists(QStringLiteral("a.txt")));
    EXPECT_FALSE(Exists(QStringLiteral("site")));
    EXPECT_FALSE(Exists(QStringLiteral("empty")));
    EXPECT_EQ(server->ReadFile(QStringLiteral("keep.txt")), QByteArray("5"));
    EXPECT_EQ(Names(list), QStringList{QStringLiteral("keep.txt")});
    EXPECT_EQ(f->Frame()->PaneText(2), QStringLiteral("FTP: 1 Items"));
    EXPECT_FALSE(Labels(f->FtpTree()->m_rootItem).contains(QStringLiteral("site")));
}

TEST_P(FtpFileOps, CancelDeletesNothing) {
    ASSERT_TRUE(server->WriteFile(QStringLiteral("a.txt"), "1"));
    ASSERT_TRUE(MakeDirs(QStringLiteral("dir")));
    StartApp();
    list->SelectRows({0, 1});
    f->Boxes().Answer(IDCANCEL);
    list->DeleteSelected(); AwaitSpawned();
    EXPECT_TRUE(Exists(QStringLiteral("a.txt")));
    EXPECT_TRUE(Exists(QStringLiteral("dir")));
    EXPECT_EQ(list->ItemCount(), 2);
}

TEST_P(FtpFileOps, FolderHoldingADotFolderKeepsItAndReports) {
    ASSERT_TRUE(MakeDirs(QStringLiteral("proj/.svn")));
    ASSERT_TRUE(MakeDirs(QStringLiteral("proj/src")));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("proj/src/main.c"), "c"));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("proj/readme"), "r"));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("z.txt"), "z"));
    StartApp();
    list->SelectRows({RowOf(list, QStringLiteral("proj")), RowOf(list, QStringLiteral("z.txt"))});
    list->DeleteSelected(); AwaitSpawned();
    EXPECT_EQ(f->Boxes().Captions(),
              (QStringList{kConfirmDelete, QStringLiteral("Error Deleting Folder")}));
    EXPECT_TRUE(Exists(QStringLiteral("proj/.svn")));
    EXPECT_FALSE(Exists(QStringLiteral("proj/src")));
    EXPECT_FALSE(Exists(QStringLiteral("proj/readme")));
    EXPECT_TRUE(Exists(QStringLiteral("z.txt")));
}

TEST_P(FtpFileOps, ADeleteNeedsNoFurtherLoginAndAFailedOneSaysWhatRemains) {
    ASSERT_TRUE(MakeDirs(QStringLiteral("dir/sub")));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("dir/f"), "f"));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("dir/sub/g"), "g"));
    StartApp();
    // The main connection stands; a further login would be refused, and the
    // delete does not need one.
    CProfile profile = f->App().Site().Profile();
    profile.m_password = server->BadPassword();
    profile.m_userId = server->BadUser();
    f->App().Site().SetProfile(profile);
    EXPECT_TRUE(Await(list->DeleteFolderTree(list->m_path + QStringLiteral("dir/"))));
    EXPECT_TRUE(f->Boxes().Calls().isEmpty());
    EXPECT_FALSE(Exists(QStringLiteral("dir")));
    // A folder that is not there: an error that says nothing was deleted.
    EXPECT_FALSE(Await(list->DeleteFolderTree(list->m_path + QStringLiteral("missing/"))));
    ASSERT_EQ(f->Boxes().Captions(), QStringList{QStringLiteral("Error Deleting Folder")});
    EXPECT_TRUE(f->Boxes().Calls().first().text.contains(QStringLiteral("Nothing was deleted")));
}

TEST_P(FtpFileOps, ForceFlagsChooseTheSideOfTheDelete) {
    ASSERT_TRUE(MakeDirs(QStringLiteral("both")));
    ASSERT_TRUE(server->WriteFile(QStringLiteral("both/remote"), "r"));
    StartApp();
    LocalDir d;
    ASSERT_TRUE(d.Dir(QStringLiteral("both")));
    ASSERT_TRUE(d.File(QStringLiteral("both/local")));
    CMyListView* local = f->LocalList();
    // The FTP pane made to work on the local disk, the local pane on the server.
    list->m_forceLocal = 1;
    EXPECT_TRUE(Await(list->DeleteFolderTree(d.PathOf(QStringLiteral("both/")))));
    list->m_forceLocal = 0;
    EXPECT_FALSE(d.Exists(QStringLiteral("both")));
    EXPECT_TRUE(Exists(QStringLiteral("both/remote")));
    local->m_forceFtp = 1;
    EXPECT_TRUE(Await(local->DeleteFolderTree(list->m_path + QStringLiteral("both/"))));
    local->m_forceFtp = 0;
    EXPECT_FALSE(Exists(QStringLiteral("both")));
    EXPECT_TRUE(f->Boxes().Calls().isEmpty());
}

// A server without UTF-8 whose names are Latin-1 bytes: the list shows them, and a
// rename and a delete through the list reach the same bytes.
TEST(FtpFileOpsLatin1, NamesShowRenameAndDeleteUnderTheirOwnBytes) {
    ::setenv("VELMAR_PYFTPD_RAW_NAMES", "1", 1);
    FtpServer server(FtpServer::Kind::Pyftpdlib);
    ::unsetenv("VELMAR_PYFTPD_RAW_NAMES");
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    const std::string root = QFile::encodeName(server.Root()).toStdString() + "/";
    const auto raw = [&](const char* name) { return root + name; };
    ASSERT_EQ(::mkdir(raw("d\xe9j\xe0").c_str(), 0777), 0);
    for (const char* file : {"caf\xe9.txt", "d\xe9j\xe0/\xfc.bin"}) {
        std::ofstream out(raw(file), std::ios::binary);
        out << "latin";
    }
    auto f = StartWith(server);
    CMyListView* list = f->FtpList();
    f->Boxes().Clear();
    ASSERT_EQ(Names(list),
              (QStringList{QStringLiteral("d\u00e9j\u00e0"), QStringLiteral("caf\u00e9.txt")}));
    list->OnEndLabelEdit(RowOf(list, QStringLiteral("caf\u00e9.txt")),
                         QStringLiteral("th\u00e9.txt")); AwaitSpawned();
    EXPECT_TRUE(f->Boxes().Calls().isEmpty());
    struct stat st {};
    EXPECT_EQ(::lstat(raw("th\xe9.txt").c_str(), &st), 0);
    EXPECT_NE(::lstat(raw("caf\xe9.txt").c_str(), &st), 0);
    list->SelectRows({RowOf(list, QStringLiteral("d\u00e9j\u00e0"))});
    list->DeleteSelected(); AwaitSpawned();
    EXPECT_EQ(f->Boxes().Captions(), QStringList{kConfirmDelete});
    EXPECT_NE(::lstat(raw("d\xe9j\xe0").c_str(), &st), 0);
    EXPECT_EQ(Names(list), QStringList{QStringLiteral("th\u00e9.txt")});
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpFileOps, testing::ValuesIn(AllServerKinds()), KindName);
} // namespace
