#include "ListModel.h"

#include <QApplication>
#include <QPalette>
#include <algorithm>
#include <numeric>

#include "ListItems.h"
#include "PathRules.h"

std::vector<ListRow> BuildListRows(const std::vector<DirEntry>& entries, ListSort sort,
                                   int folderImage, int fileImage) {
    // The sort keys, case-folded once, compared by code unit: "." before digits
    // before letters, and letter case never decides.
    std::vector<QString> keys;
    std::vector<int> shown;
    keys.reserve(entries.size());
    shown.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!IsShownName(entries[i].name))
            continue;
        keys.push_back(ListSortKey(entries[i], sort).toCaseFolded());
        shown.push_back(static_cast<int>(i));
    }
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    // Equal keys keep the order the entries were read in.
    std::stable_sort(order.begin(), order.end(),
                     [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    std::vector<ListRow> rows(order.size());
    for (std::size_t r = 0; r < order.size(); ++r) {
        const int i = shown[order[r]];
        const DirEntry& entry = entries[static_cast<std::size_t>(i)];
        ListRow& row = rows[r];
        // The key turned back is the name itself: the item shows the entry's name.
        row.name = entry.name;
        row.image = entry.IsFolder() ? folderImage : fileImage;
        row.entry = i;
    }
    return rows;
}

CListModel::CListModel(const std::vector<DirEntry>* entries, QList<QIcon> icons, QObject* parent)
    : QAbstractTableModel(parent), m_entries(entries), m_icons(std::move(icons)) {}

int CListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

bool CListModel::IndexOk(const QModelIndex& index) const {
    return index.isValid() && index.model() == this && !index.parent().isValid() &&
           Valid(index.row()) && index.column() >= 0 && index.column() < ColumnCount;
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

void CListModel::Clear() {
    SetRows({});
}

void CListModel::SetRows(std::vector<ListRow> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    m_dropTarget = -1;
    endResetModel();
}

void CListModel::AppendRow(ListRow row) {
    const int at = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), at, at);
    m_rows.push_back(std::move(row));
    endInsertRows();
}

void CListModel::SetName(int row, const QString& name) {
    if (!Valid(row))
        return;
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
