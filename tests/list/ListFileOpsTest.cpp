// The list pane's file operations on real local folders: the context menu, the
// keys, New Folder, rename by label editing and delete.
#include <QApplication>
#include "Await.h"
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "ListTestUtil.h"
#include "TreeHash.h"

using namespace listtest;

namespace {
const QString kConfirmDelete = QStringLiteral("Confirm File Delete");
const QString kErrorRename = QStringLiteral("Error Renaming File");

QLineEdit* Editor(CMyListView* list, int row) {
    return qobject_cast<QLineEdit*>(list->indexWidget(list->Model()->index(row, 0)));
}

// Types a new name into the open editor of row and presses a key there.
void TypeName(CMyListView* list, int row, const QString& text, Qt::Key key = Qt::Key_Return) {
    QLineEdit* editor = Editor(list, row);
    ASSERT_NE(editor, nullptr) << "no editor open on row " << row;
    editor->setText(text);
    QTest::keyClick(editor, key); AwaitSpawned();
    // The editor hands its text over from the event loop.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// Runs the action that opens a popup menu; inspect sees the menu while it is up
// and returns the object name of the action to choose ("" closes it).
bool RunWithPopup(const std::function<void()>& open,
                  const std::function<QString(QMenu*)>& inspect) {
    bool seen = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        poll.stop();
        seen = true;
        const QString choice = inspect(menu);
        QAction* action = choice.isEmpty() ? nullptr : menu->findChild<QAction*>(choice);
        if (action) {
            menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Return); AwaitSpawned();
        } else {
            menu->close();
        }
    });
    poll.start();
    open();
    poll.stop();
    return seen;
}

struct Offline {
    std::unique_ptr<AppFixture> f = StartOffline();
    LocalDir d;
    CMyListView* list = f->LocalList();
    void ShowIt() { Show(list, d.Path()); }
};

TEST(ListFileOps, ContextMenuOnAnItemAndOnEmptySpace) {
    Offline o;
    ASSERT_TRUE(o.d.File(QStringLiteral("a.txt")));
    ASSERT_TRUE(o.d.File(QStringLiteral("b.txt")));
    o.ShowIt();
    const struct {
        int row; // -1: empty space below the items
        bool renameAndDelete;
    } cases[] = {{1, true}, {-1, false}, {0, true}};
    for (const auto& c : cases) {
        const QPoint at = c.row >= 0 ? o.list->visualRect(o.list->Model()->index(c.row, 0)).center()
                                     : QPoint(20, o.list->viewport()->height() - 5);
        QStringList texts;
        QList<bool> enabled;
        const bool shown = RunWithPopup(
            [&] {
                QContextMenuEvent event(QContextMenuEvent::Mouse, at,
                                        o.list->viewport()->mapToGlobal(at));
                QCoreApplication::sendEvent(o.list->viewport(), &event);
            },
            [&](QMenu* menu) {
                for (QAction* a : menu->actions()) {
                    texts << a->text();
                    enabled << a->isEnabled();
                }
                return QString();
            });
        ASSERT_TRUE(shown) << c.row;
        // The pane's own items, then (after a separator) the clipboard's.
        EXPECT_EQ(texts, (QStringList{QStringLiteral("&New Folder"), QStringLiteral("&Rename"),
                                      QStringLiteral("&Delete"), QString(), QStringLiteral("Copy"),
                                      QStringLiteral("Paste")}));
        EXPECT_EQ(enabled.mid(0, 3), (QList<bool>{true, c.renameAndDelete, c.renameAndDelete}))
            << c.row;
    }
    // The item of the last right click on an item is kept past a click elsewhere.
    EXPECT_EQ(o.list->m_contextItem, 0);
}

TEST(ListFileOps, NoContextMenuOnTheFtpPaneWhileTheFtpSideIsUnavailable) {
    Offline o;
    ASSERT_TRUE(o.f->App().Site().IsUnavailable());
    EXPECT_EQ(o.f->FtpList()->MakeContextMenu(QPoint(5, 5)), nullptr);
    std::unique_ptr<QMenu> local(o.list->MakeContextMenu(QPoint(5, 5)));
    EXPECT_NE(local, nullptr);
}

