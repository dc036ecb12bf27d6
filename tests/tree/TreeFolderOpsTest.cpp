// The tree pane's folder operations: context menu, new folder, rename by label
// editing, delete, and the keys, on real folders and real servers.
#include <QContextMenuEvent>
#include "Await.h"
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include "TreeTestUtil.h"

namespace {

const QString kNewFolder = QStringLiteral("&New Folder");
const QString kRename = QStringLiteral("&Rename");
const QString kDelete = QStringLiteral("&Delete");
const QString kConfirmDelete = QStringLiteral("Confirm File Delete");
const QString kRenameError = QStringLiteral("Error Renaming File");

// What a right click showed: whether a menu came up and which entries were on.
struct MenuSeen {
    bool shown = false;
    QStringList texts;
    QStringList enabled;
};

// Right-clicks the viewport point; the popup that comes up is read and then
// closed, or the entry `choose` is chosen in it with the keyboard.
MenuSeen RightClick(CMyTreeView* tree, const QPoint& pos, const QString& choose = QString()) {
    MenuSeen seen;
    // The popup is looked for until it stands: events handled on the way to it
    // (the pane's own, the accessibility bridge's) may run a first look too early.
    QTimer poll;
    int looks = 0;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&seen, &poll, &looks, choose] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            if (++looks > 400)
                poll.stop();
            return;
        }
        poll.stop();
        seen.shown = true;
        QAction* pick = nullptr;
        for (QAction* a : menu->actions()) {
            if (a->isSeparator())
                continue;
            seen.texts << a->text();
            if (a->isEnabled())
                seen.enabled << a->text();
            // The separator before Copy and Paste has no text: it is never "chosen".
            if (!choose.isEmpty() && a->text() == choose)
                pick = a;
        }
        // Answered a moment later: the first look may come while the menu is
        // still being put up, before it waits for an answer.
        QTimer::singleShot(20, menu, [menu, pick] {
            if (pick) {
                menu->setActiveAction(pick);
                QTest::keyClick(menu, Qt::Key_Return); AwaitSpawned();
            } else {
                menu->close();
            }
        });
    });
    poll.start();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, tree->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(tree->viewport(), &event);
    poll.stop();
    Settle();
    return seen;
}

QPoint EmptySpace(CMyTreeView* tree) {
    const QPoint pos(5, tree->viewport()->height() - 5);
    EXPECT_EQ(tree->itemAt(pos), nullptr) << "the tree is too full for an empty spot";
    return pos;
}

QLineEdit* OpenEditor(CMyTreeView* tree) {
    for (QLineEdit* line : tree->viewport()->findChildren<QLineEdit*>())
        if (line->isVisible())
            return line;
    return nullptr;
}

// Types the new label into the open editor and ends the edit with the key.
void TypeLabel(CMyTreeView* tree, const QString& text, Qt::Key key = Qt::Key_Return) {
    QLineEdit* line = OpenEditor(tree);
    ASSERT_NE(line, nullptr);
    line->setText(text);
    QTest::keyClick(line, key); AwaitSpawned();
    Settle();
}

TEST(TreeContextMenu, RightClicksOnEveryKindOfPlace) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"Web/"}));
    CMyTreeView* tree = app.Local();
    QTreeWidgetItem* drive = app.Open(app.HomeDrive(), {});
    QTreeWidgetItem* web = Child(drive, QStringLiteral("Web"));
    // The pane's own items, then the clipboard's; nothing was copied, so Paste
    // is never on, and only a folder can be copied.
    const QStringList all{kNewFolder, kRename, kDelete, QStringLiteral("Copy"),
                          QStringLiteral("Paste")};
    const struct {
        const char* name;
        QTreeWidgetItem* item; // null: empty space
        bool shown;
        QStringList enabled;
    } cases[] = {
        {"folder", web, true, {kNewFolder, kRename, kDelete, QStringLiteral("Copy")}},
        {"drive", drive, true, {kNewFolder}},
        {"Local Computer", tree->m_rootItem, false, {}},
        {"empty space", nullptr, true, {kNewFolder}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TreeApp::Select(web);
        const QPoint pos = c.item ? CentreOf(tree, c.item) : EmptySpace(tree);
        const MenuSeen seen = RightClick(tree, pos);
        EXPECT_EQ(seen.shown, c.shown);
        if (c.shown) {
            EXPECT_EQ(seen.texts, all);
        }
        EXPECT_EQ(seen.enabled, c.enabled);
        // The click selects what it hit; on empty space nothing stays selected.
        EXPECT_EQ(tree->SelectedItem(), c.item);
    }
    // Nothing was asked and nothing was run by merely looking at the menus.
    EXPECT_EQ(app.f.Boxes().Count(), 1); // the offline start-up's connect message
}

