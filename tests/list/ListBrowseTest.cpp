// Browsing in the list panes: the columns, the filling from a local folder and
// from the FTP listing, the counts, the re-sort without reading.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "Await.h"
#include "ListTestUtil.h"

using namespace listtest;

namespace {
// Sets a file's modification time (seconds since 1970, 64-bit).
bool Touch(const QString& path, std::int64_t time) {
    struct timeval times[2] = {{static_cast<time_t>(time), 0}, {static_cast<time_t>(time), 0}};
    return ::utimes(QFile::encodeName(path).constData(), times) == 0;
}

TEST(ListBrowse, ColumnsTitlesAlignmentWidthsAndBehaviour) {
    auto f = StartOffline();
    for (CMyListView* list : {f->LocalList(), f->FtpList()}) {
        const QAbstractItemModel* m = list->model();
        ASSERT_EQ(m->columnCount(), 3);
        const char* titles[3] = {"Name", "Size", "Modified"};
        // Name takes the width that Size and Modified leave.
        const int widths[3] = {list->viewport()->width() - 70 - 130, 70, 130};
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(m->headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(titles[c]));
            EXPECT_EQ(list->header()->sectionSize(c), widths[c]);
            const auto align =
                m->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>();
            EXPECT_EQ(bool(align & Qt::AlignRight), c == 1);
        }
        EXPECT_FALSE(list->rootIsDecorated());
        EXPECT_TRUE(list->uniformRowHeights());
        EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        EXPECT_FALSE(list->isSortingEnabled());
        EXPECT_FALSE(list->accessibleName().isEmpty());
    }
    EXPECT_EQ(f->LocalList()->m_side, 0);
    EXPECT_EQ(f->FtpList()->m_side, 1);
}

TEST(ListBrowse, LocalFolderWithSizesDatesCountAndFirstRowSelected) {
    auto f = StartOffline();
    LocalDir d;
    ASSERT_TRUE(d.File(QStringLiteral("b.txt"), QByteArray(1234, 'b')));
    ASSERT_TRUE(d.File(QStringLiteral("A.txt"), QByteArray(999, 'a')));
    ASSERT_TRUE(d.File(QStringLiteral(".profile")));
    ASSERT_TRUE(d.Dir(QStringLiteral("zdir")));
    ASSERT_TRUE(d.Dir(QStringLiteral(".hidden")));
    ASSERT_TRUE(Touch(d.PathOf(QStringLiteral("A.txt")), 0x90000000LL)); // 2046
    CMyListView* list = f->LocalList();
    StatusRecorder status(f->Frame());
    Show(list, d.Path());
    EXPECT_EQ(status.Texts(), (QStringList{QStringLiteral("Reading Local Directory - Please Wait"),
                                           QStringLiteral("Ready")}));
    // Names that begin with "." are shown: a leftover must be seen to be deleted.
    EXPECT_EQ(Names(list), (QStringList{QStringLiteral(".hidden"), QStringLiteral("zdir"),
                                        QStringLiteral(".profile"), QStringLiteral("A.txt"),
                                        QStringLiteral("b.txt")}));
    EXPECT_EQ(Cell(list, 0, 1), QString());
    EXPECT_EQ(Cell(list, 3, 1), QStringLiteral("999"));
    EXPECT_EQ(Cell(list, 4, 1), QStringLiteral("1,234"));
    EXPECT_EQ(Cell(list, 3, 2), CMyListView::FormatModified(0x90000000LL));
    EXPECT_TRUE(Cell(list, 3, 2).contains(QStringLiteral("/46 ")));
    EXPECT_EQ(list->ItemImage(0), IMG_LOCAL_FOLDER);
    EXPECT_EQ(list->ItemImage(3), IMG_LOCAL_FILE);
    EXPECT_EQ(list->SelectedRows(), QList<int>{0});
    EXPECT_EQ(f->Frame()->PaneText(1), QStringLiteral("Local: 5 Items"));
    EXPECT_EQ(f->Frame()->PaneText(0), QStringLiteral("Ready"));
    // The pane keeps every entry read, the dot names too, in the order read.
    EXPECT_EQ(list->m_entries.size(), 7u);
    EXPECT_EQ(list->m_entries[0].name, QStringLiteral("."));
    EXPECT_EQ(list->m_entries[1].name, QStringLiteral(".."));
}

