#include <QAccessible>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

#include "Await.h"
#include "AppFixture.h"
#include "MainFrame.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "PaneAccessible.h"

namespace {

std::unique_ptr<AppFixture> StartOffline() {
    auto f = std::make_unique<AppFixture>();
    f->SetProfile(QStringLiteral("127.0.0.1:1"), QStringLiteral("nobody"), QStringLiteral("x"));
    EXPECT_TRUE(f->Start());
    f->Boxes().Clear();
    return f;
}

QList<QObject*> RootChildren() {
    QList<QObject*> objects;
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(qApp);
    for (int i = 0; root && i < root->childCount(); ++i)
        if (QAccessibleInterface* child = root->child(i))
            objects.append(child->object());
    return objects;
}

TEST(PaneAccessible, AShownContextMenuIsAmongTheProgramsWindows) {
    InstallAccessibleContextMenus();
    auto f = StartOffline();
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(qApp);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->role(), QAccessible::Application);
    EXPECT_TRUE(RootChildren().contains(f->Frame()));

    QMenu* menu = f->LocalList()->MakeContextMenu(QPoint(5, 5));
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(RootChildren().contains(menu)) << "listed before it is shown";
    menu->popup(f->LocalList()->mapToGlobal(QPoint(5, 5)));
    QTRY_VERIFY(menu->isVisible());
    const QList<QObject*> shown = RootChildren();
    ASSERT_TRUE(shown.contains(menu));
    QAccessibleInterface* item = root->child(static_cast<int>(shown.indexOf(menu)));
    EXPECT_EQ(item->role(), QAccessible::PopupMenu);
    EXPECT_EQ(root->indexOfChild(item), shown.indexOf(menu));
    QStringList entries;
    for (int i = 0; i < item->childCount(); ++i)
        entries << item->child(i)->text(QAccessible::Name);
    EXPECT_TRUE(entries.contains(QStringLiteral("Rename"))) << entries.join(',').toStdString();
    menu->hide();
    EXPECT_FALSE(RootChildren().contains(menu));
    delete menu;

    // A menu of the menu bar stays where it is read already: under its item.
    QMenu* sort = f->Frame()->menuBar()->findChildren<QMenu*>().value(0);
    ASSERT_NE(sort, nullptr);
    sort->popup(QPoint(10, 10));
    QTRY_VERIFY(sort->isVisible());
    EXPECT_FALSE(RootChildren().contains(sort));
    sort->hide();
}

TEST(PaneAccessible, ATreeItemsSelectActionPicksThatItem) {
    auto f = StartOffline();
    CMyTreeView* tree = f->LocalTree();
    // The root folder's items lie deeper than their rows among their siblings.
    QTreeWidgetItem* root = nullptr;
    for (int i = 0; i < tree->topLevelItem(0)->childCount(); ++i)
        if (tree->topLevelItem(0)->child(i)->text(0) == QStringLiteral("/"))
            root = tree->topLevelItem(0)->child(i);
    ASSERT_NE(root, nullptr);
    root->setExpanded(true);
    AwaitSpawned();
    ASSERT_GT(root->childCount(), 2);
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(tree);
    ASSERT_NE(table, nullptr);
    int checked = 0;
    for (int i = 0; i < table->childCount() && checked < 6; ++i) {
        QAccessibleInterface* cell = table->child(i);
        if (!cell || cell->role() != QAccessible::TreeItem || !cell->actionInterface())
            continue;
        const QString name = cell->text(QAccessible::Name);
        if (name == QStringLiteral("Local Computer"))
            continue;
        tree->clearSelection();
        cell->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        ASSERT_NE(tree->SelectedItem(), nullptr) << name.toStdString();
        EXPECT_EQ(tree->SelectedItem()->text(0), name);
        ++checked;
    }
    EXPECT_GE(checked, 4);
}

} // namespace