TEST(ListFileOps, MenuNewFolderCreatesNewFolder1InAnEmptyFolderAndOpensItsName) {
    Offline o;
    o.ShowIt();
    StatusRecorder status(o.f->Frame());
    const bool shown = RunWithPopup(
        [&] {
            o.list->OnRightClick(QPoint(10, 10), o.list->viewport()->mapToGlobal(QPoint(10, 10)));
        },
        [](QMenu*) { return QString::number(ID_NEW_FOLDER); });
    ASSERT_TRUE(shown);
    EXPECT_TRUE(QFileInfo(o.d.PathOf(QStringLiteral("NewFolder1"))).isDir());
    ASSERT_EQ(Names(o.list), QStringList{QStringLiteral("NewFolder1")});
    EXPECT_EQ(o.list->ItemImage(0), IMG_LOCAL_FOLDER);
    EXPECT_EQ(Cell(o.list, 0, 1), QString());
    EXPECT_EQ(
        Cell(o.list, 0, 2),
        CMyListView::FormatModified(
            QFileInfo(o.d.PathOf(QStringLiteral("NewFolder1"))).lastModified().toSecsSinceEpoch()));
    EXPECT_EQ(o.list->m_editing, 1);
    EXPECT_NE(Editor(o.list, 0), nullptr);
    EXPECT_TRUE(status.Texts().contains(QStringLiteral("Creating New Folder - Please Wait")));
    EXPECT_EQ(o.f->Frame()->PaneText(0), QStringLiteral("Ready"));
    // The name typed then renames it.
    TypeName(o.list, 0, QStringLiteral("Projects"));
    EXPECT_TRUE(QFileInfo(o.d.PathOf(QStringLiteral("Projects"))).isDir());
    EXPECT_EQ(Names(o.list), QStringList{QStringLiteral("Projects")});
    EXPECT_EQ(o.list->m_editing, 0);
}

TEST(ListFileOps, NewFolderTakesTheFirstNumberNotShownAndGoesLast) {
    Offline o;
    ASSERT_TRUE(o.d.Dir(QStringLiteral("NewFolder1")));
    ASSERT_TRUE(o.d.Dir(QStringLiteral("NewFolder3")));
    ASSERT_TRUE(o.d.File(QStringLiteral("zz.txt")));
    ASSERT_TRUE(o.d.File(QStringLiteral("newfolder2"))); // case counts
    o.ShowIt();
    ASSERT_TRUE(Await(o.list->NewFolder()));
    EXPECT_TRUE(QFileInfo(o.d.PathOf(QStringLiteral("NewFolder2"))).isDir());
    EXPECT_EQ(Names(o.list).last(), QStringLiteral("NewFolder2"));
    EXPECT_EQ(o.list->ItemCount(), 5);
    // New items do not enter the pane's copy of the folder.
    EXPECT_EQ(o.list->m_entries.size(), 6u);
}

TEST(ListFileOps, NewFolderOverAnExistingNameNotShownAddsNothing) {
    Offline o;
    o.ShowIt();
    ASSERT_TRUE(o.d.Dir(QStringLiteral("NewFolder1"))); // made after the folder was read
    ASSERT_TRUE(o.d.File(QStringLiteral("NewFolder1/keep"), "data"));
    EXPECT_FALSE(Await(o.list->NewFolder()));
    EXPECT_EQ(o.f->Boxes().Captions(), QStringList{QStringLiteral("Error Creating Directory")});
    EXPECT_EQ(o.f->Boxes().Calls().value(0).text,
              QStringLiteral("The program was unable to create the new directory."));
    EXPECT_EQ(o.list->ItemCount(), 0);
    EXPECT_EQ(o.list->m_editing, 0);
    EXPECT_EQ(o.d.Read(QStringLiteral("NewFolder1/keep")), QByteArray("data"));
}

