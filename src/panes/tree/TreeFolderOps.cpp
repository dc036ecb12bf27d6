// The tree pane's folder operations: the context menu, new folder, rename by
// label editing, delete, and the keys.
#include <QContextMenuEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

#include "FrameBase.h"
#include "FtpFileOps.h"
#include "FtpFolderRead.h"
#include "LocalFileOps.h"
#include "MessageBox.h"
#include "Messages.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "PaneCommands.h"
#include "PathRules.h"
#include "TreeSupport.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"
#include "WaitCursor.h"

namespace {
bool IsFolderImage(int image) {
    return image == IMG_LOCAL_FOLDER || image == IMG_FTP_FOLDER;
}

// Drives and roots keep their labels: they name places, not folders of their own.
bool IsFixedImage(int image) {
    return image == IMG_DRIVE || image == IMG_LOCAL_COMPUTER || image == IMG_FTP_ROOT;
}

} // namespace

void CMyTreeView::contextMenuEvent(QContextMenuEvent* event) {
    QPoint pos = event->pos();
    if (event->reason() != QContextMenuEvent::Mouse)
        pos = currentItem() ? visualItemRect(currentItem()).center() : QPoint(-1, -1);
    event->accept();
    OnRightClick(pos);
}

void CMyTreeView::OnRightClick(const QPoint& viewportPos) {
    if (m_side == 1 && App()->Site().IsUnavailable())
        return;
    QTreeWidgetItem* item = itemAt(viewportPos);
    SelectItem(item);
    if (item && ItemImage(item) == IMG_LOCAL_COMPUTER)
        return;
    QMenu* menu = MakeContextMenu(item);
    if (menu)
        RunContextMenu(menu, viewport()->mapToGlobal(viewportPos));
}

QMenu* CMyTreeView::MakeContextMenu(QTreeWidgetItem* item) {
    if (m_side == 1 && App()->Site().IsUnavailable())
        return nullptr;
    if (item && ItemImage(item) == IMG_LOCAL_COMPUTER)
        return nullptr;
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("177"));
    const struct {
        int id;
        const char* text;
    } entries[] = {{ID_TREE_NEW_FOLDER, "&New Folder"},
                   {ID_TREE_RENAME, "&Rename"},
                   {ID_TREE_DELETE, "&Delete"}};
    const bool fixed = !item || IsFixedImage(ItemImage(item));
    for (const auto& e : entries) {
        QAction* action = menu->addAction(QString::fromLatin1(e.text));
        action->setObjectName(QString::number(e.id));
        if (e.id == ID_TREE_NEW_FOLDER)
            // With nothing selected it works in the folder the list shows, so it
            // needs the list to show one.
            action->setEnabled(item || (m_listView && !m_listView->m_path.isEmpty()));
        else
            action->setEnabled(!fixed);
    }
    const int image = ItemImage(item);
    AddClipboardItems(menu, image == IMG_LOCAL_FOLDER || image == IMG_FTP_FOLDER,
                      item && CanPaste(m_doc));
    return menu;
}

void CMyTreeView::RunContextMenu(QMenu* menu, const QPoint& globalPos) {
    QAction* chosen = RunPaneMenu(menu, globalPos);
    const int id = chosen ? chosen->objectName().toInt() : 0;
    menu->deleteLater();
    if (id)
        OnCommand(id);
}

void CMyTreeView::OnCommand(int id) {
    switch (id) {
    case ID_TREE_NEW_FOLDER:
        if (!m_listView)
            return;
        m_frame->SetActiveView(m_listView);
        m_listView->NewFolderCommand().Spawn();
        break;
    case ID_TREE_RENAME:
        if (m_listView && m_listView->m_treeItem && m_listView->m_treeItem->treeWidget() == this) {
            scrollToItem(m_listView->m_treeItem);
            EditLabel(m_listView->m_treeItem);
        }
        break;
    case ID_TREE_DELETE:
        DeleteSelectedFolder().Spawn();
        break;
    case ID_EDIT_COPY:
        CopyTreeSelection(this);
        break;
    case ID_EDIT_PASTE:
        PasteIntoTree(this, SelectedItem()).Spawn();
        break;
    default:
        break;
    }
}

bool CMyTreeView::EditLabel(QTreeWidgetItem* item) {
    if (!item || item->treeWidget() != this)
        return false;
    editItem(item, 0);
    return m_editing != 0 && m_editItem == item;
}

bool CMyTreeView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    QTreeWidgetItem* item = itemFromIndex(index);
    if (!item || IsFixedImage(ItemImage(item)))
        return false;
    if (!QTreeWidget::edit(index, trigger, event))
        return false;
    // A click on the selected item only arms the delayed edit; the edit begins
    // when the editor is really there.
    if (state() == QAbstractItemView::EditingState && m_editItem != item) {
        m_editing = 1;
        m_editItem = item;
        m_editCommitted = false;
        m_editText.clear();
    }
    return true;
}

