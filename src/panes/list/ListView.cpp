// The list pane: its columns, its filling from a local folder or the FTP listing,
// and the order of its items.
#include <QHeaderView>
#include <QKeyEvent>
#include <QTreeWidgetItemIterator>
#include <algorithm>

#include "CommStatusDlg.h"
#include "FrameBase.h"
#include "FrameLock.h"
#include "FtpFolderRead.h"
#include "ListColumns.h"
#include "ListItems.h"
#include "ListModel.h"
#include "ListingNotes.h"
#include "LocalFind.h"
#include "Messages.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "PaneCommands.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"

namespace {

DirEntry EntryOf(const LocalFindEntry& found) {
    DirEntry entry;
    entry.attributes =
        (found.isFolder ? DirEntry::kFolder : 0) | (found.isLink ? DirEntry::kLink : 0);
    entry.creationTime = found.creationTime;
    entry.accessTime = found.accessTime;
    entry.lastWriteTime = found.lastWriteTime;
    entry.size = found.size;
    entry.name = found.name;
    return entry;
}
} // namespace

CMyListView::CMyListView(CVelmarDoc* doc, CFrameBase* frame, QWidget* parent)
    : QTreeView(parent), m_frame(frame), m_doc(doc) {
    m_model = new CListModel(&m_entries, doc ? doc->m_smallImageList : QList<QIcon>(), this);
    m_model->m_onRename = [this](int row, const QString& text) { OnLabelEditCommitted(row, text); };
    connect(m_model, &CListModel::rowsBuilt, this, &CMyListView::ShowFilled);
    setModel(m_model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
}

CMyListView::~CMyListView() = default;

CVelmarApp* CMyListView::App() const {
    return AfxGetApp();
}

CMyTreeView* CMyListView::TreeOfRow() const {
    return m_frame ? qobject_cast<CMyTreeView*>(m_frame->GetPane(m_side, 0)) : nullptr;
}

CMyTreeView* CMyListView::TreeOfOtherRow() const {
    return m_frame ? qobject_cast<CMyTreeView*>(m_frame->GetPane(1 - m_side, 0)) : nullptr;
}

CMyListView* CMyListView::ListOfRow(int row) const {
    return m_frame ? qobject_cast<CMyListView*>(m_frame->GetPane(row, 1)) : nullptr;
}

void CMyListView::SetStatus(const QString& text) {
    if (m_frame)
        m_frame->SetPaneText(0, text);
}

void CMyListView::OnInitialUpdate() {
    m_editing = m_forceLocal = m_forceFtp = 0;
    m_skipFtpRead = 1;
    m_side = m_doc->m_listPaneCounter++;
    ListColumns::Install(this, m_side);
    // The count in the status bar follows the rows, whoever empties or fills them
    // (a reading, a reconnect, the side going away while a box is open).
    connect(m_model, &QAbstractItemModel::modelReset, this, &CMyListView::ShowCount,
            Qt::UniqueConnection);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &CMyListView::ShowCount,
            Qt::UniqueConnection);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &CMyListView::ShowCount,
            Qt::UniqueConnection);
    if (m_side == 1)
        connect(&App()->Site(), &core::FtpSite::availabilityChanged, this,
                &CMyListView::OnFtpAvailabilityChanged, Qt::UniqueConnection);
    // The tree pane of the row selects its start item, which fills this pane.
    if (CMyTreeView* tree = TreeOfRow())
        tree->SelectStartItem();
}

void CMyListView::OnFtpAvailabilityChanged(bool unavailable) {
    // The entries came over a connection that is gone: no resort may bring them
    // back into view, and no command may work on them, while the side has none.
    if (!unavailable)
        return;
    DeleteAllItems();
    m_entries.clear();
}

QString CMyListView::FormatSize(std::uint64_t bytes) {
    return FormatListSize(bytes);
}

QString CMyListView::FormatModified(std::int64_t time) {
    return FormatListModified(time);
}

core::Task<void> CMyListView::Populate(QString path) {
    BeginFill();
    if (m_side == 0)
        ReadLocalEntries(path);
    else
        co_await ReadFtpEntries(path);
    EndFill();
}

void CMyListView::Resort() {
    BeginFill();
    EndFill();
}

void CMyListView::BeginFill() {
    if (m_side == 0)
        SetStatus(QStringLiteral("Reading Local Directory - Please Wait"));
    // A reset drops any open editor without the end-of-edit call.
    DeleteAllItems();
}

void CMyListView::EndFill() {
    // A huge folder is ordered on a worker; ShowFilled follows when its rows are in.
    FillRows();
}

