#pragma once

#include <QSplitter>

// A static splitter of two rows and two columns. The two rows are splitters of
// their own; moving either column bar moves the other, so the columns line up.
class CSplitter2x2 : public QSplitter {
    Q_OBJECT
public:
    explicit CSplitter2x2(QWidget* parent = nullptr);

    // Places a pane; panes are created in the order (0,0), (0,1), (1,0), (1,1).
    void SetPane(int row, int column, QWidget* pane);
    QWidget* GetPane(int row, int column) const;
    void SetInitialSizes(int column0Width, int row0Height);
    int Column0Width() const;
    int Row0Height() const;
    QSplitter* Row(int row) const { return m_rows[row]; }

private:
    void SyncColumns(QSplitter* from);

    QSplitter* m_rows[2];
    QWidget* m_panes[2][2] = {{nullptr, nullptr}, {nullptr, nullptr}};
    bool m_syncing = false;
};
