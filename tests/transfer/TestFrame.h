#pragma once

#include <QStringList>

#include "FrameBase.h"

// A main window for the transfer tests: three status texts and no panes. It keeps
// every text that pane 0 was given, in order.
class TestFrame : public CFrameBase {
public:
    void SetPaneText(int pane, const QString& text) override {
        if (pane < 0 || pane > 2)
            return;
        m_panes[pane] = text;
        if (pane == 0)
            pane0History << text;
    }
    QString PaneText(int pane) const override {
        return pane >= 0 && pane <= 2 ? m_panes[pane] : QString();
    }
    QWidget* GetPane(int, int) const override { return nullptr; }
    void SetActiveView(QWidget*) override {}

    QStringList pane0History;

private:
    QString m_panes[3];
};
