// Copy and paste with the keys and the context menus, in the whole program
// offscreen, on real folders and a real FTP server.
#include <QApplication>
#include "Await.h"
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include "../list/ListTestUtil.h"
#include "FtpServer.h"
#include "PaneCommands.h"

namespace {
using listtest::LocalDir;
using listtest::RowOf;
using listtest::Show;

void Select(CMyListView* list, const QStringList& names) {
    QList<int> rows;
    for (const QString& name : names)
        rows << RowOf(list, name);
    list->SelectRows(rows);
}

void Key(QWidget* pane, QKeySequence::StandardKey key) {
    const QKeySequence sequence(key);
    QTest::keyClick(pane, static_cast<Qt::Key>(sequence[0].key()), sequence[0].keyboardModifiers()); AwaitSpawned();
}

QStringList MenuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator())
            texts << a->text() + (a->isEnabled() ? "" : " (off)");
    return texts;
}

TEST(Paste, LocalItemsCopiedAndPastedIntoAnotherFolderByTheKeys) {
    auto f = listtest::StartOffline();
    LocalDir from, to;
    ASSERT_TRUE(from.File("notes.txt", "some notes\n") && from.Dir("tree/inner") &&
                from.File("tree/inner/deep.bin", QByteArray(70000, 'q')) &&
                from.File("left-alone.txt"));
    CMyListView* list = f->LocalList();
    Show(list, from.Path());
    Select(list, {"notes.txt", "tree"});
    Key(list, QKeySequence::Copy);
    EXPECT_EQ(f->Frame()->PaneText(0), "Copied 2 items");
    Show(list, to.Path());
    Key(list, QKeySequence::Paste);
    EXPECT_EQ(f->Boxes().Captions(), QStringList{"Confirm File Copy"});
    EXPECT_EQ(to.Read("notes.txt"), "some notes\n");
    EXPECT_EQ(to.Read("tree/inner/deep.bin"), QByteArray(70000, 'q'));
    EXPECT_FALSE(to.Exists("left-alone.txt"));
    EXPECT_EQ(from.Read("notes.txt"), "some notes\n"); // a copy, never a move
    EXPECT_TRUE(f->Frame()->isEnabled());

    // Answered No, the question leaves everything as it was.
    LocalDir third;
    Show(list, third.Path());
    f->Boxes().Answer(IDNO);
    Key(list, QKeySequence::Paste);
    EXPECT_FALSE(third.Exists("notes.txt"));
}

TEST(Paste, OntoItselfOrItsOwnFolderIsRefusedAndLosesNothing) {
    auto f = listtest::StartOffline();
    LocalDir dir;
    ASSERT_TRUE(dir.File("same.txt", "keep me") && dir.Dir("box") && dir.File("box/in.txt", "in"));
    CMyListView* list = f->LocalList();
    const struct {
        QString item;
        int pasteRow; // -1: the folder the list shows
        QString caption;
    } cases[] = {
        {"same.txt", -1, "Error Copying File"},
        {"box", -1, "Error Copying Folder"}, // onto its own parent
        {"box", -2, "Error Copying Folder"}, // into itself, from the menu
    };
    for (const auto& c : cases) {
        Show(list, dir.Path());
        Select(list, {c.item});
        ASSERT_TRUE(CopyListSelection(list));
        f->Boxes().Clear();
        const int row = c.pasteRow == -2 ? RowOf(list, "box") : -1;
        EXPECT_FALSE(Await(PasteIntoList(list, row))) << c.item.toStdString();
        EXPECT_EQ(f->Boxes().Captions(), (QStringList{"Confirm File Copy", c.caption}))
            << c.item.toStdString();
        EXPECT_EQ(dir.Read("same.txt"), "keep me");
        EXPECT_EQ(dir.Read("box/in.txt"), "in");
    }
}

TEST(Paste, FilesCopiedInAFileManagerArePasted) {
    auto f = listtest::StartOffline();
    LocalDir desktop, to;
    ASSERT_TRUE(desktop.File("from desktop #1.txt", "desk") && desktop.Dir("album") &&
                desktop.File("album/p.jpg", QByteArray(5000, 'j')));
    const struct {
        const char* format;
        QByteArray data;
    } forms[] = {
        {"text/uri-list",
         "file://" + QUrl::toPercentEncoding(desktop.PathOf("from desktop #1.txt"), "/") +
             "\r\nfile://" + QUrl::toPercentEncoding(desktop.PathOf("album"), "/")},
        {"x-special/gnome-copied-files",
         "copy\n" + QUrl::fromLocalFile(desktop.PathOf("from desktop #1.txt")).toEncoded() + "\n" +
             QUrl::fromLocalFile(desktop.PathOf("album")).toEncoded()},
    };
    for (const auto& form : forms) {
        LocalDir dest;
        auto* mime = new QMimeData;
        mime->setData(form.format, form.data);
        QGuiApplication::clipboard()->setMimeData(mime);
        Show(f->LocalList(), dest.Path());
        Key(f->LocalList(), QKeySequence::Paste);
        EXPECT_EQ(dest.Read("from desktop #1.txt"), "desk") << form.format;
        EXPECT_EQ(dest.Read("album/p.jpg"), QByteArray(5000, 'j')) << form.format;
    }
}