TEST(TreeContextMenu, NewFolderGoesToTheListOfTheRowEvenFromEmptySpace) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"Web/NewFolder1/"}));
    CMyTreeView* tree = app.Local();
    QTreeWidgetItem* web = app.Open(app.HomeDrive(), {"Web"});
    RightClick(tree, CentreOf(tree, web), kNewFolder);
    EXPECT_TRUE(QFileInfo(app.Home() + QStringLiteral("/Web/NewFolder2")).isDir());
    // The list made it and had the tree read its folder again.
    EXPECT_EQ(ChildLabels(web), (QStringList{"NewFolder1", "NewFolder2"}));
    // The list became the active view, with the new name open for editing.
    QWidget* focus = app.f.Frame()->focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(focus == app.f.LocalList() || app.f.LocalList()->isAncestorOf(focus));
    EXPECT_EQ(app.f.Frame()->PaneText(0), QStringLiteral("Ready"));

    // On empty space it works in the folder the list still shows.
    QTest::keyClick(focus, Qt::Key_Escape); AwaitSpawned();
    Settle();
    RightClick(tree, EmptySpace(tree), kNewFolder);
    EXPECT_TRUE(QFileInfo(app.Home() + QStringLiteral("/Web/NewFolder3")).isDir());
    EXPECT_FALSE(QFileInfo::exists(app.Home() + QStringLiteral("/NewFolder1")));
}

TEST(TreeRename, DrivesAndRootsRefuseTheEdit) {
    TreeApp app;
    CMyTreeView* tree = app.Local();
    for (QTreeWidgetItem* item : {app.HomeDrive(), tree->m_rootItem, app.Ftp()->m_rootItem}) {
        auto* owner = static_cast<CMyTreeView*>(item->treeWidget());
        EXPECT_FALSE(owner->EditLabel(item)) << item->text(0).toStdString();
        EXPECT_EQ(owner->m_editing, 0);
        EXPECT_EQ(OpenEditor(owner), nullptr);
    }
    // F2 on a drive opens nothing either.
    TreeApp::Select(app.HomeDrive());
    QTest::keyClick(tree, Qt::Key_F2); AwaitSpawned();
    EXPECT_EQ(OpenEditor(tree), nullptr);
}

