// Building the two trees, reading folders on demand, and the list following the
// tree's selection, on real folders and real servers.
#include <QFile>
#include <unistd.h>

#include "Await.h"
#include "TreeSupport.h"
#include "TreeTestUtil.h"

namespace {

TEST(LocalTree, DrivesAreTheHomeFolderAndTheRootWithTheirPaths) {
    TreeApp app;
    CMyTreeView* tree = app.Local();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->m_rootItem;
    EXPECT_EQ(root->text(0), QStringLiteral("Local Computer"));
    EXPECT_EQ(CMyTreeView::ItemImage(root), IMG_LOCAL_COMPUTER);
    EXPECT_EQ(ChildLabels(root), (QStringList{app.Home(), QStringLiteral("/")}));
    for (int i = 0; i < root->childCount(); ++i) {
        EXPECT_EQ(CMyTreeView::ItemImage(root->child(i)), IMG_DRIVE);
        EXPECT_EQ(root->child(i)->data(0, Qt::AccessibleTextRole).toString(),
                  root->child(i)->text(0));
    }
    EXPECT_EQ(tree->GetLocalPath(root->child(0)), app.Home() + QLatin1Char('/'));
    EXPECT_EQ(tree->GetLocalPath(root->child(1)), QStringLiteral("/"));
    // The start item is the first drive, and the local list shows it.
    EXPECT_EQ(tree->SelectedItem(), root->child(0));
    EXPECT_EQ(app.f.LocalList()->m_path, app.Home() + QLatin1Char('/'));
    EXPECT_EQ(app.f.LocalList()->m_treeItem, root->child(0));
}

TEST(LocalTree, AMissingHomeFolderIsNoDrive) {
    TreeApp app(std::nullopt, false);
    qputenv("HOME", "/nonexistent/velmar-home");
    app.Start();
    EXPECT_EQ(ChildLabels(app.Local()->m_rootItem), QStringList{QStringLiteral("/")});
    EXPECT_EQ(app.f.LocalList()->m_path, QStringLiteral("/"));
}

TEST(LocalTree, OnlyFoldersWithoutLeadingDotsSortedIgnoringCase) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"beta/", "Alpha/", "gamma/", "Delta/", ".hidden/",
                                       ".profile", "notes.txt", "zeta.d/inner/"}));
    QTreeWidgetItem* drive = app.Open(app.HomeDrive(), {});
    EXPECT_EQ(ChildLabels(drive), (QStringList{"Alpha", "beta", "Delta", "gamma", "zeta.d"}));
    // Every folder carries one placeholder until it is read; it looks like a folder.
    QTreeWidgetItem* beta = Child(drive, QStringLiteral("beta"));
    EXPECT_EQ(ChildLabels(beta), QStringList{QStringLiteral("Empty Folder")});
    EXPECT_EQ(CMyTreeView::ItemImage(beta->child(0)), IMG_LOCAL_FOLDER);
    EXPECT_EQ(beta->child(0)->data(0, CMyTreeView::kSelectedImageRole).toInt(),
              IMG_LOCAL_FOLDER_SEL);
    // A folder without subfolders shows nothing once read.
    TreeApp::Expand(beta, true);
    EXPECT_EQ(beta->childCount(), 0);
    EXPECT_EQ(ChildLabels(app.Open(drive, {"zeta.d"})), QStringList{QStringLiteral("inner")});
    EXPECT_EQ(app.Local()->GetLocalPath(Child(Child(drive, "zeta.d"), "inner")),
              app.Home() + QStringLiteral("/zeta.d/inner/"));
    EXPECT_EQ(app.f.Frame()->PaneText(0), QStringLiteral("Ready"));
}

TEST(LocalTree, EveryExpansionReadsAgainAndCollapseSelects) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"Data/One/"}));
    QTreeWidgetItem* data = app.Open(app.HomeDrive(), {"Data"});
    EXPECT_EQ(ChildLabels(data), QStringList{QStringLiteral("One")});
    TreeApp::Select(Child(data, QStringLiteral("One")));
    EXPECT_EQ(app.f.LocalList()->m_path, app.Home() + QStringLiteral("/Data/One/"));

    // Collapsing selects the collapsed folder, and the list shows it.
    TreeApp::Expand(data, false);
    EXPECT_EQ(app.Local()->SelectedItem(), data);
    EXPECT_EQ(app.f.LocalList()->m_path, app.Home() + QStringLiteral("/Data/"));

    ASSERT_TRUE(MakeLocal(app.Home(), {"Data/Two/"}));
    ASSERT_TRUE(QDir(app.Home() + QStringLiteral("/Data/One")).removeRecursively());
    TreeApp::Expand(data, true);
    EXPECT_EQ(ChildLabels(data), QStringList{QStringLiteral("Two")});
}

