#include "ListModel.h"

#include <QApplication>
#include <QPalette>
#include <algorithm>
#include <utility>

#include "ListItems.h"
#include "PathRules.h"

std::vector<ListRow> BuildListRows(const std::vector<DirEntry>& entries, ListSort sort,
                                   int folderImage, int fileImage) {
    return BuildRowsWithSizes(entries, sort, folderImage, fileImage).rows;
}

CListModel::CListModel(const std::vector<DirEntry>* entries, QList<QIcon> icons, QObject* parent)
    : QAbstractTableModel(parent), m_entries(entries), m_icons(std::move(icons)) {}

QModelIndex CListModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || !Valid(row) || column < 0 || column >= ColumnCount)
        return QModelIndex();
    return createIndex(row, column);
}

int CListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

bool CListModel::IndexOk(const QModelIndex& index) const {
    // Every index of this model is made by index() at the top level, so it has no
    // parent to ask for: the view asks this for each of a million rows.
    return index.isValid() && index.model() == this && Valid(index.row()) && index.column() >= 0 &&
           index.column() < ColumnCount;
}

const DirEntry* CListModel::EntryOf(const ListRow& row) const {
    if (row.entry < 0 || !m_entries || row.entry >= static_cast<int>(m_entries->size()))
        return nullptr;
    return &(*m_entries)[static_cast<std::size_t>(row.entry)];
}

QString CListModel::SizeText(int row) const {
    if (!Valid(row))
        return QString();
    const ListRow& r = Row(row);
    const DirEntry* entry = EntryOf(r);
    if (!entry)
        return r.sizeText;
    return entry->IsFolder() ? QString() : FormatListSize(entry->size);
}

QString CListModel::DateText(int row) const {
    if (!Valid(row))
        return QString();
    const ListRow& r = Row(row);
    const DirEntry* entry = EntryOf(r);
    return entry ? FormatListModified(*entry) : r.dateText;
}

QVariant CListModel::data(const QModelIndex& index, int role) const {
    if (!IndexOk(index))
        return QVariant();
    const int row = index.row();
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::AccessibleTextRole:
        // A name that could hide or disguise itself is shown written out; the
        // editor of a rename starts from the name itself.
        if (column == ColName)
            return role == Qt::EditRole ? Row(row).name : pathrules::Escaped(Row(row).name);
        return column == ColSize ? SizeText(row) : DateText(row);
    case Qt::DecorationRole:
        if (column == ColName && Row(row).image >= 0 && Row(row).image < m_icons.size())
            return m_icons.at(Row(row).image);
        return QVariant();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(
            Qt::Alignment((column == ColSize ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    case Qt::BackgroundRole:
        if (row == m_dropTarget)
            return QApplication::palette().brush(QPalette::Active, QPalette::Highlight);
        return QVariant();
    case Qt::ForegroundRole:
        if (row == m_dropTarget)
            return QApplication::palette().brush(QPalette::Active, QPalette::HighlightedText);
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant CListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QVariant();
    static const char* const titles[ColumnCount] = {"Name", "Size", "Modified"};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return QString::fromLatin1(titles[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(
            (section == ColSize ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    return QVariant();
}

Qt::ItemFlags CListModel::flags(const QModelIndex& index) const {
    if (!IndexOk(index))
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags f =
        Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
    if (index.column() == ColName)
        f |= Qt::ItemIsEditable;
    const int image = Row(index.row()).image;
    if (image == 1 || image == 4)
        f |= Qt::ItemIsDropEnabled;
    return f;
}

bool CListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || index.column() != ColName || !IndexOk(index))
        return false;
    if (m_onRename)
        m_onRename(index.row(), value.toString());
    // The pane sets the text itself when the rename has been made.
    return false;
}

void CListModel::Fill(const std::vector<DirEntry>& entries, ListSort sort, int folderImage,
                      int fileImage) {
    if (entries.size() <= kInlineFillEntries) {
        m_sorter.Forget();
        Replace(BuildRowsWithSizes(entries, sort, folderImage, fileImage));
        emit rowsBuilt();
        return;
    }
    m_sorter.Start(entries, sort, folderImage, fileImage, [this](BuiltRows built) {
        Replace(std::move(built));
        emit rowsBuilt();
    });
}

void CListModel::Clear() {
    SetRows({});
}

void CListModel::SetRows(std::vector<ListRow> rows) {
    BuiltRows built;
    for (const ListRow& row : rows)
        if (const DirEntry* entry = EntryOf(row); entry && !entry->IsFolder()) {
            built.largestFileSize = std::max(built.largestFileSize, entry->size);
            built.anyFile = true;
        }
    built.rows = std::move(rows);
    m_sorter.Forget();
    Replace(std::move(built));
}

void CListModel::Replace(BuiltRows built) {
    beginResetModel();
    std::vector<ListRow> old = std::exchange(m_rows, std::move(built.rows));
    m_largestFileSize = built.largestFileSize;
    m_anyFile = built.anyFile;
    m_dropTarget = -1;
    endResetModel();
    ListSorter::DisposeLater(std::move(old));
}

void CListModel::AppendRow(ListRow row) {
    m_sorter.Forget();
    const int at = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), at, at);
    m_rows.push_back(std::move(row));
    endInsertRows();
}

void CListModel::SetName(int row, const QString& name) {
    if (!Valid(row))
        return;
    m_sorter.Forget();
    m_rows[static_cast<std::size_t>(row)].name = name;
    emit dataChanged(index(row, ColName), index(row, ColName));
}

void CListModel::SetDropTarget(int row) {
    if (!Valid(row))
        row = -1;
    const int old = m_dropTarget;
    if (old == row)
        return;
    m_dropTarget = row;
    if (Valid(old))
        emit dataChanged(index(old, 0), index(old, ColumnCount - 1));
    if (Valid(row))
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}