TEST(TreeRename, NewNamesThatAreTakenOrNoNamesAreRefusedAndTheEditReopens) {
    const struct {
        const char* name;
        QString text;
        bool renamed;
    } cases[] = {
        {"a free name", QStringLiteral("Site"), true},
        {"an empty sibling folder", QStringLiteral("Other"), false},
        {"a sibling file", QStringLiteral("notes.txt"), false},
        {"a path into the sibling", QStringLiteral("Other/Web"), false},
        {"the parent", QStringLiteral(".."), false},
        {"no name", QString(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TreeApp app;
        ASSERT_TRUE(MakeLocal(app.Home(), {"Web/index.html", "Web/img/", "Other/", "notes.txt"}));
        CMyTreeView* tree = app.Local();
        QTreeWidgetItem* drive = app.Open(app.HomeDrive(), {});
        QTreeWidgetItem* web = Child(drive, QStringLiteral("Web"));
        TreeApp::Select(app.Open(web, {"img"}));
        TreeApp::Select(web);
        const auto before = Snapshot(app.Home());

        tree->OnCommand(CMyTreeView::ID_TREE_RENAME);
        ASSERT_EQ(tree->m_editing, 1);
        TypeLabel(tree, c.text);
        if (c.renamed) {
            EXPECT_EQ(web->text(0), c.text);
            EXPECT_TRUE(QFileInfo(app.Home() + QStringLiteral("/Site/img")).isDir());
            EXPECT_FALSE(QFileInfo::exists(app.Home() + QStringLiteral("/Web")));
            // The list keeps its rows; its path follows the new name.
            EXPECT_EQ(app.f.LocalList()->m_path, app.Home() + QStringLiteral("/Site/"));
            EXPECT_EQ(tree->m_editing, 0);
            EXPECT_EQ(app.f.Boxes().CountCaption(kRenameError), 0);
            continue;
        }
        EXPECT_EQ(app.f.Boxes().CountCaption(kRenameError), 1);
        EXPECT_EQ(Snapshot(app.Home()), before);
        // The edit is open again on the same folder; Escape keeps the old name.
        EXPECT_EQ(tree->m_editing, 1);
        ASSERT_NE(OpenEditor(tree), nullptr);
        QTest::keyClick(OpenEditor(tree), Qt::Key_Escape); AwaitSpawned();
        Settle();
        EXPECT_EQ(tree->m_editing, 0);
        EXPECT_EQ(web->text(0), QStringLiteral("Web"));
        EXPECT_EQ(app.f.LocalList()->m_path, app.Home() + QStringLiteral("/Web/"));
        EXPECT_EQ(app.f.Boxes().CountCaption(kRenameError), 1);
    }
}

TEST(TreeRename, ANameConfirmedAsItStoodRenamesNothingAndAsksNothing) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"Web/index.html"}));
    CMyTreeView* tree = app.Local();
    QTreeWidgetItem* drive = app.Open(app.HomeDrive(), {});
    QTreeWidgetItem* web = Child(drive, QStringLiteral("Web"));
    TreeApp::Select(web);
    const auto before = Snapshot(app.Home());
    app.f.Boxes().Clear();
    tree->OnCommand(CMyTreeView::ID_TREE_RENAME);
    ASSERT_EQ(tree->m_editing, 1);
    TypeLabel(tree, QStringLiteral("Web"));
    EXPECT_EQ(app.f.Boxes().Count(), 0);
    EXPECT_EQ(tree->m_editing, 0);
    EXPECT_EQ(web->text(0), QStringLiteral("Web"));
    EXPECT_EQ(Snapshot(app.Home()), before);
}

TEST(TreeRename, TheListShowingAFolderInsideFollowsTheNewName) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"Data/One/x.txt"}));
    CMyTreeView* tree = app.Local();
    QTreeWidgetItem* data = app.Open(app.HomeDrive(), {"Data"});
    TreeApp::Select(app.Open(data, {"One"}));
    ASSERT_TRUE(tree->EditLabel(data));
    TypeLabel(tree, QStringLiteral("Info"));
    EXPECT_EQ(data->text(0), QStringLiteral("Info"));
    EXPECT_EQ(app.f.LocalList()->m_path, app.Home() + QStringLiteral("/Info/One/"));
    EXPECT_EQ(ListNames(app.f.LocalList()), QStringList{QStringLiteral("x.txt")});
}

