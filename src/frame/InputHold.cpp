#include "InputHold.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include "JobWatch.h"

namespace {
bool IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}
} // namespace

InputHold::InputHold(QWidget* frame) : QObject(frame), m_frame(frame) {
    connect(&core::JobWatch::Instance(), &core::JobWatch::started, this, &InputHold::Hold);
    connect(&core::JobWatch::Instance(), &core::JobWatch::ended, this, &InputHold::Release);
}

InputHold::~InputHold() {
    if (m_holding)
        qApp->removeEventFilter(this);
}

void InputHold::Hold() {
    if (m_holding)
        return;
    m_holding = true;
    qApp->installEventFilter(this);
}

void InputHold::Release() {
    if (!m_holding)
        return;
    m_holding = false;
    qApp->removeEventFilter(this);
    std::vector<Held> held;
    held.swap(m_held);
    for (Held& one : held)
        if (one.target)
            QCoreApplication::postEvent(one.target, one.event.release());
}

bool InputHold::eventFilter(QObject* watched, QEvent* event) {
    if (!m_frame || !IsUserInput(event->type()) || !watched->isWidgetType())
        return false;
    // Only the main window waits; a box or the status window answers at once.
    // A main window disabled for a copy takes no input at all, as always.
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != m_frame || !m_frame->isEnabled() || QApplication::activeModalWidget())
        return false;
    // Mouse moves are not kept: where the pointer went meanwhile is no order.
    m_held.push_back({watched, std::unique_ptr<QEvent>(event->clone())});
    return true;
}