TEST(LocalTree, TheListFollowsTheSelectionAndLocalComputerEmptiesIt) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"Web/index.html", "Web/img/", "top.txt"}));
    CMyListView* list = app.f.LocalList();
    QTreeWidgetItem* web = app.Open(app.HomeDrive(), {"Web"});
    TreeApp::Select(web);
    EXPECT_EQ(list->m_treeItem, web);
    EXPECT_EQ(ListNames(list), (QStringList{"img", "index.html"}));

    TreeApp::Select(app.Local()->m_rootItem);
    EXPECT_EQ(list->ItemCount(), 0);
    EXPECT_EQ(list->m_path, app.Home() + QStringLiteral("/Web/")); // kept
    EXPECT_EQ(list->m_treeItem, web);

    // An empty selection computes no path and leaves the list as it was.
    TreeApp::Select(web);
    app.Local()->SelectItem(nullptr);
    EXPECT_EQ(app.Local()->SelectedItem(), nullptr);
    EXPECT_EQ(ListNames(list), (QStringList{"img", "index.html"}));
    Await(app.Local()->ShowSelectionInList());
    EXPECT_EQ(list->m_path, app.Home() + QStringLiteral("/Web/"));
}

TEST(LocalTree, ReadingAFolderAgainLeavesNoItemBehindInTheListOrSelection) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"A/B/C/"}));
    QTreeWidgetItem* a = app.Open(app.HomeDrive(), {"A"});
    QTreeWidgetItem* c = app.Open(a, {"B", "C"});
    TreeApp::Select(c);
    ASSERT_EQ(app.f.LocalList()->m_treeItem, c);
    app.Local()->ReadLocalFolder(app.Local()->GetLocalPath(a), a);
    // The selected item went with the old children: the read item holds both now.
    EXPECT_EQ(app.Local()->SelectedItem(), a);
    EXPECT_EQ(app.f.LocalList()->m_treeItem, a);
    EXPECT_EQ(ChildLabels(a), QStringList{QStringLiteral("B")});
}

TEST(LocalTree, RefreshRebuildsFromTheStartItem) {
    TreeApp app;
    ASSERT_TRUE(MakeLocal(app.Home(), {"Data/One/"}));
    TreeApp::Select(app.Open(app.HomeDrive(), {"Data", "One"}));
    app.f.Frame()->OnRefresh();
    AwaitSpawned();
    QTreeWidgetItem* drive = app.HomeDrive();
    EXPECT_EQ(ChildLabels(drive), QStringList{QStringLiteral("Empty Folder")});
    EXPECT_EQ(app.Local()->SelectedItem(), drive);
    EXPECT_EQ(app.f.LocalList()->m_treeItem, drive);
    EXPECT_EQ(app.f.LocalList()->m_path, app.Home() + QLatin1Char('/'));
}

TEST(FtpTree, AFailedConnectionLeavesNoConnectionAndNoList) {
    TreeApp app;
    CMyTreeView* tree = app.Ftp();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->m_rootItem->text(0), QStringLiteral("No Connection"));
    EXPECT_EQ(tree->m_rootItem->childCount(), 0);
    EXPECT_TRUE(app.f.App().Site().IsUnavailable());
    EXPECT_FALSE(app.f.App().Comm().InProgress());
    EXPECT_TRUE(app.f.Frame()->isEnabled());
    EXPECT_EQ(app.f.FtpList()->ItemCount(), 0);
    EXPECT_EQ(app.f.FtpList()->m_treeItem, nullptr);
    // The connect step has said why, once.
    EXPECT_EQ(app.f.Boxes().Count(), 1);
    // The selection of the root fills nothing while no reading has succeeded.
    TreeApp::Select(tree->m_rootItem);
    EXPECT_EQ(app.f.FtpList()->m_treeItem, nullptr);
}