TEST(TreeDelete, OnlyAfterOkAndOnlyFolders) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"Web/img/logo.png", "Web/index.html", "keep.txt"}));
    CMyTreeView* tree = app.Local();
    QTreeWidgetItem* drive = app.Open(app.HomeDrive(), {});
    QTreeWidgetItem* web = Child(drive, QStringLiteral("Web"));
    TreeApp::Select(web);
    const auto before = Snapshot(app.Home());

    // The Delete key on a drive asks nothing and deletes nothing.
    TreeApp::Select(drive);
    app.f.Boxes().Clear();
    QTest::keyClick(tree, Qt::Key_Delete); AwaitSpawned();
    EXPECT_EQ(app.f.Boxes().Count(), 0);

    // Cancel leaves everything.
    TreeApp::Select(web);
    app.f.Boxes().Answer(IDCANCEL);
    QTest::keyClick(tree, Qt::Key_Delete); AwaitSpawned();
    EXPECT_EQ(app.f.Boxes().CountCaption(kConfirmDelete), 1);
    EXPECT_EQ(Snapshot(app.Home()), before);
    EXPECT_EQ(Child(drive, QStringLiteral("Web")), web);

    // The Delete key inside an open edit belongs to the edit.
    ASSERT_TRUE(tree->EditLabel(web));
    QTest::keyClick(OpenEditor(tree), Qt::Key_Delete); AwaitSpawned();
    EXPECT_EQ(app.f.Boxes().CountCaption(kConfirmDelete), 1);
    QTest::keyClick(OpenEditor(tree), Qt::Key_Escape); AwaitSpawned();
    Settle();

    // OK from the menu: the folder goes with all it holds; the parent is shown.
    const MenuSeen seen = RightClick(tree, CentreOf(tree, web), kDelete);
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(app.f.Boxes().CountCaption(kConfirmDelete), 2);
    EXPECT_FALSE(QFileInfo::exists(app.Home() + QStringLiteral("/Web")));
    EXPECT_TRUE(QFileInfo::exists(app.Home() + QStringLiteral("/keep.txt")));
    EXPECT_EQ(Child(drive, QStringLiteral("Web")), nullptr);
    EXPECT_EQ(tree->SelectedItem(), drive);
    EXPECT_EQ(app.f.LocalList()->m_treeItem, drive);
    EXPECT_EQ(app.f.LocalList()->m_path, app.Home() + QLatin1Char('/'));
    EXPECT_EQ(ListNames(app.f.LocalList()), QStringList{QStringLiteral("keep.txt")});
    EXPECT_EQ(app.f.Frame()->PaneText(0), QStringLiteral("Ready"));
}

TEST(TreeDelete, AFolderThatIsALinkGoesAsALink) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"Outside/keep.txt", "Outside/sub/keep2.txt"}));
    ASSERT_TRUE(
        QFile::link(app.Home() + QStringLiteral("/Outside"), app.Home() + QStringLiteral("/Link")));
    const auto outside = Snapshot(app.Home() + QStringLiteral("/Outside"));
    QTreeWidgetItem* drive = app.Open(app.HomeDrive(), {});
    TreeApp::Select(Child(drive, QStringLiteral("Link")));
    Await(app.Local()->DeleteSelectedFolder());
    EXPECT_FALSE(QFileInfo(app.Home() + QStringLiteral("/Link")).isSymLink());
    EXPECT_EQ(Snapshot(app.Home() + QStringLiteral("/Outside")), outside);
    EXPECT_EQ(ChildLabels(drive), QStringList{QStringLiteral("Outside")});
}

TEST(TreeKeys, TabCyclesThroughTheFourPanes) {
    TreeApp app;
    CMainFrame* frame = app.f.Frame();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    auto focused = [&](QWidget* pane) {
        return pane->hasFocus() || pane->isAncestorOf(QApplication::focusWidget());
    };
    QWidget* order[4] = {app.Local(), app.f.LocalList(), app.Ftp(), app.f.FtpList()};
    // Shift+Tab from a tree goes to the list of the other row.
    app.Local()->setFocus();
    QTest::keyClick(app.Local(), Qt::Key_Backtab, Qt::ShiftModifier); AwaitSpawned();
    EXPECT_TRUE(focused(app.f.FtpList()));
    app.Ftp()->setFocus();
    QTest::keyClick(app.Ftp(), Qt::Key_Backtab, Qt::ShiftModifier); AwaitSpawned();
    EXPECT_TRUE(focused(app.f.LocalList()));
    // Tab goes round: local tree, local list, FTP tree, FTP list, local tree.
    app.Local()->setFocus();
    for (int i = 1; i <= 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); AwaitSpawned();
        EXPECT_TRUE(focused(order[i % 4])) << "step " << i;
    }
}

class FtpTreeOpsTest : public testing::TestWithParam<TreeServer> {};

