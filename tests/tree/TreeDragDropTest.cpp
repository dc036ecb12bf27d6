// Drags that end on a tree pane: the drag events of the program's own drags (and
// of a file manager's) sent to the panes, with real folders and real servers.
#include <QUrl>
#include "Await.h"

#include <unistd.h>

#include "../transfer/TreeHashes.h"
#include "TreeTestUtil.h"

namespace {

const QString kConfirmCopy = QStringLiteral("Confirm File Copy");
const QString kSameFolder = QStringLiteral("Error Copying Folder");

const QStringList kLocalContent{"Src/Web/index.html", "Src/Web/css/site.css",
                                "Src/Web/img/a/deep.txt", "Src/readme.txt", "Dest/"};
const QStringList kRemoteContent{"www/index.html", "www/css/site.css", "www/img/a/deep.txt",
                                 "top.txt", "incoming/"};

// Starts the drag of a tree folder as a mouse drag would and gives its data.
std::unique_ptr<QMimeData> TreeDrag(CMyTreeView* tree, QTreeWidgetItem* folder) {
    tree->BeginDrag(folder);
    AwaitSpawned(); // the selection's reading
    return std::unique_ptr<QMimeData>(CMyTreeView::MakeDragData(tree->m_doc->m_dragSourceKind));
}

// The program with content on both sides, against a real server.
class DropTest : public testing::TestWithParam<TreeServer> {
protected:
    void SetUp() override {
        app = std::make_unique<TreeApp>(GetParam().kind, false);
        ASSERT_TRUE(MakeLocal(app->Home(), kLocalContent));
        ASSERT_TRUE(MakeRemote(app->Server(), kRemoteContent));
        ASSERT_TRUE(app->Start());
        ASSERT_FALSE(app->f.App().Site().IsUnavailable());
        drive = app->Open(app->HomeDrive(), {});
        src = app->Open(drive, {"Src"});
        web = Child(src, QStringLiteral("Web"));
        dest = Child(drive, QStringLiteral("Dest"));
        root = app->Ftp()->m_rootItem;
        www = Child(root, QStringLiteral("www"));
        incoming = Child(root, QStringLiteral("incoming"));
        ASSERT_TRUE(web && dest && www && incoming);
    }

    QString Local(const QString& rel) const { return app->Home() + QLatin1Char('/') + rel; }
    QString Remote(const QString& rel) const { return app->Server().PathOf(rel); }

    // After every drop: nothing held, nothing highlighted, the window usable.
    void ExpectDropEnded() const {
        CVelmarDoc* doc = app->f.App().m_doc;
        EXPECT_EQ(doc->m_dragLocalTree + doc->m_dragFtpTree, 0);
        EXPECT_EQ(app->Local()->m_dropTarget, nullptr);
        EXPECT_EQ(app->Ftp()->m_dropTarget, nullptr);
        EXPECT_FALSE(app->f.App().Comm().InProgress());
        EXPECT_TRUE(app->f.Frame()->isEnabled());
    }

