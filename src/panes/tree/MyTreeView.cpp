// The tree pane: building, lazy reading, selection and the path rules.
#include "MyTreeView.h"

#include <QPalette>
#include <QStyledItemDelegate>
#include <algorithm>

#include "CommStatusDlg.h"
#include "FrameBase.h"
#include "FtpFolderRead.h"
#include "ListModel.h"
#include "LocalFind.h"
#include "Messages.h"
#include "MyListView.h"
#include "PathRules.h"
#include "TreeSupport.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"
#include "WaitCursor.h"

namespace {
const QString kLocalRootLabel = QStringLiteral("Local Computer");
const QString kNoConnection = QStringLiteral("No Connection");
const QString kPlaceholder = QStringLiteral("Empty Folder");
const QString kReady = QStringLiteral("Ready");

// An item keeps the server's name as its text, which the folder paths are made
// of; only what is painted has its disguising characters written out.
class ShownNameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale& locale) const override {
        return pathrules::Escaped(QStyledItemDelegate::displayText(value, locale));
    }
};

bool LabelLess(const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    const int c = a->text(0).compare(b->text(0), Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a->text(0) < b->text(0);
}

// The path a drive stands for: its label, which is an absolute folder.
QString DrivePath(const QString& label) {
    return label.endsWith(QLatin1Char('/')) ? label : label + QLatin1Char('/');
}
} // namespace

CTreeItem::CTreeItem(const QString& label, int image, int selectedImage)
    : QTreeWidgetItem(QTreeWidgetItem::UserType) {
    setText(0, label);
    setData(0, CMyTreeView::kImageRole, image);
    setData(0, CMyTreeView::kSelectedImageRole, selectedImage);
}

QVariant CTreeItem::data(int column, int role) const {
    const auto* tree = qobject_cast<const CMyTreeView*>(treeWidget());
    if (column != 0 || !tree)
        return QTreeWidgetItem::data(column, role);
    switch (role) {
    case Qt::DecorationRole: {
        const int imageRole =
            isSelected() ? CMyTreeView::kSelectedImageRole : CMyTreeView::kImageRole;
        const int image = QTreeWidgetItem::data(0, imageRole).toInt();
        // A link keeps its folder's image index (the kind of an item is told by
        // it) and only looks different.
        return QTreeWidgetItem::data(0, CMyTreeView::kLinkRole).toBool()
                   ? tree->m_doc->LinkIcon(image)
                   : tree->m_doc->SmallIcon(image);
    }
    case Qt::AccessibleTextRole:
        return pathrules::Escaped(text(0));
    case Qt::BackgroundRole:
        if (tree->m_dropTarget == this)
            return tree->palette().brush(QPalette::Highlight);
        break;
    case Qt::ForegroundRole:
        if (tree->m_dropTarget == this)
            return tree->palette().brush(QPalette::HighlightedText);
        break;
    default:
        break;
    }
    return QTreeWidgetItem::data(column, role);
}

CMyTreeView::CMyTreeView(CVelmarDoc* doc, CFrameBase* frame, QWidget* parent)
    : QTreeWidget(parent), m_doc(doc), m_frame(frame) {
    setColumnCount(1);
    // Hidden, but a screen reader still reads the column's name.
    setHeaderLabel(QStringLiteral("Folders"));
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // By whole rows, a screen reader's select action on an item picks the row of
    // the item's place among its siblings in the whole tree: the wrong folder.
    // The tree has one column, so selecting the item is selecting its row.
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setUniformRowHeights(true);
    setItemDelegate(new ShownNameDelegate(this));
    connect(this, &QTreeWidget::itemExpanded, this, &CMyTreeView::OnItemExpanded);
    connect(this, &QTreeWidget::itemCollapsed, this, &CMyTreeView::OnItemCollapsed);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &CMyTreeView::OnSelChanged);
}

CMyTreeView::~CMyTreeView() {
    // The items go with the control; a list that outlives it must not keep one of
    // them. A list already destroyed has cleared the guarded pointer.
    CMyListView* list = m_listView.data();
    if (list && list->m_treeItem && list->m_treeItem->treeWidget() == this)
        list->m_treeItem = nullptr;
}