TEST(Paste, NothingToPasteAsksNothingAndSaysSo) {
    auto f = listtest::StartOffline();
    LocalDir dir;
    Show(f->LocalList(), dir.Path());
    QGuiApplication::clipboard()->setText("just words");
    Key(f->LocalList(), QKeySequence::Paste);
    EXPECT_EQ(f->Boxes().Count(), 0);
    EXPECT_EQ(f->Frame()->PaneText(0), "Nothing to paste");
    EXPECT_TRUE(QDir(dir.Path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST(Paste, TheContextMenusEndWithCopyAndPaste) {
    auto f = listtest::StartOffline();
    LocalDir dir;
    ASSERT_TRUE(dir.File("a.txt"));
    CMyListView* list = f->LocalList();
    Show(list, dir.Path());
    QGuiApplication::clipboard()->setText("nothing to paste");
    Select(list, {"a.txt"});
    QMenu* menu = list->MakeContextMenu(list->visualRect(list->Model()->index(0, 0)).center());
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MenuTexts(menu),
              (QStringList{"&New Folder", "&Rename", "&Delete", "Copy", "Paste (off)"}));
    EXPECT_EQ(menu->actions().last()->objectName(), QString::number(ID_EDIT_PASTE));
    EXPECT_EQ(menu->accessibleName(), "Local files");
    delete menu;
    ASSERT_TRUE(CopyListSelection(list));
    menu = list->MakeContextMenu(QPoint(2, 2000)); // below the items
    EXPECT_EQ(MenuTexts(menu),
              (QStringList{"&New Folder", "&Rename (off)", "&Delete (off)", "Copy", "Paste"}));
    delete menu;
    // The tree: a drive cannot be copied, a folder can.
    CMyTreeView* tree = f->LocalTree();
    QTreeWidgetItem* drive = listtest::ChildNamed(tree->m_rootItem, "/");
    tree->SelectItem(drive);
    AwaitSpawned();
    menu = tree->MakeContextMenu(drive);
    EXPECT_EQ(MenuTexts(menu).mid(3), (QStringList{"Copy (off)", "Paste"}));
    delete menu;
}

// Presses the status window's Cancel once its bar has moved, as a hand would,
// and keeps the operation line it read.
class CancelWhenUnderWay : public QObject {
public:
    CancelWhenUnderWay() {
        connect(&m_timer, &QTimer::timeout, this, [this] { Look(); });
        m_timer.start(2);
    }
    QString operation;
    int barAtCancel = -1;

private:
    void Look() {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() != "184" || !top->isVisible() || barAtCancel >= 0)
                continue;
            auto* bar = top->findChild<QProgressBar*>("1041");
            auto* cancel = top->findChild<QPushButton*>("1033");
            if (!bar || !cancel || bar->value() <= 0)
                continue;
            operation = top->findChild<QLabel*>("1032")->text();
            barAtCancel = bar->value();
            cancel->click();
        }
    }
    QTimer m_timer;
};

