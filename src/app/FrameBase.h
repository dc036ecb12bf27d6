#pragma once

#include <QMainWindow>
#include <QString>

// What the panes, dialogs and the status window need of the main frame: its
// status bar panes and the splitter's pane at (row, column). The frame itself
// lives above them; they reach it through this.
class CFrameBase : public QMainWindow {
    Q_OBJECT
public:
    using QMainWindow::QMainWindow;

    // Status bar pane 0 (messages), 1 (local count) and 2 (FTP count); the text is
    // painted at once.
    virtual void SetPaneText(int pane, const QString& text) = 0;
    virtual QString PaneText(int pane) const = 0;
    // The pane at (row, column) of the 2 x 2 splitter, or null.
    virtual QWidget* GetPane(int row, int column) const = 0;
    // Makes a pane the active view (keyboard focus).
    virtual void SetActiveView(QWidget* pane) = 0;
};