    std::unique_ptr<TreeApp> app;
    QTreeWidgetItem *drive = nullptr, *src = nullptr, *web = nullptr, *dest = nullptr;
    QTreeWidgetItem *root = nullptr, *www = nullptr, *incoming = nullptr;
};

TEST_P(DropTest, AFolderWithSubfoldersInAllFourDirections) {
    const struct {
        const char* name;
        bool fromFtp;
        bool toFtp;
        const char* copied;    // where the copy lands, below the target side's root
        const char* operation; // the status window's operation line, if any
    } cases[] = {
        {"local to local", false, false, "Dest/Web",
         "Copying files from Local Computer to Local Computer - Please Wait"},
        {"local to FTP", false, true, "incoming/Web",
         "Copying files from Local Computer to FTP Server - Please Wait"},
        {"FTP to local", true, false, "Dest/www",
         "Copying files from FTP Server to Local Computer - Please Wait"},
        {"FTP to FTP", true, true, "incoming/www",
         "Copying files from FTP Server to FTP Server - Please Wait"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CMyTreeView* source = c.fromFtp ? app->Ftp() : app->Local();
        CMyTreeView* target = c.toFtp ? app->Ftp() : app->Local();
        QTreeWidgetItem* folder = c.fromFtp ? www : web;
        QTreeWidgetItem* on = c.toFtp ? incoming : dest;
        const auto data = TreeDrag(source, folder);
        app->f.Boxes().Clear();
        StatusWindowWatch watch;
        const DragResult r = DragOver(target, CentreOf(target, on), data.get(), true);
        EXPECT_TRUE(r.moveAccepted);
        EXPECT_EQ(app->f.Boxes().Captions(), QStringList{kConfirmCopy});
        EXPECT_EQ(watch.m_shown, c.operation ? 1 : 0);
        if (c.operation) {
            EXPECT_EQ(watch.m_operations, QStringList{QString::fromLatin1(c.operation)});
        }
        const QString from = c.fromFtp ? Remote("www") : Local("Src/Web");
        const QString copied = QString::fromLatin1(c.copied);
        const QString to = c.toFtp ? Remote(copied) : Local(copied);
        EXPECT_EQ(Snapshot(to), Snapshot(from));
        EXPECT_EQ(Snapshot(from).size(), 6);
        // The target was read again and shows the new folder.
        EXPECT_NE(Child(on, copied.section('/', 1)), nullptr);
        ExpectDropEnded();
    }
}

TEST_P(DropTest, TheDragRecordOfATreeFolder) {
    CVelmarDoc* doc = app->f.App().m_doc;
    // Places are not dragged.
    for (QTreeWidgetItem* place : {drive, app->Local()->m_rootItem, root}) {
        doc->m_dragSourceKind = -1;
        static_cast<CMyTreeView*>(place->treeWidget())->BeginDrag(place);
        EXPECT_EQ(doc->m_dragSourceKind, -1) << place->text(0).toStdString();
    }
    app->Local()->BeginDrag(web);
    EXPECT_EQ(doc->m_dragSourceKind, DRAG_LOCAL_TREE);
    EXPECT_EQ(doc->m_dragImageIndex, 0);
    EXPECT_EQ(doc->m_dragFolderName, QStringLiteral("Web"));
    EXPECT_EQ(doc->m_dragFolderPath, Local("Src/Web/"));
    EXPECT_EQ(doc->m_dragImageOffset, QPoint(0, -20));
    EXPECT_EQ(app->Local()->SelectedItem(), web);
    EXPECT_EQ(app->f.LocalList()->m_path, Local("Src/Web/"));

    app->Ftp()->BeginDrag(www);
    EXPECT_EQ(doc->m_dragSourceKind, DRAG_FTP_TREE);
    EXPECT_EQ(doc->m_dragImageIndex, 1);
    EXPECT_EQ(doc->m_dragFolderName, QStringLiteral("www"));
    EXPECT_EQ(doc->m_dragFolderPath, QStringLiteral("//www"));
    EXPECT_EQ(app->Ftp()->SelectedItem(), www);
}

TEST_P(DropTest, ListItemsDroppedOnTreeFolders) {
    // The local list shows Src: a folder and a file go up to the server.
    TreeApp::Select(src);
    auto data = ListDrag(app->f.App().m_doc, app->f.LocalList(), {"Web", "readme.txt"});
    DragOver(app->Ftp(), CentreOf(app->Ftp(), incoming), data.get(), true);
    EXPECT_EQ(Snapshot(Remote("incoming/Web")), Snapshot(Local("Src/Web")));
    EXPECT_EQ(app->Server().ReadFile("incoming/readme.txt"), "Src/readme.txt");
    EXPECT_EQ(ChildLabels(incoming), QStringList{QStringLiteral("Web")});
    ExpectDropEnded();

    // The FTP list shows the root: a folder and a file come down.
    TreeApp::Select(root);
    data = ListDrag(app->f.App().m_doc, app->f.FtpList(), {"www", "top.txt"});
    DragOver(app->Local(), CentreOf(app->Local(), dest), data.get(), true);
    EXPECT_EQ(Snapshot(Local("Dest/www")), Snapshot(Remote("www")));
    EXPECT_EQ(QFile(Local("Dest/top.txt")).size(), 7);
    EXPECT_EQ(app->f.Boxes().CountCaption(kConfirmCopy), 2);
    ExpectDropEnded();
}

TEST_P(DropTest, ASameNamedFolderIsReplacedWithAllItHeld) {
    ASSERT_TRUE(MakeLocal(app->Home(), {"Dest/Web/stale.txt", "Dest/Web/old/"}));
    ASSERT_TRUE(MakeRemote(app->Server(), {"incoming/Web/stale.txt", "incoming/Web/old/"}));
    for (CMyTreeView* target : {app->Local(), app->Ftp()}) {
        const bool toFtp = target == app->Ftp();
        SCOPED_TRACE(toFtp ? "on the server" : "on the local disk");
        const auto data = TreeDrag(app->Local(), web);
        DragOver(target, CentreOf(target, toFtp ? incoming : dest), data.get(), true);
        EXPECT_EQ(Snapshot(toFtp ? Remote("incoming/Web") : Local("Dest/Web")),
                  Snapshot(Local("Src/Web")));
        ExpectDropEnded();
    }
}

TEST_P(DropTest, AReplaceThatFailsKeepsTheOldFolderAndLeavesNothingBehind) {
    ASSERT_TRUE(MakeLocal(app->Home(), {"Dest/Web/stale.txt", "Dest/Web/old/"}));
    ASSERT_TRUE(MakeRemote(app->Server(), {"incoming/Web/stale.txt", "incoming/Web/old/"}));
    // A file deep in the source that cannot be read stops the copy half-way.
    ASSERT_EQ(::symlink("/nonexistent/target",
                        QFile::encodeName(Local("Src/Web/img/zz-broken")).constData()),
              0);
    const auto localBefore = HashTree(app->Home());
    const auto remoteBefore = HashTree(app->Server().Root());
    for (CMyTreeView* target : {app->Local(), app->Ftp()}) {
        const bool toFtp = target == app->Ftp();
        SCOPED_TRACE(toFtp ? "on the server" : "on the local disk");
        app->f.Boxes().Clear();
        const auto data = TreeDrag(app->Local(), web);
        DragOver(target, CentreOf(target, toFtp ? incoming : dest), data.get(), true);
        EXPECT_EQ(app->f.Boxes().Captions(),
                  (QStringList{kConfirmCopy, QStringLiteral("Error Copying File")}));
        EXPECT_EQ(HashTree(app->Home()), localBefore);
        EXPECT_EQ(HashTree(app->Server().Root()), remoteBefore);
        ExpectDropEnded();
    }
}

TEST_P(DropTest, CancelCopiesNothingAndNoHighlightStays) {
    const auto localBefore = Snapshot(app->Home());
    const auto remoteBefore = Snapshot(app->Server().Root());
    for (CMyTreeView* target : {app->Local(), app->Ftp()}) {
        const auto data = TreeDrag(app->Ftp(), www);
        app->f.Boxes().Answer(IDCANCEL);
        DragOver(target, CentreOf(target, target == app->Ftp() ? incoming : dest), data.get(),
                 true);
        ExpectDropEnded();
    }
    EXPECT_EQ(app->f.Boxes().CountCaption(kConfirmCopy), 2);
    EXPECT_EQ(Snapshot(app->Home()), localBefore);
    EXPECT_EQ(Snapshot(app->Server().Root()), remoteBefore);
}

TEST_P(DropTest, AFolderOnItsOwnParentOrInsideItselfDeletesNothing) {
    ASSERT_TRUE(MakeLocal(app->Home(), {"Src/Web/Web/inner.txt"}));
    ASSERT_TRUE(MakeRemote(app->Server(), {"www/www/inner.txt"}));
    const auto localBefore = Snapshot(app->Home());
    const auto remoteBefore = Snapshot(app->Server().Root());
    // Each drop reads its target again, so the items are looked up afresh.
    const struct {
        const char* name;
        bool ftp;
        QStringList dragged; // labels below the drive (local) or the root (FTP)
        QStringList on;
    } cases[] = {
        {"local folder on its parent", false, {"Src", "Web"}, {"Src"}},
        {"local folder on itself, holding its name", false, {"Src", "Web"}, {"Src", "Web"}},
        {"inner local folder on the folder above its parent",
         false,
         {"Src", "Web", "Web"},
         {"Src"}},
        {"FTP folder on its parent", true, {"www"}, {}},
        {"FTP folder on itself, holding its name", true, {"www"}, {"www"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CMyTreeView* tree = c.ftp ? app->Ftp() : app->Local();
        QTreeWidgetItem* top = c.ftp ? app->Ftp()->m_rootItem : app->HomeDrive();
        QTreeWidgetItem* dragged = app->Open(top, c.dragged);
        ASSERT_NE(dragged, nullptr);
        app->f.Boxes().Clear();
        const auto data = TreeDrag(tree, dragged);
        QTreeWidgetItem* on = app->Open(top, c.on);
        ASSERT_NE(on, nullptr);
        const DragResult r = DragOver(tree, CentreOf(tree, on), data.get(), true);
        EXPECT_TRUE(r.moveAccepted); // any item is a target; the drop itself refuses
        EXPECT_EQ(app->f.Boxes().Captions(), (QStringList{kConfirmCopy, kSameFolder}));
        ExpectDropEnded();
    }
    EXPECT_EQ(Snapshot(app->Home()), localBefore);
    EXPECT_EQ(Snapshot(app->Server().Root()), remoteBefore);
}

TEST_P(DropTest, TheDragPassesFromOneTreeToTheOther) {
    CVelmarDoc* doc = app->f.App().m_doc;
    const auto data = TreeDrag(app->Local(), web);
    CMyTreeView* local = app->Local();
    CMyTreeView* ftp = app->Ftp();
    const QPoint overDest = CentreOf(local, dest);
    QDragEnterEvent enter(overDest, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(local->viewport(), &enter);
    QDragMoveEvent move(overDest, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(local->viewport(), &move);
    EXPECT_EQ(doc->m_dragLocalTree, 1);
    EXPECT_EQ(local->m_dropTarget, dest);
    EXPECT_EQ(dest->data(0, Qt::BackgroundRole).value<QBrush>(),
              local->palette().brush(QPalette::Highlight));
    QDragLeaveEvent leave;
    QApplication::sendEvent(local->viewport(), &leave);
    EXPECT_EQ(local->m_dropTarget, nullptr);
    EXPECT_NE(dest->data(0, Qt::BackgroundRole).value<QBrush>(),
              local->palette().brush(QPalette::Highlight));

    const QPoint overIncoming = CentreOf(ftp, incoming);
    QDragEnterEvent enter2(overIncoming, Qt::CopyAction, data.get(), Qt::LeftButton,
                           Qt::NoModifier);
    QApplication::sendEvent(ftp->viewport(), &enter2);
    EXPECT_EQ(doc->m_dragLocalTree, 0);
    EXPECT_EQ(doc->m_dragFtpTree, 1);
    QDragMoveEvent move2(overIncoming, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(ftp->viewport(), &move2);
    EXPECT_EQ(ftp->m_dropTarget, incoming);
    QDropEvent drop(QPointF(overIncoming), Qt::CopyAction, data.get(), Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(ftp->viewport(), &drop);
    Settle();
    EXPECT_EQ(Snapshot(Remote("incoming/Web")), Snapshot(Local("Src/Web")));
    EXPECT_FALSE(QFileInfo::exists(Local("Dest/Web")));
    ExpectDropEnded();
}

TEST_P(DropTest, FilesFromTheFileManagerGoUpToTheServerOnly) {
    auto data = std::make_unique<QMimeData>();
    data->setUrls({QUrl::fromLocalFile(Local("Src/Web")),
                   QUrl::fromLocalFile(Local("Src/readme.txt")),
                   QUrl(QStringLiteral("https://example.org/not-a-file"))});
    // The local tree takes none of it.
    EXPECT_FALSE(
        DragOver(app->Local(), CentreOf(app->Local(), dest), data.get(), true).enterAccepted);
    EXPECT_EQ(app->f.Boxes().CountCaption(kConfirmCopy), 0);

    const DragResult r = DragOver(app->Ftp(), CentreOf(app->Ftp(), incoming), data.get(), true);
    EXPECT_TRUE(r.moveAccepted);
    EXPECT_EQ(app->f.Boxes().CountCaption(kConfirmCopy), 1);
    EXPECT_EQ(Snapshot(Remote("incoming/Web")), Snapshot(Local("Src/Web")));
    EXPECT_EQ(app->Server().ReadFile("incoming/readme.txt"), "Src/readme.txt");
    EXPECT_EQ(ChildLabels(incoming), QStringList{QStringLiteral("Web")});
    ExpectDropEnded();
}

INSTANTIATE_TEST_SUITE_P(Servers, DropTest, testing::ValuesIn(kTreeServers), TreeServerName);

TEST(TreeDrop, ALinkInThePlaceOfTheCopyIsReplacedNotWhatItPointsTo) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"Src/Web/a.txt", "Dest/", "Outside/keep.txt"}));
    ASSERT_TRUE(QFile::link(app.Home() + QStringLiteral("/Outside"),
                            app.Home() + QStringLiteral("/Dest/Web")));
    QTreeWidgetItem* drive = app.Open(app.HomeDrive(), {});
    QTreeWidgetItem* web = app.Open(drive, {"Src", "Web"});
    const auto data = TreeDrag(app.Local(), web);
    DragOver(app.Local(), CentreOf(app.Local(), Child(drive, QStringLiteral("Dest"))), data.get(),
             true);
    EXPECT_FALSE(QFileInfo(app.Home() + QStringLiteral("/Dest/Web")).isSymLink());
    EXPECT_EQ(Snapshot(app.Home() + QStringLiteral("/Dest/Web")),
              Snapshot(app.Home() + QStringLiteral("/Src/Web")));
    EXPECT_EQ(Snapshot(app.Home() + QStringLiteral("/Outside")).keys(), QStringList{"keep.txt"});
}

TEST(TreeDrop, PlacesThatTakeNoDrop) {
    TreeApp app; // the FTP side could not connect
    ASSERT_TRUE(MakeLocal(app.Home(), {"Src/Web/a.txt", "Dest/"}));
    QTreeWidgetItem* src = app.Open(app.HomeDrive(), {"Src"});
    const auto before = Snapshot(app.Home());
    auto data = TreeDrag(app.Local(), Child(src, QStringLiteral("Web")));
    app.f.Boxes().Clear();

    // "Local Computer" and empty space are no targets: nothing asked.
    CMyTreeView* local = app.Local();
    EXPECT_FALSE(
        DragOver(local, CentreOf(local, local->m_rootItem), data.get(), true).moveAccepted);
    EXPECT_FALSE(
        DragOver(local, QPoint(5, local->viewport()->height() - 5), data.get(), true).moveAccepted);
    // The FTP tree without a connection takes nothing.
    CMyTreeView* ftp = app.Ftp();
    EXPECT_FALSE(DragOver(ftp, CentreOf(ftp, ftp->m_rootItem), data.get(), true).moveAccepted);
    Await(ftp->DropOn(ftp->m_rootItem, std::move(data)));
    // Nor a drag of another running copy of the program, whose record is not here.
    auto foreign = std::unique_ptr<QMimeData>(CMyTreeView::MakeDragData(DRAG_LOCAL_TREE));
    foreign->setData(QStringLiteral("application/x-velmar98-process"), "1");
    EXPECT_FALSE(
        DragOver(local, CentreOf(local, app.HomeDrive()), foreign.get(), true).enterAccepted);
    Await(local->DropOn(app.HomeDrive(), std::move(foreign)));

    EXPECT_EQ(app.f.Boxes().Count(), 0);
    EXPECT_EQ(Snapshot(app.Home()), before);
    EXPECT_EQ(local->m_dropTarget, nullptr);
}

TEST(TreeDrop, TheSameFolderReachedThroughALinkIsRefused) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"Src/Web/a.txt"}));
    ASSERT_TRUE(
        QFile::link(app.Home() + QStringLiteral("/Src"), app.Home() + QStringLiteral("/Link")));
    QTreeWidgetItem* drive = app.Open(app.HomeDrive(), {});
    QTreeWidgetItem* web = app.Open(drive, {"Src", "Web"});
    const auto before = Snapshot(app.Home() + QStringLiteral("/Src"));
    const auto data = TreeDrag(app.Local(), web);
    app.f.Boxes().Clear();
    DragOver(app.Local(), CentreOf(app.Local(), Child(drive, QStringLiteral("Link"))), data.get(),
             true);
    EXPECT_EQ(app.f.Boxes().Captions(), (QStringList{kConfirmCopy, kSameFolder}));
    EXPECT_EQ(Snapshot(app.Home() + QStringLiteral("/Src")), before);
}

} // namespace
