#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QString>
#include <functional>
#include <vector>

#include "DirEntry.h"
#include "ListItems.h"
#include "ListSorter.h"

// One row of the list pane. Size and date texts of a row that stands for an
// entry are made when a view first asks for them: a folder of 100,000 entries
// shows a few dozen rows, and a local-time conversion per entry would cost more
// than the whole fill.
struct ListRow {
    QString name; // column 0
    int image = 0;
    int entry = -1;   // index into the pane's entries; -1 for an item made by the pane
    QString sizeText; // column 1 of an item made by the pane
    QString dateText; // column 2 of an item made by the pane
};

// The rows of a folder in the order they are shown: entries whose names begin
// with "." left out, the rest ordered by their sort keys (folders first, letter
// case not deciding, equal keys in the order read).
std::vector<ListRow> BuildListRows(const std::vector<DirEntry>& entries, ListSort sort,
                                   int folderImage, int fileImage);

// The list pane's model: three columns over a vector of rows, ordered once when
// filled and never re-sorted by the view.
//
// A folder of many entries is ordered on a worker thread (Fill): the rows stay
// as they are until the new ones come, and then change in one reset. Any other
// change of the rows (Clear, SetRows, AppendRow, SetName) overtakes a fill
// still running, whose rows are then never shown.
class CListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColName, ColSize, ColModified, ColumnCount };

    // entries: the pane's copy of the folder, which the rows index.
    CListModel(const std::vector<DirEntry>* entries, QList<QIcon> icons, QObject* parent = nullptr);

    // The view lays out every row after a reset; this index costs no calls of
    // rowCount and columnCount.
    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }

    // Up to this many entries are ordered at once on the calling thread: it takes
    // a few milliseconds, and the rows are there when Fill returns.
    static constexpr std::size_t kInlineFillEntries = 10000;

    // Shows entries in the order of sort; rowsBuilt follows once the rows are
    // in, before Fill returns for a small folder. The rows index entries, which
    // must stay as they are until then, or until the rows are changed otherwise
    // (a Clear first, as the pane does before it reads a folder).
    void Fill(const std::vector<DirEntry>& entries, ListSort sort, int folderImage, int fileImage);
    bool Filling() const { return m_sorter.Busy(); }
    // The largest size of a file among the rows' entries, and whether there is
    // a file at all.
    std::uint64_t LargestFileSize() const { return m_largestFileSize; }
    bool HasFiles() const { return m_anyFile; }

    void Clear();
    void SetRows(std::vector<ListRow> rows);
    void AppendRow(ListRow row);
    void SetName(int row, const QString& name);
    // The drop highlight: one row or none (-1).
    void SetDropTarget(int row);
    int DropTarget() const { return m_dropTarget; }
    const ListRow& Row(int row) const { return m_rows[static_cast<std::size_t>(row)]; }
    QString SizeText(int row) const;
    QString DateText(int row) const;

    // Called with the row and the new text when a label edit is committed; the
    // model never takes the text itself.
    std::function<void(int, const QString&)> m_onRename;

signals:
    // The rows of the last Fill are shown.
    void rowsBuilt();

private:
    void Replace(BuiltRows built);
    bool Valid(int row) const { return row >= 0 && row < static_cast<int>(m_rows.size()); }
    const DirEntry* EntryOf(const ListRow& row) const;
    bool IndexOk(const QModelIndex& index) const;

    const std::vector<DirEntry>* m_entries;
    QList<QIcon> m_icons;
    std::vector<ListRow> m_rows;
    std::uint64_t m_largestFileSize = 0;
    bool m_anyFile = false;
    int m_dropTarget = -1;
    ListSorter m_sorter{this};
};
