#include "WaitCursor.h"

#include <QApplication>
#include <QCursor>

namespace {
int g_depth = 0;
}

void BeginWaitCursor() {
    ++g_depth;
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

void EndWaitCursor() {
    if (g_depth <= 0)
        return;
    --g_depth;
    QApplication::restoreOverrideCursor();
}

int WaitCursorDepth() { return g_depth; }