TEST(ListFileOps, RenameByLabelEditKeepsTheItemsPlace) {
    Offline o;
    ASSERT_TRUE(o.d.File(QStringLiteral("a.txt"), "A"));
    ASSERT_TRUE(o.d.File(QStringLiteral("m.txt"), "M"));
    ASSERT_TRUE(o.d.File(QStringLiteral("z.txt"), "Z"));
    o.ShowIt();
    StatusRecorder status(o.f->Frame());
    o.list->StartRename(0);
    ASSERT_EQ(o.list->m_editing, 1);
    TypeName(o.list, 0, QStringLiteral("zzz.txt"));
    EXPECT_EQ(o.d.Read(QStringLiteral("zzz.txt")), QByteArray("A"));
    EXPECT_FALSE(o.d.Exists(QStringLiteral("a.txt")));
    EXPECT_EQ(Names(o.list), (QStringList{QStringLiteral("zzz.txt"), QStringLiteral("m.txt"),
                                          QStringLiteral("z.txt")}));
    EXPECT_TRUE(status.Texts().contains(QStringLiteral("Renaming File - Please Wait")))
        << status.Texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(o.f->Frame()->PaneText(0), QStringLiteral("Ready"));
    EXPECT_TRUE(o.f->Boxes().Calls().isEmpty());
}

TEST(ListFileOps, RenameToAnExistingOrInvalidNameKeepsBothAndReopensTheEditor) {
    const QStringList refused = {QStringLiteral("z.txt"), QStringLiteral("sub"),
                                 QStringLiteral("../escaped"), QStringLiteral("a/b"),
                                 QStringLiteral("..")};
    for (const QString& target : refused) {
        Offline o;
        ASSERT_TRUE(o.d.File(QStringLiteral("a.txt"), "A"));
        ASSERT_TRUE(o.d.File(QStringLiteral("z.txt"), "Z"));
        ASSERT_TRUE(o.d.Dir(QStringLiteral("sub")));
        o.ShowIt();
        const int row = RowOf(o.list, QStringLiteral("a.txt"));
        o.list->StartRename(row);
        TypeName(o.list, row, target);
        EXPECT_EQ(o.f->Boxes().CountCaption(kErrorRename), 1) << target.toStdString();
        EXPECT_EQ(o.f->Boxes().Calls().value(0).text,
                  QStringLiteral("An invalid filename was entered, or a file with the name you "
                                 "specified already exists."));
        EXPECT_EQ(o.d.Read(QStringLiteral("a.txt")), QByteArray("A"));
        EXPECT_EQ(o.d.Read(QStringLiteral("z.txt")), QByteArray("Z"));
        EXPECT_TRUE(QFileInfo(o.d.PathOf(QStringLiteral("sub"))).isDir());
        EXPECT_EQ(o.list->ItemName(row), QStringLiteral("a.txt"));
        // The editor is open again on the same item, with its old name.
        QLineEdit* editor = Editor(o.list, row);
        ASSERT_NE(editor, nullptr) << target.toStdString();
        EXPECT_EQ(editor->text(), QStringLiteral("a.txt"));
        EXPECT_EQ(o.list->m_editing, 1);
        // Escape leaves it as it was.
        QTest::keyClick(editor, Qt::Key_Escape); AwaitSpawned();
        QCoreApplication::processEvents();
        EXPECT_EQ(o.list->m_editing, 0);
        EXPECT_EQ(o.list->ItemName(row), QStringLiteral("a.txt"));
        EXPECT_EQ(o.f->Boxes().Count(), 1);
    }
}

TEST(ListFileOps, DeleteKeyInsideAnOpenLabelEditBelongsToTheEditor) {
    Offline o;
    ASSERT_TRUE(o.d.File(QStringLiteral("abc")));
    o.ShowIt();
    o.list->StartRename(0);
    QLineEdit* editor = Editor(o.list, 0);
    ASSERT_NE(editor, nullptr);
    editor->setCursorPosition(0);
    QTest::keyClick(editor, Qt::Key_Delete); AwaitSpawned();
    EXPECT_EQ(editor->text(), QStringLiteral("bc"));
    // Reaching the pane itself while the edit is open, it deletes nothing either.
    QTest::keyClick(o.list, Qt::Key_Delete); AwaitSpawned();
    EXPECT_TRUE(o.f->Boxes().Calls().isEmpty());
    EXPECT_TRUE(o.d.Exists(QStringLiteral("abc")));
}