CVelmarApp* CMyTreeView::App() const {
    return AfxGetApp();
}

void CMyTreeView::OnInitialUpdate() {
    m_ignoreSelChange = 0;
    m_editing = 0;
    m_side = m_doc->m_treePaneCounter++;
    m_listView = qobject_cast<CMyListView*>(m_frame->GetPane(m_side, 1));
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setIconSize(QSize(16, 16));
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setDropIndicatorShown(false);
    m_reading = 0;
}

core::Task<bool> CMyTreeView::BuildTree() {
    if (m_side == 0) {
        BuildLocalTree();
        co_return true;
    }
    co_return co_await BuildFtpTree();
}

QTreeWidgetItem* CMyTreeView::NewItem(const QString& label, int image, int selectedImage) const {
    auto* item = new CTreeItem(label, image, selectedImage);
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (image == IMG_LOCAL_FOLDER || image == IMG_FTP_FOLDER)
        flags |= Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
    item->setFlags(flags);
    return item;
}

void CMyTreeView::AddPlaceholder(QTreeWidgetItem* item) const {
    const bool local = m_side == 0;
    QTreeWidgetItem* placeholder = NewItem(kPlaceholder, local ? IMG_LOCAL_FOLDER : IMG_FTP_FOLDER,
                                           local ? IMG_LOCAL_FOLDER_SEL : IMG_FTP_FOLDER_SEL);
    // It stands for "not read yet"; there is nothing behind it to rename or drag.
    placeholder->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->addChild(placeholder);
}

void CMyTreeView::BuildLocalTree() {
    CWaitCursor wait;
    const QStringList drives = LocalDrives();
    m_reading = 1;
    if (m_listView && m_listView->m_treeItem && m_listView->m_treeItem->treeWidget() == this)
        m_listView->m_treeItem = nullptr;
    m_dropTarget = nullptr;
    m_editItem = nullptr;
    clear();
    m_reading = 0;
    m_rootItem = NewItem(kLocalRootLabel, IMG_LOCAL_COMPUTER, IMG_LOCAL_COMPUTER);
    addTopLevelItem(m_rootItem);
    QList<QTreeWidgetItem*> items;
    for (const QString& label : drives) {
        QTreeWidgetItem* drive = NewItem(label, IMG_DRIVE, IMG_DRIVE);
        AddPlaceholder(drive);
        items << drive;
    }
    m_rootItem->addChildren(items);
}

core::Task<bool> CMyTreeView::BuildFtpTree() {
    CVelmarApp* app = App();
    if (app->Site().TakeRebuildRequest()) {
        m_ignoreSelChange = 1;
        if (m_listView && m_listView->m_treeItem && m_listView->m_treeItem->treeWidget() == this)
            m_listView->m_treeItem = nullptr;
        m_dropTarget = nullptr;
        m_editItem = nullptr;
        clear();
        m_ignoreSelChange = 0;
        ClearList();
    }
    m_rootItem = NewItem(kNoConnection, IMG_FTP_ROOT, IMG_FTP_ROOT);
    addTopLevelItem(m_rootItem);
    const QString top;
    co_return co_await ReadFtpFolder(top, m_rootItem);
}

bool CMyTreeView::IsDescendant(const QTreeWidgetItem* item, const QTreeWidgetItem* ancestor) const {
    for (const QTreeWidgetItem* p = item ? item->parent() : nullptr; p; p = p->parent())
        if (p == ancestor)
            return true;
    return false;
}

void CMyTreeView::DeleteChildren(QTreeWidgetItem* item) {
    // Whatever pointed into the children moves up to the item, so that nothing
    // is left holding an item that is gone. The selection moves while m_reading is
    // set, so the list is not filled for it.
    if (IsDescendant(SelectedItem(), item))
        SelectItem(item);
    if (m_listView && IsDescendant(m_listView->m_treeItem, item))
        m_listView->m_treeItem = item;
    if (IsDescendant(m_dropTarget, item))
        m_dropTarget = nullptr;
    if (IsDescendant(m_editItem, item))
        m_editItem = nullptr;
    qDeleteAll(item->takeChildren());
}

