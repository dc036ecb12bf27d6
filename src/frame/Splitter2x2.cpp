#include "Splitter2x2.h"

CSplitter2x2::CSplitter2x2(QWidget* parent) : QSplitter(Qt::Vertical, parent) {
    setObjectName(QStringLiteral("splitter"));
    setChildrenCollapsible(false);
    for (int row = 0; row < 2; ++row) {
        m_rows[row] = new QSplitter(Qt::Horizontal, this);
        m_rows[row]->setObjectName(QStringLiteral("splitterRow%1").arg(row));
        m_rows[row]->setChildrenCollapsible(false);
        addWidget(m_rows[row]);
        connect(m_rows[row], &QSplitter::splitterMoved, this,
                [this, row] { SyncColumns(m_rows[row]); });
    }
    // The first row and column keep their size when the window grows.
    setStretchFactor(0, 0);
    setStretchFactor(1, 1);
}

void CSplitter2x2::SetPane(int row, int column, QWidget* pane) {
    m_panes[row][column] = pane;
    m_rows[row]->insertWidget(column, pane);
    m_rows[row]->setStretchFactor(0, 0);
    if (m_rows[row]->count() > 1)
        m_rows[row]->setStretchFactor(1, 1);
}

QWidget* CSplitter2x2::GetPane(int row, int column) const {
    if (row < 0 || row > 1 || column < 0 || column > 1)
        return nullptr;
    return m_panes[row][column];
}

void CSplitter2x2::SetInitialSizes(int column0Width, int row0Height) {
    // The second row and column take the rest; they start at 10 as the panes'
    // minimum and grow with the window.
    setSizes({row0Height, 10});
    for (QSplitter* row : m_rows)
        row->setSizes({column0Width, 10});
}

int CSplitter2x2::Column0Width() const { return m_rows[0]->sizes().value(0); }
int CSplitter2x2::Row0Height() const { return sizes().value(0); }

void CSplitter2x2::SyncColumns(QSplitter* from) {
    if (m_syncing)
        return;
    m_syncing = true;
    for (QSplitter* row : m_rows)
        if (row != from)
            row->setSizes(from->sizes());
    m_syncing = false;
}
