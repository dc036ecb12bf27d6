#pragma once

class QWidget;

// The hourglass shown during long operations. It stands over the main window's
// panes only: a dialog that asks something, a message box or the status window
// with its Cancel button keep their normal pointer, since the user has to answer
// them while the operation runs. Nested uses stack; each Begin needs its End.
void BeginWaitCursor();
void EndWaitCursor();
int WaitCursorDepth();

// The widget that holds the panes (the main window's splitter). Without one, the
// central widget of each top-level main window is taken.
void SetWaitCursorTarget(QWidget* panes);
// Whether the hourglass is on the widget now (it or a parent carries it).
bool ShowsWaitCursor(const QWidget* widget);

class CWaitCursor {
public:
    CWaitCursor() { BeginWaitCursor(); }
    ~CWaitCursor() {
        if (m_active)
            EndWaitCursor();
    }
    void Restore() {
        if (m_active) {
            EndWaitCursor();
            m_active = false;
        }
    }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    bool m_active = true;
};
