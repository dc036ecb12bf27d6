// The list pane's file operations: the context menu, New Folder, rename by label
// editing, and deleting the selected items.
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QSet>

#include "FrameBase.h"
#include "FtpFileOps.h"
#include "FtpFolderRead.h"
#include "Job.h"
#include "ListItems.h"
#include "ListModel.h"
#include "LocalFileOps.h"
#include "LocalFind.h"
#include "MessageBox.h"
#include "Messages.h"
#include "MyListView.h"
#include "ListingNotes.h"
#include "PaneCommands.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"
#include "WaitCursor.h"

namespace {
struct MenuItem {
    int id;
    const char* text;
};
// Menu 177, in its order.
constexpr MenuItem kContextMenu[] = {
    {ID_NEW_FOLDER, "&New Folder"}, {ID_RENAME, "&Rename"}, {ID_DELETE, "&Delete"}};
} // namespace

QMenu* CMyListView::MakeContextMenu(const QPoint& viewportPos) {
    if (m_side == 1 && App()->Site().IsUnavailable())
        return nullptr;
    const int row = indexAt(viewportPos).row();
    if (row >= 0)
        m_contextItem = row;
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("177"));
    for (const MenuItem& item : kContextMenu) {
        QAction* action = menu->addAction(QString::fromLatin1(item.text));
        action->setObjectName(QString::number(item.id));
        // Off an item only New Folder can be chosen.
        if (row < 0 && item.id != ID_NEW_FOLDER)
            action->setEnabled(false);
    }
    m_pasteRow = row;
    AddClipboardItems(menu, !SelectedRows().isEmpty(), CanPaste(m_doc));
    if (m_side == 1) {
        menu->addSeparator();
        QAction* raw = menu->addAction(QStringLiteral("Copy Ra&w Listing"));
        raw->setObjectName(QString::number(ID_COPY_RAW_LISTING));
        raw->setEnabled(!m_rawListing.empty());
    }
    return menu;
}

void CMyListView::CopyRawListing() {
    // The server's bytes as it sent them, read as its names are.
    if (QClipboard* board = QGuiApplication::clipboard())
        board->setText(core::RawListingText(m_rawListing));
}

void CMyListView::OnRightClick(const QPoint& viewportPos, const QPoint& globalPos) {
    QMenu* menu = MakeContextMenu(viewportPos);
    if (!menu)
        return;
    QAction* chosen = RunPaneMenu(menu, globalPos);
    const int id = chosen ? chosen->objectName().toInt() : 0;
    delete menu;
    if (id)
        OnCommand(id);
}

void CMyListView::contextMenuEvent(QContextMenuEvent* event) {
    QPoint pos = event->pos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        // From the keyboard: at the current item, if there is one.
        const QRect rect = visualRect(currentIndex());
        pos = rect.isValid() ? rect.center() : QPoint(-1, -1);
    }
    OnRightClick(pos, event->globalPos());
    event->accept();
}

void CMyListView::OnCommand(int id) {
    CWaitCursor wait;
    switch (id) {
    case ID_RENAME:
        StartRename(m_contextItem);
        break;
    case ID_DELETE:
        DeleteSelected();
        break;
    case ID_EDIT_COPY:
        CopyListSelection(this);
        break;
    case ID_EDIT_PASTE:
        PasteIntoList(this, m_pasteRow).Spawn();
        break;
    case ID_COPY_RAW_LISTING:
        CopyRawListing();
        break;
    case ID_NEW_FOLDER:
        NewFolderCommand().Spawn();
        break;
    default:
        break;
    }
}

core::Task<void> CMyListView::NewFolderCommand() {
    SetStatus(QStringLiteral("Creating New Folder - Please Wait"));
    co_await NewFolder();
    SetStatus(QStringLiteral("Ready"));
}

core::Task<bool> CMyListView::NewFolder() {
    CWaitCursor wait;
    QSet<QString> shown;
    for (int row = 0; row < ItemCount(); ++row)
        shown.insert(ItemName(row));
    QString name;
    for (long long n = 1;; ++n) {
        name = QStringLiteral("NewFolder") + QString::number(n);
        if (!shown.contains(name))
            break;
    }
    const QString path = m_path + name;
    if (!co_await CreateFolder(path))
        co_return false;
    ListRow row;
    row.name = name;
    row.image = m_side == 0 ? IMG_LOCAL_FOLDER : IMG_FTP_FOLDER;
    if (const std::optional<std::int64_t> time = co_await ReadModifiedTime(path))
        row.dateText = FormatModified(*time);
    // Placed last, after the items that were there, whatever its name.
    m_model->AppendRow(row);
    const int at = ItemCount() - 1;
    scrollTo(m_model->index(at, 0));
    co_await RefreshTreeNode();
    StartRename(at);
    co_return true;
}