class FtpTreeTest : public testing::TestWithParam<TreeServer> {};

TEST_P(FtpTreeTest, StartUpConnectsLabelsTheRootAndFillsTheListFromThatReading) {
    TreeApp app(GetParam().kind, false);
    ASSERT_TRUE(MakeRemote(app.Server(), {"www/index.html", "pub/", ".hidden/", "readme.txt"}));
    StatusWindowWatch watch;
    ASSERT_TRUE(app.Start());
    CMyTreeView* tree = app.Ftp();
    EXPECT_FALSE(app.f.App().Site().IsUnavailable());
    EXPECT_EQ(app.f.Boxes().Count(), 0) << app.f.Boxes().Captions().join(',').toStdString();
    // Chrooted servers report "/" as their directory; it labels the root.
    EXPECT_EQ(tree->m_rootItem->text(0), app.f.App().Site().CurrentDir());
    EXPECT_EQ(tree->m_rootItem->text(0), QStringLiteral("/"));
    EXPECT_EQ(ChildLabels(tree->m_rootItem), (QStringList{"pub", "www"}));
    EXPECT_TRUE(tree->m_rootItem->isExpanded());
    EXPECT_EQ(tree->SelectedItem(), tree->m_rootItem);
    // One status window for the whole start-up: the list read nothing again.
    EXPECT_EQ(watch.m_shown, 1);
    EXPECT_GE(watch.m_messageLineShown, 1);
    CMyListView* list = app.f.FtpList();
    EXPECT_EQ(list->m_path, QStringLiteral("//"));
    // The tree leaves out folders that begin with "."; the list shows them.
    EXPECT_EQ(ListNames(list), (QStringList{".hidden", "pub", "www", "readme.txt"}));
    EXPECT_FALSE(app.f.App().Comm().InProgress());
    EXPECT_TRUE(app.f.Frame()->isEnabled());
}

TEST_P(FtpTreeTest, FoldersReadOnEveryExpansionWithDoubledRootPaths) {
    TreeApp app(GetParam().kind, false);
    ASSERT_TRUE(
        MakeRemote(app.Server(), {"www/img/logo.png", "www/css/", "www/.git/", "www/a.txt"}));
    ASSERT_TRUE(app.Start());
    CMyTreeView* tree = app.Ftp();
    QTreeWidgetItem* www = Child(tree->m_rootItem, QStringLiteral("www"));
    ASSERT_NE(www, nullptr);
    EXPECT_EQ(CMyTreeView::ItemImage(www), IMG_FTP_FOLDER);
    EXPECT_EQ(tree->GetFtpPath(tree->m_rootItem), QStringLiteral("//"));
    EXPECT_EQ(tree->GetFtpPath(www), QStringLiteral("//www/"));
    TreeApp::Expand(www, true);
    EXPECT_EQ(ChildLabels(www), (QStringList{"css", "img"}));
    EXPECT_EQ(tree->GetFtpPath(Child(www, QStringLiteral("img"))), QStringLiteral("//www/img/"));

    // Selecting fills the FTP list with the folder through its own path.
    TreeApp::Select(Child(www, QStringLiteral("img")));
    EXPECT_EQ(app.f.FtpList()->m_path, QStringLiteral("//www/img/"));
    EXPECT_EQ(ListNames(app.f.FtpList()), QStringList{QStringLiteral("logo.png")});

    // Collapse selects; the next expansion reads the server again.
    TreeApp::Expand(www, false);
    EXPECT_EQ(tree->SelectedItem(), www);
    EXPECT_EQ(app.f.FtpList()->m_path, QStringLiteral("//www/"));
    ASSERT_TRUE(MakeRemote(app.Server(), {"www/js/"}));
    TreeApp::Expand(www, true);
    EXPECT_EQ(ChildLabels(www), (QStringList{"css", "img", "js"}));
    EXPECT_EQ(app.f.Frame()->PaneText(0), QStringLiteral("Ready"));

    // Expanding the root reads nothing: a folder made meanwhile stays unseen.
    ASSERT_TRUE(MakeRemote(app.Server(), {"later/"}));
    TreeApp::Expand(tree->m_rootItem, false);
    TreeApp::Expand(tree->m_rootItem, true);
    EXPECT_EQ(Child(tree->m_rootItem, QStringLiteral("later")), nullptr);
}