void CMyTreeView::commitData(QWidget* editor) {
    // The label is never taken from the editor; it changes only when the rename
    // has succeeded.
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        m_editText = line->text();
        m_editCommitted = true;
    }
}

void CMyTreeView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint) {
    // Tab in the editor must not open the next item for editing.
    QTreeWidget::closeEditor(editor, QAbstractItemDelegate::NoHint);
    QTreeWidgetItem* item = m_editItem;
    const bool committed = m_editCommitted;
    m_editItem = nullptr;
    m_editCommitted = false;
    m_editing = 0;
    if (!item)
        return;
    OnEndLabelEdit(item, committed ? std::optional<QString>(m_editText) : std::nullopt);
}

void CMyTreeView::OnEndLabelEdit(QTreeWidgetItem* item, const std::optional<QString>& newText) {
    EndLabelEdit(item, newText).Spawn();
}

core::Task<void> CMyTreeView::EndLabelEdit(QTreeWidgetItem* item, std::optional<QString> newText) {
    m_editing = 0;
    CWaitCursor wait;
    if (!newText || !item || IsFixedImage(ItemImage(item)))
        co_return;
    // A name confirmed as it stood renames nothing; refusing it as an existing
    // name would blame the user for doing nothing.
    if (*newText == item->text(0))
        co_return;
    m_frame->SetPaneText(0, QStringLiteral("Renaming Folder - Please Wait"));
    QString oldPath = GetPath(item);
    oldPath.chop(1);
    const QString newPath = GetPath(item->parent()) + *newText;
    const QStringList chain = LabelChain(item);
    bool ok = false;
    if (pathrules::IsValidNewName(*newText))
        ok = co_await RenameFolder(oldPath, newPath);
    m_frame->SetPaneText(0, QStringLiteral("Ready"));
    // Found again: the tree may have been read anew while the rename ran.
    item = ItemByChain(this, chain);
    if (!item)
        co_return;
    if (ok) {
        item->setText(0, *newText);
        // The list keeps the folder it shows; only its path follows the new name.
        QTreeWidgetItem* shown = m_listView ? m_listView->m_treeItem : nullptr;
        if (shown && (shown == item || IsDescendant(shown, item)))
            m_listView->m_path = GetPath(shown);
        co_return;
    }
    // A lost connection has been told already, and leaves nothing here to rename.
    if (m_side == 1 && App()->Site().IsUnavailable())
        co_return;
    ReportRenameError(this);
    EditLabel(item);
}

core::Task<bool> CMyTreeView::RenameFolder(QString oldPath, QString newPath) {
    // Servers rename over an empty folder without a word; an existing name is
    // refused on both sides.
    if (m_side == 0)
        co_return core::RenameLocal(oldPath, newPath).Ok();
    core::RemoteConnection* remote = App()->Site().Remote();
    const core::OpResult result = co_await core::RenameFtpJob(remote, oldPath, newPath);
    ReportIfConnectionLost(this, *App(), result);
    co_return result.Ok();
}

core::Task<void> CMyTreeView::DeleteSelectedFolder() {
    if (!m_listView)
        co_return;
    // Only the folder that is selected and shown is deleted: never a drive, a
    // root, or a folder that the list no longer shows.
    QTreeWidgetItem* folder = m_listView->m_treeItem;
    if (!folder || folder->treeWidget() != this || folder != SelectedItem() ||
        !IsFolderImage(ItemImage(folder)))
        co_return;
    if (!ConfirmFileDelete(this))
        co_return;
    CWaitCursor wait;
    m_frame->SetPaneText(0, QStringLiteral("Deleting Folder - Please Wait"));
    const QString path = GetPath(folder);
    const QStringList parentChain = LabelChain(folder->parent());
    if (m_side == 0 && core::IsLocalSymLink(path.chopped(1)))
        // A folder that is a link goes as a link: what it points to is not in it.
        co_await m_listView->DeleteOneFile(path.chopped(1));
    else
        co_await m_listView->DeleteFolderTree(path);
    if (QTreeWidgetItem* parent = parentChain.isEmpty() ? nullptr : ItemByChain(this, parentChain)) {
        if (m_side == 0)
            ReadLocalFolder(GetLocalPath(parent), parent);
        else
            co_await ReadFtpFolder(GetFtpPath(parent), parent);
    }
    co_await ShowSelectionInList();
    m_frame->SetPaneText(0, QStringLiteral("Ready"));
}

bool CMyTreeView::event(QEvent* event) {
    // Tab moves between the panes, before the focus chain would take it.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (tab && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            const bool shift =
                key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
            m_frame->SetActiveView(shift ? static_cast<QWidget*>(ListOfOtherRow()) : m_listView);
            key->accept();
            return true;
        }
    }
    return QTreeWidget::event(event);
}

void CMyTreeView::keyPressEvent(QKeyEvent* event) {
    if (HandleClipboardKey(this, event))
        return;
    if (event->key() == Qt::Key_Delete && !m_editing && IsFolderImage(ItemImage(SelectedItem()))) {
        DeleteSelectedFolder().Spawn();
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}