TEST(ListFileOps, DeleteKeyAsksThenDeletesTheSelectionTopToBottomAndReadsAgain) {
    Offline o;
    ASSERT_TRUE(o.d.File(QStringLiteral("a.txt")));
    ASSERT_TRUE(o.d.Dir(QStringLiteral("m/inner/deeper")));
    ASSERT_TRUE(o.d.File(QStringLiteral("m/inner/deeper/f"), "1"));
    ASSERT_TRUE(o.d.File(QStringLiteral("m/.dotfile"), "2"));
    ASSERT_TRUE(o.d.File(QStringLiteral("z.txt")));
    ASSERT_TRUE(o.d.File(QStringLiteral("keep.txt")));
    o.ShowIt();
    o.list->SelectRows({RowOf(o.list, QStringLiteral("a.txt")), RowOf(o.list, QStringLiteral("m")),
                        RowOf(o.list, QStringLiteral("z.txt"))});
    StatusRecorder status(o.f->Frame());
    QTest::keyClick(o.list, Qt::Key_Delete); AwaitSpawned();
    EXPECT_EQ(o.f->Boxes().Captions(), QStringList{kConfirmDelete});
    const MessageBoxCall ask = o.f->Boxes().Calls().value(0);
    EXPECT_EQ(ask.text, QStringLiteral("Are you sure you want to delete the selected item(s)?"));
    EXPECT_EQ(ask.flags, unsigned(MB_OKCANCEL | MB_ICONQUESTION));
    EXPECT_FALSE(o.d.Exists(QStringLiteral("a.txt")));
    EXPECT_FALSE(o.d.Exists(QStringLiteral("m")));
    EXPECT_FALSE(o.d.Exists(QStringLiteral("z.txt")));
    EXPECT_EQ(Names(o.list), QStringList{QStringLiteral("keep.txt")});
    EXPECT_TRUE(status.Texts().contains(QStringLiteral("Deleting Files - Please Wait")));
    EXPECT_EQ(o.f->Frame()->PaneText(0), QStringLiteral("Ready"));
    EXPECT_EQ(o.f->Frame()->PaneText(1), QStringLiteral("Local: 1 Items"));
}

TEST(ListFileOps, CancelOnTheConfirmationDeletesNothing) {
    Offline o;
    ASSERT_TRUE(o.d.File(QStringLiteral("a.txt")));
    ASSERT_TRUE(o.d.Dir(QStringLiteral("dir")));
    o.ShowIt();
    o.list->SelectRows({0, 1});
    o.f->Boxes().Answer(IDCANCEL);
    o.list->OnCommand(ID_DELETE); AwaitSpawned();
    EXPECT_EQ(o.f->Boxes().Count(), 1);
    EXPECT_TRUE(o.d.Exists(QStringLiteral("a.txt")));
    EXPECT_TRUE(o.d.Exists(QStringLiteral("dir")));
    EXPECT_EQ(o.list->ItemCount(), 2);
    EXPECT_EQ(o.f->Frame()->PaneText(0), QStringLiteral("Ready"));
}

TEST(ListFileOps, DeleteStopsAtTheFirstFailureAndKeepsWhatFollows) {
    // A folder holding a folder whose name begins with "." cannot be removed:
    // that folder is skipped, the rest of the content goes.
    Offline o;
    ASSERT_TRUE(o.d.File(QStringLiteral("a.txt")));
    ASSERT_TRUE(o.d.Dir(QStringLiteral("m/.git/objects")));
    ASSERT_TRUE(o.d.Dir(QStringLiteral("m/src")));
    ASSERT_TRUE(o.d.File(QStringLiteral("m/src/main.c")));
    ASSERT_TRUE(o.d.File(QStringLiteral("m/readme")));
    ASSERT_TRUE(o.d.File(QStringLiteral("z.txt")));
    o.ShowIt();
    o.list->SelectRows({0, 1, 2}); // m, a.txt, z.txt
    o.list->DeleteSelected(); AwaitSpawned();
    EXPECT_EQ(o.f->Boxes().Captions(),
              (QStringList{kConfirmDelete, QStringLiteral("Error Deleting Folder")}));
    EXPECT_EQ(o.f->Boxes().Calls().value(1).text,
              QStringLiteral("The program was unable to delete the specified folder(s)."));
    EXPECT_TRUE(o.d.Exists(QStringLiteral("m/.git/objects")));
    EXPECT_FALSE(o.d.Exists(QStringLiteral("m/src")));
    EXPECT_FALSE(o.d.Exists(QStringLiteral("m/readme")));
    EXPECT_TRUE(o.d.Exists(QStringLiteral("a.txt")));
    EXPECT_TRUE(o.d.Exists(QStringLiteral("z.txt")));
    EXPECT_EQ(Names(o.list),
              (QStringList{QStringLiteral("m"), QStringLiteral("a.txt"), QStringLiteral("z.txt")}));
}