QTreeWidgetItem* CMyTreeView::AddFolderItem(const QString& name, QTreeWidgetItem* parent,
                                            const DirEntry& entry) {
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || !entry.IsFolder())
        return nullptr;
    const bool local = m_side == 0;
    QTreeWidgetItem* item = NewItem(name, local ? IMG_LOCAL_FOLDER : IMG_FTP_FOLDER,
                                    local ? IMG_LOCAL_FOLDER_SEL : IMG_FTP_FOLDER_SEL);
    if (entry.IsLink())
        item->setData(0, kLinkRole, true);
    AddPlaceholder(item);
    parent->addChild(item);
    return item;
}

void CMyTreeView::ReplaceChildren(QTreeWidgetItem* item, const std::vector<DirEntry>& entries) {
    DeleteChildren(item);
    // Built and sorted apart from the control, then handed over at once: a folder
    // of thousands of subfolders costs one insertion, not thousands.
    QTreeWidgetItem holder;
    for (const DirEntry& entry : entries)
        AddFolderItem(entry.name, &holder, entry);
    QList<QTreeWidgetItem*> children = holder.takeChildren();
    std::stable_sort(children.begin(), children.end(), LabelLess);
    item->addChildren(children);
}

void CMyTreeView::ReadLocalFolder(const QString& path, QTreeWidgetItem* item) {
    if (!item)
        return;
    m_frame->SetPaneText(0, QStringLiteral("Reading Local Directory - Please Wait"));
    m_reading = 1;
    std::vector<DirEntry> entries;
    CLocalFind find;
    for (bool more = find.FindFirst(path + QStringLiteral("*.*")); more; more = find.FindNext()) {
        const LocalFindEntry& found = find.Current();
        DirEntry entry;
        entry.name = found.name;
        entry.attributes =
            (found.isFolder ? DirEntry::kFolder : 0) | (found.isLink ? DirEntry::kLink : 0);
        entries.push_back(entry);
    }
    find.Close();
    ReplaceChildren(item, entries);
    m_reading = 0;
    m_frame->SetPaneText(0, kReady);
}

core::Task<bool> CMyTreeView::ReadFtpFolder(QString path, QTreeWidgetItem* item) {
    if (!item)
        co_return false;
    m_reading = 1;
    CVelmarApp* app = App();
    bool connected = true;
    bool read = false;
    FtpReadFailure failure;
    {
        CommSession comm(app, m_frame, app->IsStartingUp());
        // A new connection is already in the folder it starts in.
        const bool enter = app->Site().HasSession();
        if (!enter) {
            try {
                connected = co_await comm->Connect();
            } catch (const std::exception&) {
                connected = false; // the session itself could not be opened
            }
            if (connected && m_rootItem)
                m_rootItem->setText(0, app->Site().CurrentDir());
        }
        if (connected) {
            const QString where = enter ? path : QString();
            read = co_await ReadFtpFolderListing(comm.Dlg(), *app, where, failure);
        }
    }
    m_frame->SetPaneText(0, kReady);
    if (!connected) {
        // m_reading stays set: with no connection the FTP list must not be filled
        // from a selection here until a later reading succeeds.
        co_return false;
    }
    m_reading = 0;
    if (!read) {
        // The item keeps the children it had: none may come from a reading that
        // failed, or from the folder the connection was in before.
        ReportFtpReadFailure(this, *app, path.isEmpty() ? app->Site().CurrentDir() : path, failure);
        co_return true;
    }
    // The tree may have been rebuilt while the server answered: the listing is
    // never hung under an item that is gone.
    if (!HoldsItem(item))
        co_return true;
    m_reading = 1;
    ReplaceChildren(item, app->Site().Listing());
    m_reading = 0;
    co_return true;
}

bool CMyTreeView::HoldsItem(const QTreeWidgetItem* item) const {
    for (QTreeWidgetItemIterator it(const_cast<CMyTreeView*>(this)); *it; ++it)
        if (*it == item)
            return true;
    return false;
}

