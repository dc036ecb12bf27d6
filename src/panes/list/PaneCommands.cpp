#include "PaneCommands.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>

#include "FrameBase.h"
#include "Messages.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "PaneClipboard.h"
#include "TreeSupport.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"
#include "WaitCursor.h"

namespace {
void Say(CFrameBase* frame, const QString& text) {
    // The status pane is what a screen reader reads back after a key.
    if (frame)
        frame->SetPaneText(0, text);
}

QString Origin(const CVelmarApp* app) {
    return app->Site().Profile().m_address + QLatin1Char('\n') + app->Site().Profile().m_userId;
}

QString WithSlash(const QString& path) {
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

QString WithoutSlash(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

void Record(CVelmarDoc* doc, CFrameBase* frame, PaneClip clip) {
    if (clip.side == 1)
        clip.origin = Origin(AfxGetApp());
    const int count = static_cast<int>(clip.items.size());
    PaneClipboard::Of(doc)->Copy(clip);
    Say(frame, count == 1 ? QStringLiteral("Copied %1").arg(clip.items.first().name)
                          : QStringLiteral("Copied %1 items").arg(count));
}

// What a paste would copy now; empty (with the reason in the status pane) when
// there is nothing, or when FTP items were copied from another server than the
// one now connected, whose same paths would be other files.
PaneClip Pasteable(CVelmarDoc* doc, CFrameBase* frame) {
    PaneClip clip = PaneClipboard::Of(doc)->Current();
    if (clip.IsEmpty()) {
        Say(frame, QStringLiteral("Nothing to paste"));
        QApplication::beep();
        return {};
    }
    if (clip.side == 1 &&
        (AfxGetApp()->Site().IsUnavailable() || clip.origin != Origin(AfxGetApp()))) {
        Say(frame, QStringLiteral("The copied FTP items are not on the connected FTP server"));
        QApplication::beep();
        return {};
    }
    return clip;
}

enum class PasteRun { NotRun, Failed, Copied };

// The copy itself, as a drop runs it: the question first, then the copy with
// the status window, by the destination side's list pane. A paste that failed
// may have copied some items all the same; only one that never ran (refused, or
// answered No) leaves nothing new to show.
core::Task<PasteRun> RunPaste(QWidget* owner, CMyListView* destList, QString destFolder,
                              bool destFtp, PaneClip clip) {
    if (!destList || destFolder.isEmpty() || (destFtp && AfxGetApp()->Site().IsUnavailable()))
        co_return PasteRun::NotRun;
    if (!ConfirmFileCopy(owner))
        co_return PasteRun::NotRun;
    CWaitCursor wait;
    const bool copied =
        co_await destList->CopyClipItems(clip.items, clip.side == 1, WithSlash(destFolder), destFtp);
    co_return copied ? PasteRun::Copied : PasteRun::Failed;
}

} // namespace

bool CopyListSelection(CMyListView* list) {
    PaneClip clip;
    clip.side = list->m_side;
    for (int row : list->SelectedRows()) {
        const QString name = list->ItemName(row);
        clip.items.append({list->m_path + name, name, list->IsFolderItem(row)});
    }
    if (clip.items.isEmpty() || list->m_path.isEmpty()) {
        Say(list->m_frame, QStringLiteral("Nothing selected to copy"));
        return false;
    }
    Record(list->m_doc, list->m_frame, clip);
    return true;
}

bool CopyTreeSelection(CMyTreeView* tree) {
    QTreeWidgetItem* item = tree->SelectedItem();
    const int image = CMyTreeView::ItemImage(item);
    if (image != IMG_LOCAL_FOLDER && image != IMG_FTP_FOLDER) {
        // Drives and roots stay where they are, as in a drag.
        Say(tree->m_frame, QStringLiteral("Nothing selected to copy"));
        return false;
    }
    PaneClip clip;
    clip.side = tree->m_side;
    clip.items.append({WithoutSlash(tree->GetPath(item)), item->text(0), true});
    Record(tree->m_doc, tree->m_frame, clip);
    return true;
}

core::Task<bool> PasteIntoList(CMyListView* list, int row) {
    if (list->m_path.isEmpty())
        co_return false;
    const PaneClip clip = Pasteable(list->m_doc, list->m_frame);
    if (clip.IsEmpty())
        co_return false;
    const bool intoItem = row >= 0 && row < list->ItemCount() && list->IsFolderItem(row);
    const QString dest = intoItem ? list->m_path + list->ItemName(row) : list->m_path;
    const PasteRun run = co_await RunPaste(list, list, dest, list->m_side == 1, clip);
    if (run == PasteRun::NotRun)
        co_return false;
    // As after a drop onto the folder's tree item: the tree reads the folder's
    // subfolders again, and the list, when the items went into the folder it
    // shows, shows them with their count. Into a folder item, the list's rows
    // stay as they are, as after a drop onto that item.
    co_await list->RefreshTreeNode();
    if (!intoItem)
        co_await list->Populate(list->m_path);
    co_return run == PasteRun::Copied;
}

core::Task<bool> PasteIntoTree(CMyTreeView* tree, QTreeWidgetItem* item) {
    const int image = CMyTreeView::ItemImage(item);
    if (!item || image < 0 || image == IMG_LOCAL_COMPUTER)
        co_return false;
    const PaneClip clip = Pasteable(tree->m_doc, tree->m_frame);
    if (clip.IsEmpty())
        co_return false;
    const QString path = tree->GetPath(item);
    const QStringList chain = LabelChain(item);
    const PasteRun run = co_await RunPaste(tree, tree->m_listView, path, tree->m_side == 1, clip);
    if (run == PasteRun::NotRun)
        co_return false;
    co_await tree->RefreshAfterCopy(chain, path);
    co_return run == PasteRun::Copied;
}

namespace {
int ClipboardKey(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy))
        return ID_EDIT_COPY;
    if (event->matches(QKeySequence::Paste))
        return ID_EDIT_PASTE;
    return 0;
}
} // namespace