void CMyListView::ShowFilled() {
    ListColumns::Fit(this);
    if (ItemCount() > 0)
        selectionModel()->setCurrentIndex(
            m_model->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ShowCount();
    if (m_side == 1 && m_unreadableLines > 0)
        SetStatus(m_unreadableLines == 1
                      ? QStringLiteral("1 line of the listing was not understood")
                      : QStringLiteral("%1 lines of the listing were not understood")
                            .arg(m_unreadableLines));
    else
        SetStatus(QStringLiteral("Ready"));
}

void CMyListView::DeleteAllItems() {
    m_editing = 0;
    m_renamePending = false;
    m_dropTarget = -1;
    m_model->Clear();
}

void CMyListView::ReadLocalEntries(const QString& path) {
    m_entries.clear();
    m_unreadableLines = 0;
    // No folder (the tree shows "Local Computer") is not the current folder.
    if (path.isEmpty())
        return;
    CLocalFind find;
    if (find.FindFirst(path + QStringLiteral("*.*"))) {
        do {
            m_entries.push_back(EntryOf(find.Current()));
        } while (find.FindNext());
    }
    find.Close();
}

void CMyListView::TakeListingNotes() {
    m_unreadableLines = core::LastUnreadableLines();
    m_rawListing = core::LastRawListing();
}

core::Task<void> CMyListView::ReadFtpEntries(QString path) {
    CVelmarApp* app = App();
    m_entries.clear();
    m_unreadableLines = 0;
    m_rawListing.clear();
    if (m_skipFtpRead) {
        // The tree pane has just read this folder into the shared listing.
        m_skipFtpRead = 0;
        m_entries = app->Site().Listing();
        TakeListingNotes();
        co_return;
    }
    // Without a connection there is nothing to read, and the shared listing may
    // still hold a folder of the connection that went away.
    if (!app->Site().IsConnected())
        co_return;
    FtpReadFailure failure;
    bool read = false;
    {
        CCommStatusDlg dlg(m_frame);
        if (app->IsStartingUp())
            dlg.Create();
        CommHold comm(app->Comm());
        FrameLock lock(m_frame);
        read = co_await ReadFtpFolderListing(dlg, *app, path, failure);
    }
    if (!read) {
        // The list stays empty: nothing of the folder shown before may pass for
        // this one.
        ReportFtpReadFailure(this, *app, path, failure);
        co_return;
    }
    m_entries = app->Site().Listing();
    TakeListingNotes();
}

void CMyListView::FillRows() {
    const bool local = m_side == 0;
    m_model->Fill(m_entries, CurrentListSort(*App()), local ? IMG_LOCAL_FOLDER : IMG_FTP_FOLDER,
                  local ? IMG_LOCAL_FILE : IMG_FTP_FILE);
}

void CMyListView::ShowCount() {
    if (!m_frame)
        return;
    const QString count = QString::number(static_cast<unsigned>(ItemCount()));
    if (m_side == 0)
        m_frame->SetPaneText(1, QStringLiteral("Local: ") + count + QStringLiteral(" Items"));
    else
        m_frame->SetPaneText(2, QStringLiteral("FTP: ") + count + QStringLiteral(" Items"));
}

int CMyListView::ItemCount() const {
    return m_model->rowCount();
}

QString CMyListView::ItemName(int row) const {
    return row >= 0 && row < ItemCount() ? m_model->Row(row).name : QString();
}

int CMyListView::ItemImage(int row) const {
    return row >= 0 && row < ItemCount() ? m_model->Row(row).image : -1;
}

bool CMyListView::IsFolderItem(int row) const {
    const int image = ItemImage(row);
    return image == IMG_LOCAL_FOLDER || image == IMG_FTP_FOLDER;
}

QList<int> CMyListView::SelectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CMyListView::SelectRows(const QList<int>& rows) {
    QItemSelection selection;
    for (int row : rows)
        if (row >= 0 && row < ItemCount())
            selection.select(m_model->index(row, 0),
                             m_model->index(row, CListModel::ColumnCount - 1));
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!rows.isEmpty() && rows.first() >= 0 && rows.first() < ItemCount())
        selectionModel()->setCurrentIndex(m_model->index(rows.first(), 0),
                                          QItemSelectionModel::NoUpdate);
}

core::Task<void> CMyListView::RefreshTreeNode() {
    CMyTreeView* tree = TreeOfRow();
    // The tree may have been rebuilt since it handed us its item; a stale
    // pointer is never passed back to it.
    if (!tree || !m_treeItem || !tree->HoldsItem(m_treeItem))
        co_return;
    if (m_side == 0)
        tree->ReadLocalFolder(m_path, m_treeItem);
    else
        co_await tree->ReadFtpFolder(m_path, m_treeItem);
}

bool CMyListView::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            OnTabKey(key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier));
            return true;
        }
    }
    return QTreeView::event(event);
}

void CMyListView::OnTabKey(bool shift) {
    CMyTreeView* tree = shift ? TreeOfRow() : TreeOfOtherRow();
    if (m_frame && tree)
        m_frame->SetActiveView(tree);
}

void CMyListView::keyPressEvent(QKeyEvent* event) {
    if (HandleClipboardKey(this, event))
        return;
    if (event->key() == Qt::Key_Delete &&
        (event->modifiers() & ~Qt::KeyboardModifiers(Qt::KeypadModifier)) == Qt::NoModifier) {
        if (!m_editing)
            DeleteSelected();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}