TEST(PasteLocal, ALocalCopyRunsInTheStatusWindowAndItsCancelKeepsTheOldFile) {
    auto f = listtest::StartOffline();
    LocalDir from, to;
    {
        QFile big(from.PathOf("big.iso"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(600000000)); // a hole
    }
    ASSERT_TRUE(to.File("big.iso", "the old file"));
    Show(f->LocalList(), from.Path());
    Select(f->LocalList(), {"big.iso"});
    ASSERT_TRUE(CopyListSelection(f->LocalList()));
    Show(f->LocalList(), to.Path());
    CancelWhenUnderWay hand;
    EXPECT_FALSE(Await(PasteIntoList(f->LocalList(), -1)));
    EXPECT_EQ(hand.operation, "Copying files from Local Computer to Local Computer - Please Wait");
    EXPECT_GT(hand.barAtCancel, 0);
    EXPECT_LT(hand.barAtCancel, 100) << "the copy ended before Cancel could be pressed";
    EXPECT_EQ(f->Boxes().Captions(), (QStringList{"Confirm File Copy", "Communication Cancelled"}));
    EXPECT_EQ(to.Read("big.iso"), "the old file");
    EXPECT_EQ(QDir(to.Path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
              QStringList{"big.iso"})
        << "a partial copy was left beside the old file";
    EXPECT_TRUE(f->Frame()->isEnabled());
}

class PasteFtp : public testing::Test {
protected:
    FtpServer m_server{FtpServer::Kind::Pyftpdlib};
};

TEST_F(PasteFtp, UpAndDownByTheKeysInTheTreesAndLists) {
    ASSERT_TRUE(m_server.IsRunning()) << m_server.Error().toStdString();
    ASSERT_TRUE(QDir().mkpath(m_server.Root() + "/incoming"));
    auto f = listtest::StartWith(m_server);
    LocalDir local;
    const QByteArray data(123457, 'u');
    ASSERT_TRUE(local.File("up.bin", data) && local.Dir("pack/sub") &&
                local.File("pack/sub/x.txt", "x"));
    Show(f->LocalList(), local.Path());
    Select(f->LocalList(), {"up.bin", "pack"});
    Key(f->LocalList(), QKeySequence::Copy);
    // Ctrl+V on the FTP tree's folder "incoming".
    QTreeWidgetItem* incoming = listtest::OpenFtp(f->FtpTree(), {"incoming"});
    ASSERT_NE(incoming, nullptr);
    Key(f->FtpTree(), QKeySequence::Paste);
    QFile up(m_server.Root() + "/incoming/up.bin");
    ASSERT_TRUE(up.open(QIODevice::ReadOnly));
    EXPECT_EQ(up.readAll(), data);
    EXPECT_TRUE(QFile::exists(m_server.Root() + "/incoming/pack/sub/x.txt"));

    // And back down: the FTP list shows /incoming; Ctrl+C there, Ctrl+V in a
    // local list showing another folder.
    listtest::OpenFtp(f->FtpTree(), {"incoming"});
    Select(f->FtpList(), {"up.bin", "pack"});
    Key(f->FtpList(), QKeySequence::Copy);
    LocalDir down;
    Show(f->LocalList(), down.Path());
    f->Boxes().Clear();
    Key(f->LocalList(), QKeySequence::Paste);
    EXPECT_EQ(f->Boxes().Captions(), QStringList{"Confirm File Copy"});
    EXPECT_EQ(down.Read("up.bin"), data);
    EXPECT_EQ(down.Read("pack/sub/x.txt"), "x");
}

// Ctrl+V on a list, or on the tree's item of the folder it shows: the list shows
// the new item and the status bar its new count at once, as after a drop.
TEST_F(PasteFtp, TheFolderPastedIntoShowsTheNewItemAndItsCount) {
    for (const char* dir : {"out/downbox", "to-up.txt", "to-upbox"})
        ASSERT_TRUE(m_server.MakeDir(dir) && m_server.WriteFile(dir + QString("/old"), "x"));
    ASSERT_TRUE(m_server.WriteFile("out/down.txt", "x"));
    auto f = listtest::StartWith(m_server);
    LocalDir source, dests[2]; // made before the tree reads their parent
    ASSERT_TRUE(source.File("up.txt") && source.Dir("upbox") && dests[0].File("old") &&
                dests[1].File("old"));
    const struct {
        QString name;
        bool toFtp, byTree;
    } cases[] = {{"down.txt", false, false},
                 {"up.txt", true, false},
                 {"downbox", false, true},
                 {"upbox", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        CMyListView* from = c.toFtp ? f->LocalList() : f->FtpList();
        CMyTreeView* tree = c.toFtp ? f->FtpTree() : f->LocalTree();
        CMyListView* list = c.toFtp ? f->FtpList() : f->LocalList();
        if (c.toFtp)
            Show(from, source.Path());
        else
            listtest::OpenFtp(f->FtpTree(), {"out"});
        Select(from, {c.name});
        Key(from, QKeySequence::Copy);
        ASSERT_TRUE(c.toFtp ? listtest::OpenFtp(tree, {"to-" + c.name})
                            : listtest::OpenLocal(tree, dests[c.byTree].Path()));
        ASSERT_EQ(listtest::Names(list), QStringList{"old"});
        Key(c.byTree ? static_cast<QWidget*>(tree) : list, QKeySequence::Paste);
        EXPECT_EQ(listtest::Names(list).size(), 2);
        EXPECT_GE(RowOf(list, c.name), 0);
        EXPECT_EQ(f->Frame()->PaneText(c.toFtp ? 2 : 1).toStdString(),
                  c.toFtp ? "FTP: 2 Items" : "Local: 2 Items");
        if (c.byTree) { // the new folder is in the tree too
            EXPECT_EQ(listtest::Labels(tree->SelectedItem()), QStringList{c.name});
        }
    }
}

} // namespace
