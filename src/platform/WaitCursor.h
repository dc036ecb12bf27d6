#pragma once

// The hourglass shown during long operations. Nested uses stack, as the
// application's override cursor does; each BeginWaitCursor needs its End.
void BeginWaitCursor();
void EndWaitCursor();
int WaitCursorDepth();

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