TEST(ListFileOps, DeletingAFolderRemovesLinksInsideItButNeverWhatTheyPointTo) {
    Offline o;
    LocalDir outside;
    ASSERT_TRUE(outside.File(QStringLiteral("precious"), "keep me"));
    ASSERT_TRUE(o.d.Dir(QStringLiteral("gone")));
    ASSERT_EQ(::symlink(QFile::encodeName(outside.Path()).constData(),
                        QFile::encodeName(o.d.PathOf(QStringLiteral("gone/link"))).constData()),
              0);
    ASSERT_EQ(::symlink("/nonexistent/target",
                        QFile::encodeName(o.d.PathOf(QStringLiteral("gone/dangling"))).constData()),
              0);
    o.ShowIt();
    EXPECT_TRUE(Await(o.list->DeleteFolderTree(o.d.PathOf(QStringLiteral("gone/")))));
    EXPECT_FALSE(o.d.Exists(QStringLiteral("gone")));
    EXPECT_EQ(outside.Read(QStringLiteral("precious")), QByteArray("keep me"));
    EXPECT_TRUE(o.f->Boxes().Calls().isEmpty());
}

// Every way a local delete meets a link to a folder: the link goes, the folder it
// points to (and everything else) stays exactly as it was.
TEST(ListFileOps, ALinkToAFolderIsDeletedAsALinkWhereverTheDeleteMeetsIt) {
    struct Case {
        const char* name;
        const char* link;   // where the link is made
        const char* target; // what is deleted (a trailing "/" asks for a folder tree)
        bool asListItem;    // through the selection and Delete
    };
    const Case cases[] = {
        {"selected list item", "lnk", "lnk", true},
        {"inside a deleted folder", "box/lnk", "box/", false},
        {"two levels down", "box/in/lnk", "box/", false},
        {"in the place of a replaced folder", "lnk", "lnk/", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Offline o;
        LocalDir outside;
        ASSERT_TRUE(outside.Dir(QStringLiteral("sub")));
        ASSERT_TRUE(outside.File(QStringLiteral("precious"), "keep me"));
        ASSERT_TRUE(outside.File(QStringLiteral("sub/deep"), "deep"));
        ASSERT_TRUE(o.d.Dir(QStringLiteral("box/in")));
        ASSERT_TRUE(o.d.File(QStringLiteral("stay.txt"), "stay"));
        const QString link = QString::fromLatin1(c.link);
        ASSERT_EQ(::symlink(QFile::encodeName(outside.Path()).constData(),
                            QFile::encodeName(o.d.PathOf(link)).constData()),
                  0);
        const treehash::Fingerprint outsideBefore = treehash::Take(outside.Path());
        const treehash::Fingerprint before = treehash::Take(o.d.Path());
        o.ShowIt();
        const QString target = QString::fromLatin1(c.target);
        if (c.asListItem) {
            o.list->SelectRows({RowOf(o.list, target)});
            o.list->DeleteSelected(); AwaitSpawned();
        } else {
            EXPECT_TRUE(Await(o.list->DeleteFolderTree(o.d.PathOf(target))));
        }
        EXPECT_EQ(treehash::Take(outside.Path()), outsideBefore);
        const QString gone = target.endsWith(QLatin1Char('/')) ? target.chopped(1) : target;
        EXPECT_EQ(treehash::Take(o.d.Path()), treehash::Without(before, gone));
        const int questions = c.asListItem ? 1 : 0;
        EXPECT_EQ(o.f->Boxes().Count(), questions)
            << o.f->Boxes().Captions().join(',').toStdString();
    }
}

// A read-only file (not writable by the user) stops a delete. Root may write
// anything, so the case runs with the effective user "nobody".
TEST(ListFileOps, ReadOnlyFileStopsADelete) {
    Offline o;
    const bool root = ::geteuid() == 0;
    const uid_t nobody = 65534;
    ASSERT_TRUE(o.d.Dir(QStringLiteral("ro")));
    for (const char* name : {"a.txt", "locked.txt", "z.txt"})
        ASSERT_TRUE(o.d.File(QStringLiteral("ro/") + QLatin1String(name)));
    const QByteArray folder = QFile::encodeName(o.d.PathOf(QStringLiteral("ro")));
    ASSERT_EQ(::chmod(QFile::encodeName(o.d.Path()).constData(), 0755), 0);
    ASSERT_EQ(
        ::chmod(QFile::encodeName(o.d.PathOf(QStringLiteral("ro/locked.txt"))).constData(), 0444),
        0);
    if (root) {
        for (const char* name : {"", "/a.txt", "/locked.txt", "/z.txt"})
            ASSERT_EQ(::chown(folder + name, nobody, nobody), 0);
    }
    Show(o.list, o.d.PathOf(QStringLiteral("ro/")));
    o.list->SelectRows({0, 1, 2});
    if (root) {
        ASSERT_EQ(::setegid(nobody), 0);
        ASSERT_EQ(::seteuid(nobody), 0);
    }
    o.list->DeleteSelected(); AwaitSpawned();
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
        ASSERT_EQ(::setegid(0), 0);
    }
    EXPECT_EQ(o.f->Boxes().Captions(),
              (QStringList{kConfirmDelete, QStringLiteral("Error Deleting File")}));
    EXPECT_EQ(o.f->Boxes().Calls().value(1).text,
              QStringLiteral("The program was unable to delete the specified file(s)."));
    EXPECT_FALSE(o.d.Exists(QStringLiteral("ro/a.txt")));
    EXPECT_TRUE(o.d.Exists(QStringLiteral("ro/locked.txt")));
    EXPECT_TRUE(o.d.Exists(QStringLiteral("ro/z.txt")));
}