bool HandleClipboardKey(CMyListView* list, QKeyEvent* event) {
    const int command = list->m_editing ? 0 : ClipboardKey(event);
    if (command == ID_EDIT_COPY)
        CopyListSelection(list);
    else if (command == ID_EDIT_PASTE)
        PasteIntoList(list, -1).Spawn(); // the folder the list shows
    if (command)
        event->accept();
    return command != 0;
}

bool HandleClipboardKey(CMyTreeView* tree, QKeyEvent* event) {
    const int command = tree->m_editing ? 0 : ClipboardKey(event);
    if (command == ID_EDIT_COPY)
        CopyTreeSelection(tree);
    else if (command == ID_EDIT_PASTE)
        PasteIntoTree(tree, tree->SelectedItem()).Spawn();
    if (command)
        event->accept();
    return command != 0;
}

void AddClipboardItems(QMenu* menu, bool canCopy, bool canPaste) {
    if (!menu)
        return;
    menu->addSeparator();
    const struct {
        int id;
        const char* text;
        QKeySequence keys;
        bool enabled;
    } items[] = {{ID_EDIT_COPY, "Copy", QKeySequence::Copy, canCopy},
                 {ID_EDIT_PASTE, "Paste", QKeySequence::Paste, canPaste}};
    for (const auto& item : items) {
        QAction* action = menu->addAction(QString::fromLatin1(item.text));
        action->setObjectName(QString::number(item.id));
        // Shown beside the item, and read out with it; the pane handles the key.
        action->setShortcut(item.keys);
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setEnabled(item.enabled);
    }
    // Read out as the menu of its pane.
    if (QWidget* owner = menu->parentWidget())
        menu->setAccessibleName(owner->accessibleName());
}

QAction* RunPaneMenu(QMenu* menu, const QPoint& globalPos) {
    QPointer<QAction> pressed;
    QObject::connect(menu, &QMenu::triggered, menu, [&pressed, menu](QAction* action) {
        pressed = action;
        menu->close();
    });
    QAction* chosen = menu->exec(globalPos);
    return chosen ? chosen : pressed.data();
}

bool CanPaste(CVelmarDoc* doc) {
    return doc && !PaneClipboard::Of(doc)->Current().IsEmpty();
}
