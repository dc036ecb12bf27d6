#pragma once

#include <QPointer>
#include <QWidget>

// The main window disabled for as long as a communication runs, and given back
// as it was: enabled, with the keyboard in the pane that had it. Disabling a
// window takes the focus from the widget that holds it, and nothing gives it
// back, which would leave a keyboard user nowhere after every folder read.
class FrameLock {
public:
    explicit FrameLock(QWidget* frame) : m_frame(frame) {
        if (!frame)
            return;
        m_focus = frame->focusWidget();
        frame->setEnabled(false);
    }
    ~FrameLock() {
        if (!m_frame)
            return;
        m_frame->setEnabled(true);
        if (m_focus && m_focus->isEnabled() && m_focus->isVisible() && !m_frame->focusWidget())
            m_focus->setFocus(Qt::OtherFocusReason);
    }
    FrameLock(const FrameLock&) = delete;
    FrameLock& operator=(const FrameLock&) = delete;

private:
    QPointer<QWidget> m_frame;
    QPointer<QWidget> m_focus;
};