TEST_P(FtpTreeOpsTest, RenameDeleteAndMenusOnTheServer) {
    TreeApp app(GetParam().kind, false);
    ASSERT_TRUE(
        MakeRemote(app.Server(), {"www/index.html", "www/img/logo.png", "Other/", "pub/x.txt"}));
    ASSERT_TRUE(app.Start());
    CMyTreeView* tree = app.Ftp();
    QTreeWidgetItem* root = tree->m_rootItem;
    QTreeWidgetItem* www = Child(root, QStringLiteral("www"));
    ASSERT_NE(www, nullptr);

    // The root is a place: only New Folder, and no edit.
    const MenuSeen onRoot = RightClick(tree, CentreOf(tree, root));
    EXPECT_TRUE(onRoot.shown);
    EXPECT_EQ(onRoot.enabled, QStringList{kNewFolder});
    EXPECT_FALSE(tree->EditLabel(root));

    // A taken name is refused on the server too, even an empty folder's.
    TreeApp::Select(www);
    ASSERT_TRUE(tree->EditLabel(www));
    TypeLabel(tree, QStringLiteral("Other"));
    EXPECT_EQ(app.f.Boxes().CountCaption(kRenameError), 1);
    EXPECT_EQ(tree->m_editing, 1);
    QTest::keyClick(OpenEditor(tree), Qt::Key_Escape); AwaitSpawned();
    Settle();
    EXPECT_TRUE(QFileInfo(app.Server().PathOf(QStringLiteral("Other"))).isDir());
    EXPECT_EQ(app.Server().ReadFile(QStringLiteral("www/index.html")), "www/index.html");

    // A free name: renamed on the server, the list's path follows.
    ASSERT_TRUE(tree->EditLabel(www));
    TypeLabel(tree, QStringLiteral("site"));
    EXPECT_EQ(www->text(0), QStringLiteral("site"));
    EXPECT_EQ(app.Server().ReadFile(QStringLiteral("site/img/logo.png")), "www/img/logo.png");
    EXPECT_EQ(app.f.FtpList()->m_path, QStringLiteral("//site/"));

    // Delete: Cancel keeps it, OK deletes the tree and shows the root again.
    const auto before = Snapshot(app.Server().Root());
    app.f.Boxes().Answer(IDCANCEL);
    Await(tree->DeleteSelectedFolder());
    EXPECT_EQ(Snapshot(app.Server().Root()), before);
    RightClick(tree, CentreOf(tree, www), kDelete);
    EXPECT_EQ(app.f.Boxes().CountCaption(kConfirmDelete), 2);
    EXPECT_FALSE(QFileInfo::exists(app.Server().PathOf(QStringLiteral("site"))));
    EXPECT_EQ(ChildLabels(root), (QStringList{"Other", "pub"}));
    EXPECT_EQ(tree->SelectedItem(), root);
    EXPECT_EQ(app.f.FtpList()->m_path, QStringLiteral("//"));
    EXPECT_EQ(ListNames(app.f.FtpList()), (QStringList{"Other", "pub"}));

    // New Folder through the FTP list, in the folder right-clicked.
    RightClick(tree, CentreOf(tree, Child(root, QStringLiteral("pub"))), kNewFolder);
    EXPECT_TRUE(QFileInfo(app.Server().PathOf(QStringLiteral("pub/NewFolder1"))).isDir());
    EXPECT_EQ(ChildLabels(Child(root, QStringLiteral("pub"))), QStringList{"NewFolder1"});
    EXPECT_EQ(app.f.Frame()->PaneText(0), QStringLiteral("Ready"));
}

TEST(FtpTreeOps, NoMenuNoEditNoDeleteWhileTheSideIsUnavailable) {
    TreeApp app;
    CMyTreeView* tree = app.Ftp();
    ASSERT_TRUE(app.f.App().Site().IsUnavailable());
    app.f.Boxes().Clear();
    EXPECT_FALSE(RightClick(tree, CentreOf(tree, tree->m_rootItem)).shown);
    EXPECT_FALSE(RightClick(tree, EmptySpace(tree)).shown);
    EXPECT_EQ(tree->MakeContextMenu(tree->m_rootItem), nullptr);
    TreeApp::Select(tree->m_rootItem);
    QTest::keyClick(tree, Qt::Key_Delete); AwaitSpawned();
    EXPECT_EQ(app.f.Boxes().Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpTreeOpsTest, testing::ValuesIn(kTreeServers), TreeServerName);

} // namespace
