#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QString>
#include <functional>
#include <vector>

#include "DirEntry.h"
#include "ListItems.h"

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
class CListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColName, ColSize, ColModified, ColumnCount };

    // entries: the pane's copy of the folder, which the rows index.
    CListModel(const std::vector<DirEntry>* entries, QList<QIcon> icons, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }

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

private:
    bool Valid(int row) const { return row >= 0 && row < static_cast<int>(m_rows.size()); }
    const DirEntry* EntryOf(const ListRow& row) const;
    bool IndexOk(const QModelIndex& index) const;

    const std::vector<DirEntry>* m_entries;
    QList<QIcon> m_icons;
    std::vector<ListRow> m_rows;
    int m_dropTarget = -1;
};