TEST(ListBrowse, FolderWithOnlyDotEntriesAndMissingFolderShowNothing) {
    auto f = StartOffline();
    LocalDir d;
    CMyListView* list = f->LocalList();
    Show(list, d.Path());
    EXPECT_EQ(list->ItemCount(), 0);
    EXPECT_EQ(f->Frame()->PaneText(1), QStringLiteral("Local: 0 Items"));
    Show(list, d.PathOf(QStringLiteral("missing/")));
    EXPECT_EQ(list->ItemCount(), 0);
    EXPECT_TRUE(f->Boxes().Calls().isEmpty());
    EXPECT_EQ(f->Frame()->PaneText(0), QStringLiteral("Ready"));
}

TEST(ListBrowse, FileOver4GiBShowsItsWholeSize) {
    auto f = StartOffline();
    LocalDir d;
    {
        QFile big(d.PathOf(QStringLiteral("big.iso")));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(5368709121LL)); // sparse: takes no disk
    }
    Show(f->LocalList(), d.Path());
    EXPECT_EQ(Cell(f->LocalList(), 0, 1), QStringLiteral("5,368,709,121"));
}

// The four Sort By commands on one folder; the order is the frame's command's.
TEST(ListBrowse, EverySortOrderPutsFoldersFirstAndSortsWithoutReading) {
    auto f = StartOffline();
    LocalDir d;
    ASSERT_TRUE(d.File(QStringLiteral("a.b.c"), "12345"));
    ASSERT_TRUE(d.File(QStringLiteral("notes."), "12"));
    ASSERT_TRUE(d.File(QStringLiteral("Zed.txt"), "12"));
    ASSERT_TRUE(d.File(QStringLiteral("b.txt"), "1"));
    ASSERT_TRUE(d.Dir(QStringLiteral("sub.dir")));
    ASSERT_TRUE(d.Dir(QStringLiteral("Alpha")));
    ASSERT_TRUE(Touch(d.PathOf(QStringLiteral("a.b.c")), 100000));
    ASSERT_TRUE(Touch(d.PathOf(QStringLiteral("notes.")), 300000));
    ASSERT_TRUE(Touch(d.PathOf(QStringLiteral("Zed.txt")), 200000));
    ASSERT_TRUE(Touch(d.PathOf(QStringLiteral("b.txt")), 200000));
    ASSERT_TRUE(Touch(d.PathOf(QStringLiteral("sub.dir")), 1));
    ASSERT_TRUE(Touch(d.PathOf(QStringLiteral("Alpha")), 2));
    CMyListView* list = f->LocalList();
    Show(list, d.Path());
    const struct {
        int command;
        QStringList order;
    } cases[] = {
        {ID_SORT_NAME, {"Alpha", "sub.dir", "a.b.c", "b.txt", "notes.", "Zed.txt"}},
        {ID_SORT_EXTENSION, {"Alpha", "sub.dir", "notes.", "a.b.c", "b.txt", "Zed.txt"}},
        {ID_SORT_SIZE, {"Alpha", "sub.dir", "b.txt", "notes.", "Zed.txt", "a.b.c"}},
        {ID_SORT_DATE, {"sub.dir", "Alpha", "a.b.c", "b.txt", "Zed.txt", "notes."}},
    };
    // Deleted behind the pane's back: a re-sort reads nothing, so it stays.
    ASSERT_TRUE(QFile::remove(d.PathOf(QStringLiteral("b.txt"))));
    for (const auto& c : cases) {
        f->Frame()->OnSortBy(c.command);
        EXPECT_EQ(Names(list), c.order) << c.command;
        EXPECT_EQ(f->Frame()->PaneText(1), QStringLiteral("Local: 6 Items"));
    }
    // The next filling reads again.
    Show(list, d.Path());
    EXPECT_EQ(RowOf(list, QStringLiteral("b.txt")), -1);
}