TEST_P(FtpTreeTest, ReconnectRebuildsTheTreeAndAFailedOneMarksTheSideUnavailable) {
    TreeApp app(GetParam().kind, false);
    ASSERT_TRUE(MakeRemote(app.Server(), {"www/sub/"}));
    ASSERT_TRUE(app.Start());
    TreeApp::Select(app.Open(app.Ftp()->m_rootItem, {"www"}));

    app.f.App().Site().RequestRebuild();
    Await(app.f.Frame()->ReconnectFtpSide());
    AwaitSpawned(); // the start item's reading into the list
    CMyTreeView* tree = app.Ftp();
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->m_rootItem->text(0), QStringLiteral("/"));
    EXPECT_EQ(tree->SelectedItem(), tree->m_rootItem);
    EXPECT_EQ(app.f.FtpList()->m_treeItem, tree->m_rootItem);
    EXPECT_EQ(ListNames(app.f.FtpList()), QStringList{QStringLiteral("www")});

    app.Server().Kill();
    app.f.App().Site().RequestRebuild();
    Await(app.f.Frame()->ReconnectFtpSide());
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->m_rootItem->text(0), QStringLiteral("No Connection"));
    EXPECT_TRUE(app.f.App().Site().IsUnavailable());
    EXPECT_EQ(app.f.FtpList()->ItemCount(), 0);
    EXPECT_EQ(app.f.FtpList()->m_treeItem, nullptr);
    EXPECT_TRUE(app.f.Frame()->isEnabled());
}

// A link to a folder is a folder of the tree: it shows among the folders, and
// selecting it enters it and lists what it points to.
TEST_P(FtpTreeTest, LinkToAFolderShowsInTheTreeAndOpensIntoItsTarget) {
    TreeApp app(GetParam().kind, false);
    ASSERT_TRUE(MakeRemote(app.Server(), {"pub/inner.txt", "readme.txt"}));
    for (const auto& [at, target] :
         {std::pair{"link-to-pub", "pub"}, {"link-to-file", "readme.txt"}})
        ASSERT_EQ(
            ::symlink(target,
                      QFile::encodeName(app.Server().PathOf(QString::fromLatin1(at))).constData()),
            0);
    ASSERT_TRUE(app.Start());
    CMyTreeView* tree = app.Ftp();
    EXPECT_EQ(ChildLabels(tree->m_rootItem), (QStringList{"link-to-pub", "pub"}));
    CMyListView* list = app.f.FtpList();
    EXPECT_EQ(ListNames(list), (QStringList{"link-to-pub", "pub", "link-to-file", "readme.txt"}));
    QTreeWidgetItem* link = nullptr;
    for (int i = 0; i < tree->m_rootItem->childCount(); ++i)
        if (tree->m_rootItem->child(i)->text(0) == QLatin1String("link-to-pub"))
            link = tree->m_rootItem->child(i);
    ASSERT_NE(link, nullptr);
    // A folder by its image index, so every folder command takes it; only its
    // icon carries the link mark.
    EXPECT_EQ(CMyTreeView::ItemImage(link), IMG_FTP_FOLDER);
    QTreeWidgetItem* pub = tree->m_rootItem->child(1);
    ASSERT_EQ(pub->text(0), QStringLiteral("pub"));
    const auto iconOf = [](QTreeWidgetItem* item) {
        return item->data(0, Qt::DecorationRole).value<QIcon>().pixmap(16).toImage();
    };
    EXPECT_NE(iconOf(link), iconOf(pub));
    EXPECT_FALSE(iconOf(link).isNull());
    tree->SelectItem(link);
    AwaitSpawned();
    EXPECT_EQ(app.f.Boxes().Count(), 0) << app.f.Boxes().Captions().join(',').toStdString();
    EXPECT_EQ(ListNames(list), QStringList{"inner.txt"});
    // The pane names the folder by the link (servers differ in what PWD says).
    EXPECT_TRUE(list->m_path.endsWith(QStringLiteral("/link-to-pub/")))
        << list->m_path.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpTreeTest, testing::ValuesIn(kAllTreeServers), TreeServerName);

} // namespace