int CMyTreeView::ItemImage(const QTreeWidgetItem* item) {
    return item ? item->data(0, kImageRole).toInt() : -1;
}

QTreeWidgetItem* CMyTreeView::SelectedItem() const {
    const QList<QTreeWidgetItem*> items = selectedItems();
    return items.isEmpty() ? nullptr : items.first();
}

void CMyTreeView::SelectItem(QTreeWidgetItem* item) {
    if (!item) {
        setCurrentItem(nullptr);
        clearSelection();
        return;
    }
    setCurrentItem(item);
}

void CMyTreeView::OnItemExpanded(QTreeWidgetItem* item) {
    CWaitCursor wait;
    const int image = ItemImage(item);
    if (image == IMG_LOCAL_COMPUTER || image == IMG_FTP_ROOT)
        return; // a root's children come from the build
    if (m_side == 0)
        ReadLocalFolder(GetLocalPath(item), item);
    else
        ReadFtpFolder(GetFtpPath(item), item).Spawn();
}

void CMyTreeView::OnItemCollapsed(QTreeWidgetItem* item) {
    CWaitCursor wait;
    SelectItem(item);
}

void CMyTreeView::OnSelChanged() {
    CWaitCursor wait;
    if (m_ignoreSelChange)
        return;
    ++m_selChangesHandled;
    QTreeWidgetItem* item = SelectedItem();
    if (!item)
        return; // nothing selected: the list keeps the folder it shows
    // A selection made by a screen reader's action leaves the keyboard's place
    // behind; the arrows and the menu key go on from the selected item.
    if (currentItem() != item)
        selectionModel()->setCurrentIndex(indexFromItem(item), QItemSelectionModel::NoUpdate);
    if (ItemImage(item) == IMG_LOCAL_COMPUTER) {
        ClearList();
        return;
    }
    if (!m_reading)
        ShowSelectionInList().Spawn();
}

core::Task<void> CMyTreeView::ShowSelectionInList() {
    QTreeWidgetItem* item = SelectedItem();
    if (!item || !m_listView)
        co_return;
    if (ItemImage(item) == IMG_LOCAL_COMPUTER) {
        // "Local Computer" is no folder: it shows an empty list, as when selected.
        ClearList();
        co_return;
    }
    m_listView->m_treeItem = item;
    m_listView->m_path = GetPath(item);
    const QString path = m_listView->m_path;
    co_await m_listView->Populate(path);
}

void CMyTreeView::SelectStartItem() {
    if (!m_rootItem)
        return;
    m_rootItem->setExpanded(true);
    if (m_side == 0) {
        if (QTreeWidgetItem* first = m_rootItem->child(0))
            SelectItem(first);
    } else {
        SelectItem(m_rootItem);
    }
}

core::Task<void> CMyTreeView::ShowStartItem() {
    const unsigned handled = m_selChangesHandled;
    SelectStartItem();
    if (m_selChangesHandled == handled)
        co_await ShowSelectionInList();
}

QString CMyTreeView::GetLocalPath(QTreeWidgetItem* item) const {
    QString path;
    for (; item; item = item->parent()) {
        const int image = ItemImage(item);
        if (image == IMG_DRIVE)
            return DrivePath(item->text(0)) + path;
        if (image == IMG_LOCAL_COMPUTER)
            break;
        path.prepend(item->text(0) + QLatin1Char('/'));
    }
    return path;
}

QString CMyTreeView::GetFtpPath(QTreeWidgetItem* item) const {
    QString path;
    for (; item; item = item->parent())
        path.prepend(item->text(0) + QLatin1Char('/'));
    return path;
}

QString CMyTreeView::GetPath(QTreeWidgetItem* item) const {
    return m_side == 0 ? GetLocalPath(item) : GetFtpPath(item);
}

void CMyTreeView::ClearList() {
    // The list keeps its folder and item; only its rows go.
    if (m_listView && m_listView->Model())
        m_listView->Model()->Clear();
}

CMyListView* CMyTreeView::ListOfOtherRow() const {
    return qobject_cast<CMyListView*>(m_frame->GetPane(1 - m_side, 1));
}