TEST(ListFileOps, TabAndShiftTabGoToTheTreePanes) {
    Offline o;
    CMainFrame* frame = o.f->Frame();
    const struct {
        CMyListView* from;
        bool shift;
        QWidget* to;
    } cases[] = {
        {o.f->LocalList(), false, o.f->FtpTree()},
        {o.f->LocalList(), true, o.f->LocalTree()},
        {o.f->FtpList(), false, o.f->LocalTree()},
        {o.f->FtpList(), true, o.f->FtpTree()},
    };
    for (const auto& c : cases) {
        frame->SetActiveView(c.from);
        ASSERT_EQ(frame->focusWidget(), c.from);
        QTest::keyClick(c.from, Qt::Key_Tab, c.shift ? Qt::ShiftModifier : Qt::NoModifier); AwaitSpawned();
        EXPECT_EQ(frame->focusWidget(), c.to) << c.from->m_side << " shift " << c.shift;
    }
}

TEST(ListFileOps, NewFolderRenameAndDeleteKeepTheTreeInStep) {
    Offline o;
    ASSERT_TRUE(o.d.Dir(QStringLiteral("base/old")));
    QTreeWidgetItem* base = OpenLocal(o.f->LocalTree(), o.d.Path() + QStringLiteral("base"));
    ASSERT_NE(base, nullptr);
    ASSERT_EQ(o.list->m_treeItem, base);
    base->setExpanded(true);
    AwaitSpawned();
    ASSERT_EQ(Labels(base), QStringList{QStringLiteral("old")});
    ASSERT_TRUE(Await(o.list->NewFolder()));
    EXPECT_EQ(Labels(base), (QStringList{QStringLiteral("NewFolder1"), QStringLiteral("old")}));
    TypeName(o.list, 1, QStringLiteral("fresh"));
    EXPECT_EQ(Labels(base), (QStringList{QStringLiteral("fresh"), QStringLiteral("old")}));
    o.list->SelectRows({RowOf(o.list, QStringLiteral("old"))});
    o.list->DeleteSelected(); AwaitSpawned();
    EXPECT_EQ(Labels(base), QStringList{QStringLiteral("fresh")});
    EXPECT_EQ(Names(o.list), QStringList{QStringLiteral("fresh")});
}

TEST(ListFileOps, ClickOnTheSelectedItemOpensItsName) {
    Offline o;
    ASSERT_TRUE(o.d.File(QStringLiteral("a")));
    o.ShowIt();
    const QPoint cell = o.list->visualRect(o.list->Model()->index(0, 0)).center();
    QTest::mouseClick(o.list->viewport(), Qt::LeftButton, Qt::NoModifier, cell); AwaitSpawned();
    QTRY_COMPARE(o.list->m_editing, 1);
    EXPECT_NE(Editor(o.list, 0), nullptr);
}
} // namespace