core::Task<std::optional<std::int64_t>> CMyListView::ReadModifiedTime(QString path) {
    if (m_side == 0) {
        CLocalFind find;
        if (!find.FindFirst(path))
            co_return std::nullopt;
        co_return find.Current().lastWriteTime;
    }
    core::RemoteConnection* remote = App()->Site().Remote();
    const core::FtpLookUp found = co_await core::LookUpFtpJob(remote, path);
    if (!found.entry)
        co_return std::nullopt;
    co_return found.entry->lastWriteTime;
}

void CMyListView::StartRename(int row) {
    if (row < 0 || row >= ItemCount())
        return;
    const QModelIndex index = m_model->index(row, 0);
    scrollTo(index);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    QAbstractItemView::edit(index);
}

bool CMyListView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    const bool taken = QTreeView::edit(index, trigger, event);
    // A click on a selected item only arms a timer; the edit begins when the
    // editor is there.
    if (taken && state() == QAbstractItemView::EditingState)
        m_editing = 1;
    return taken;
}

void CMyListView::OnLabelEditCommitted(int row, const QString& text) {
    if (state() == QAbstractItemView::EditingState) {
        // The rename runs once the editor has closed, so that its message box
        // never takes the focus from an open editor (which would commit again).
        m_pendingRenameRow = row;
        m_pendingRenameText = text;
        m_renamePending = true;
        return;
    }
    OnEndLabelEdit(row, text);
}

void CMyListView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    // Tab in the editor ends this edit; it does not walk on to the next item.
    if (hint == QAbstractItemDelegate::EditNextItem ||
        hint == QAbstractItemDelegate::EditPreviousItem)
        hint = QAbstractItemDelegate::SubmitModelCache;
    QTreeView::closeEditor(editor, hint);
    m_editing = 0;
    if (m_renamePending) {
        m_renamePending = false;
        OnEndLabelEdit(m_pendingRenameRow, m_pendingRenameText);
    }
}

void CMyListView::OnEndLabelEdit(int row, const QString& text) {
    EndLabelEdit(row, text).Spawn();
}

core::Task<void> CMyListView::EndLabelEdit(int row, QString text) {
    m_editing = 0;
    CWaitCursor wait;
    if (text.isNull() || row < 0 || row >= ItemCount())
        co_return;
    const QString oldName = ItemName(row);
    // The name as it was: nothing to do, and no error for a file "already there".
    if (text == oldName)
        co_return;
    SetStatus(QStringLiteral("Renaming File - Please Wait"));
    bool renamed = false;
    if (IsValidItemName(text))
        renamed = co_await RenameItem(m_path + oldName, m_path + text);
    SetStatus(QStringLiteral("Ready"));
    // The list shows what it showed when the rename began: the window is locked
    // while it runs.
    if (renamed) {
        m_model->SetName(row, text);
        co_await RefreshTreeNode();
        co_return;
    }
    // A lost connection has been told already, and leaves nothing here to rename.
    if (m_side == 1 && App()->Site().IsUnavailable())
        co_return;
    ReportRenameError(this);
    StartRename(row);
}

core::Task<bool> CMyListView::RenameItem(QString oldPath, QString newPath) {
    // Neither side replaces what has the new name: the user asked for a rename,
    // not for that file to be lost.
    if (m_side == 0)
        co_return core::RenameLocal(oldPath, newPath).Ok();
    core::RemoteConnection* remote = App()->Site().Remote();
    const core::OpResult result = co_await core::RenameFtpJob(remote, oldPath, newPath);
    ReportIfConnectionLost(this, *App(), result);
    co_return result.Ok();
}

void CMyListView::DeleteSelected() {
    DeleteSelectedItems().Spawn();
}

core::Task<void> CMyListView::DeleteSelectedItems() {
    if (!ConfirmFileDelete(this)) {
        SetStatus(QStringLiteral("Ready"));
        co_return;
    }
    SetStatus(QStringLiteral("Deleting Files - Please Wait"));
    {
        CWaitCursor wait;
        // The names are taken first; the items stay as they are until the refill.
        struct Item {
            QString name;
            bool folder;
        };
        QList<Item> items;
        for (int row : SelectedRows())
            items.append({ItemName(row), IsFolderItem(row)});
        for (const Item& item : items) {
            const QString path = m_path + item.name;
            bool ok = false;
            if (item.folder)
                ok = co_await DeleteFolderTree(path + QLatin1Char('/'));
            else
                ok = co_await DeleteOneFile(path);
            if (!ok)
                break;
        }
        co_await RefreshTreeNode();
        co_await Populate(m_path);
    }
    SetStatus(QStringLiteral("Ready"));
}