TEST(ListBrowse, ModelPassesTheModelTester) {
    auto f = StartOffline();
    LocalDir d;
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(d.File(QStringLiteral("f%1").arg(i), QByteArray(i, 'x')));
    ASSERT_TRUE(d.Dir(QStringLiteral("dir")));
    CMyListView* list = f->LocalList();
    QAbstractItemModelTester tester(list->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    Show(list, d.Path());
    f->Frame()->OnSortBy(ID_SORT_SIZE);
    list->Model()->SetDropTarget(3);
    list->Model()->SetDropTarget(-1);
    list->DeleteAllItems();
    Show(list, d.Path());
    for (int r = 0; r < list->ItemCount(); ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(list->model()->index(r, c).data(Qt::AccessibleTextRole).toString(),
                      Cell(list, r, c));
}

TEST(ListBrowse, DoubleClickAndHeaderClickChangeNothing) {
    auto f = StartOffline();
    LocalDir d;
    ASSERT_TRUE(d.Dir(QStringLiteral("inner")));
    ASSERT_TRUE(d.File(QStringLiteral("inner/deep")));
    ASSERT_TRUE(d.File(QStringLiteral("b")));
    ASSERT_TRUE(d.File(QStringLiteral("a")));
    CMyListView* list = f->LocalList();
    Show(list, d.Path());
    const QStringList before = Names(list);
    const QPoint cell = list->visualRect(list->Model()->index(0, 0)).center();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell);
    // A click on a selected item would open its name after the double-click time.
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    EXPECT_EQ(list->m_path, d.Path());
    EXPECT_EQ(Names(list), before);
    EXPECT_EQ(list->m_editing, 0);
    QHeaderView* header = list->header();
    const QPoint title(header->sectionViewportPosition(0) + 10, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, title);
    EXPECT_EQ(Names(list), before);
}

TEST(ListBrowse, LocalListFollowsTheTreeSelection) {
    auto f = StartOffline();
    LocalDir d;
    ASSERT_TRUE(d.Dir(QStringLiteral("sub")));
    ASSERT_TRUE(d.File(QStringLiteral("sub/inside.txt")));
    QTreeWidgetItem* item = OpenLocal(f->LocalTree(), d.Path() + QStringLiteral("sub"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(f->LocalList()->m_treeItem, item);
    EXPECT_EQ(f->LocalList()->m_path, d.Path() + QStringLiteral("sub/"));
    EXPECT_EQ(Names(f->LocalList()), QStringList{QStringLiteral("inside.txt")});
}

TEST(ListBrowse, FtpListWithoutAConnectionIsEmpty) {
    auto f = StartOffline();
    ASSERT_TRUE(f->App().Site().IsUnavailable());
    CMyListView* list = f->FtpList();
    list->m_skipFtpRead = 0;
    // A listing of a connection that went away is not shown either.
    DirEntry stale;
    stale.name = QStringLiteral("stale");
    f->App().Site().SetListing({stale});
    Show(list, QStringLiteral("//"));
    EXPECT_EQ(list->ItemCount(), 0);
    EXPECT_EQ(f->Frame()->PaneText(2), QStringLiteral("FTP: 0 Items"));
    EXPECT_EQ(f->Frame()->PaneText(0), QStringLiteral("Ready"));
    EXPECT_FALSE(f->App().Comm().InProgress());
    EXPECT_TRUE(f->Frame()->isEnabled());
}

class FtpBrowse : public testing::TestWithParam<FtpServer::Kind> {};

TEST_P(FtpBrowse, FirstFillShowsTheTreesListingThenSelectionsRead) {
    FtpServer server(GetParam());
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    ASSERT_TRUE(server.WriteFile(QStringLiteral("zeta.bin"), QByteArray(2500, 'z')));
    ASSERT_TRUE(server.WriteFile(QStringLiteral(".htaccess"), "deny"));
    ASSERT_TRUE(server.MakeDir(QStringLiteral("pub")));
    ASSERT_TRUE(server.WriteFile(QStringLiteral("pub/inner.txt"), "in"));
    auto f = StartWith(server);
    CMyListView* list = f->FtpList();
    EXPECT_EQ(list->m_skipFtpRead, 0);
    EXPECT_EQ(Names(list), (QStringList{QStringLiteral("pub"), QStringLiteral(".htaccess"),
                                        QStringLiteral("zeta.bin")}));
    EXPECT_EQ(list->ItemImage(0), IMG_FTP_FOLDER);
    EXPECT_EQ(list->ItemImage(2), IMG_FTP_FILE);
    EXPECT_EQ(Cell(list, 2, 1), QStringLiteral("2,500"));
    EXPECT_FALSE(Cell(list, 2, 2).isEmpty());
    EXPECT_EQ(f->Frame()->PaneText(2), QStringLiteral("FTP: 3 Items"));
    EXPECT_EQ(list->SelectedRows(), QList<int>{0});

    // The first filling takes the shared listing as it stands, without reading.
    DirEntry only;
    only.name = QStringLiteral("from-the-tree");
    f->App().Site().SetListing({only});
    list->m_skipFtpRead = 1;
    Await(list->Populate(list->m_path));
    EXPECT_EQ(Names(list), QStringList{QStringLiteral("from-the-tree")});
    EXPECT_EQ(list->m_skipFtpRead, 0);
    // Every later filling reads the folder from the server.
    Await(list->Populate(list->m_path));
    EXPECT_EQ(Names(list), (QStringList{QStringLiteral("pub"), QStringLiteral(".htaccess"),
                                        QStringLiteral("zeta.bin")}));

    ASSERT_NE(OpenFtp(f->FtpTree(), {QStringLiteral("pub")}), nullptr);
    EXPECT_EQ(Names(list), QStringList{QStringLiteral("inner.txt")});
    EXPECT_FALSE(f->App().Comm().InProgress());
    EXPECT_TRUE(f->Frame()->isEnabled());
}

TEST_P(FtpBrowse, ResortReadsNothingFromTheServer) {
    FtpServer server(GetParam());
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    ASSERT_TRUE(server.WriteFile(QStringLiteral("a.zip"), "1234"));
    ASSERT_TRUE(server.WriteFile(QStringLiteral("b.txt"), "1"));
    auto f = StartWith(server);
    CMyListView* list = f->FtpList();
    ASSERT_EQ(Names(list), (QStringList{QStringLiteral("a.zip"), QStringLiteral("b.txt")}));
    ASSERT_TRUE(QFile::remove(server.PathOf(QStringLiteral("a.zip"))));
    f->Frame()->OnSortBy(ID_SORT_EXTENSION);
    EXPECT_EQ(Names(list), (QStringList{QStringLiteral("b.txt"), QStringLiteral("a.zip")}));
    f->Frame()->OnSortBy(ID_SORT_NAME);
    EXPECT_EQ(Names(list), (QStringList{QStringLiteral("a.zip"), QStringLiteral("b.txt")}));
    Await(list->Populate(list->m_path));
    EXPECT_EQ(Names(list), QStringList{QStringLiteral("b.txt")});
}

// A link to a folder is a folder of the list and opens into its target; a link
// to a file shows the size of the file it points to.
TEST_P(FtpBrowse, LinksShowAsWhatTheyPointTo) {
    FtpServer server(GetParam());
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    ASSERT_TRUE(server.MakeDir(QStringLiteral("pub")));
    ASSERT_TRUE(server.WriteFile(QStringLiteral("pub/inner.txt"), "in"));
    ASSERT_TRUE(server.WriteFile(QStringLiteral("data.bin"), QByteArray(1234, 'd')));
    for (const auto& [at, target] : {std::pair{"to-pub", "pub"}, {"to-data", "data.bin"}})
        ASSERT_EQ(::symlink(target,
                            QFile::encodeName(server.PathOf(QString::fromLatin1(at))).constData()),
                  0);
    auto f = StartWith(server);
    CMyListView* list = f->FtpList();
    ASSERT_EQ(Names(list), (QStringList{"pub", "to-pub", "data.bin", "to-data"}));
    EXPECT_EQ(list->ItemImage(1), IMG_FTP_FOLDER);
    EXPECT_TRUE(list->IsFolderItem(1));
    EXPECT_EQ(Cell(list, 1, 1), QString());
    EXPECT_EQ(list->ItemImage(3), IMG_FTP_FILE);
    EXPECT_EQ(Cell(list, 3, 1), QStringLiteral("1,234"));
    ASSERT_NE(OpenFtp(f->FtpTree(), {QStringLiteral("to-pub")}), nullptr);
    EXPECT_EQ(Names(list), QStringList{QStringLiteral("inner.txt")});
    EXPECT_TRUE(f->Boxes().Calls().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpBrowse, testing::ValuesIn(AllServerKinds()), KindName);
} // namespace
