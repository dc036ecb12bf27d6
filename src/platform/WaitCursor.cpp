#include "WaitCursor.h"

#include <QApplication>
#include <QCursor>
#include <QList>
#include <QMainWindow>
#include <QPointer>

#include "Job.h"

namespace {
int g_depth = 0;
QPointer<QWidget> g_target;
// The widgets that carry the hourglass now, so that the last End takes it off
// the same ones even if the target changed meanwhile.
QList<QPointer<QWidget>> g_carriers;

QList<QWidget*> Targets() {
    if (g_target)
        return {g_target.data()};
    QList<QWidget*> targets;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* main = qobject_cast<QMainWindow*>(top); main && main->centralWidget())
            targets.append(main->centralWidget());
    return targets;
}

void PutOn() {
    for (QWidget* widget : Targets()) {
        widget->setCursor(Qt::WaitCursor);
        g_carriers.append(widget);
    }
}

void TakeOff() {
    for (const QPointer<QWidget>& widget : g_carriers)
        if (widget)
            widget->unsetCursor();
    g_carriers.clear();
}
} // namespace

// The pointer belongs to the interface thread; a job's own waits show nothing.
void BeginWaitCursor() {
    if (!core::OnUiThread())
        return;
    if (g_depth++ == 0)
        PutOn();
}

void EndWaitCursor() {
    if (!core::OnUiThread())
        return;
    if (g_depth <= 0)
        return;
    if (--g_depth == 0)
        TakeOff();
}

int WaitCursorDepth() {
    return g_depth;
}

void SetWaitCursorTarget(QWidget* panes) {
    const bool shown = g_depth > 0;
    if (shown)
        TakeOff();
    g_target = panes;
    if (shown)
        PutOn();
}

bool ShowsWaitCursor(const QWidget* widget) {
    for (; widget; widget = widget->parentWidget()) {
        if (widget->testAttribute(Qt::WA_SetCursor))
            return widget->cursor().shape() == Qt::WaitCursor;
        if (widget->isWindow())
            break;
    }
    return false;
}
