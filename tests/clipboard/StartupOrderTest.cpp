#include <QApplication>
#include <QDialog>
#include <QTest>
#include <gtest/gtest.h>

#include "AppFixture.h"
#include "FrameLock.h"
#include "MainFrame.h"
#include "MessageBox.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "Splitter2x2.h"
#include "VelmarApp.h"
#include "WaitCursor.h"
#include <QMenuBar>

namespace {

// What the screen held when the first connection's failure was reported.
struct SeenAtTheBox {
    bool frameVisible = false;
    bool statusWindowShown = false;
    bool panesBusy = false;
    bool boxOwnerBusy = true;
    bool applicationWideCursor = true;
};

TEST(StartupOrder, TheMainWindowIsShownBeforeTheFirstConnectionIsTried) {
    AppFixture f;
    f.WriteOfflineProfile(); // refused at once: the failure comes during start-up
    SeenAtTheBox seen;
    int boxes = 0;
    MessageBoxHandler previous = SetMessageBoxHandler([&](const MessageBoxCall& call) {
        ++boxes;
        auto* frame = static_cast<CMainFrame*>(f.App().m_pMainWnd);
        seen.frameVisible = frame && frame->isVisible();
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->windowTitle() == QStringLiteral("Velmar98 Communication Status") &&
                top->isVisible())
                seen.statusWindowShown = true;
        seen.panesBusy = frame && ShowsWaitCursor(frame->LocalList());
        seen.boxOwnerBusy = ShowsWaitCursor(call.owner);
        seen.applicationWideCursor = QApplication::overrideCursor() != nullptr;
        return IDOK;
    });
    ASSERT_TRUE(f.InitInstance());
    SetMessageBoxHandler(previous);
    ASSERT_EQ(boxes, 1);
    EXPECT_TRUE(seen.frameVisible);
    EXPECT_TRUE(seen.statusWindowShown);
    EXPECT_TRUE(seen.panesBusy);
    EXPECT_FALSE(seen.boxOwnerBusy);
    EXPECT_FALSE(seen.applicationWideCursor);
    // Once started, nothing is busy and the keyboard is in the first pane.
    QTest::qWait(50);
    EXPECT_FALSE(ShowsWaitCursor(f.LocalList()));
    EXPECT_EQ(WaitCursorDepth(), 0);
    EXPECT_TRUE(f.LocalTree()->hasFocus());
}

TEST(WaitCursorPanes, OnlyThePanesCarryItAndNestingUndoesInOrder) {
    AppFixture f;
    f.WriteOfflineProfile();
    ASSERT_TRUE(f.InitInstance());
    CMainFrame* frame = f.Frame();
    auto* dialog = new QDialog(frame); // a question asked while the operation runs
    dialog->show();
    {
        CWaitCursor outer;
        EXPECT_TRUE(ShowsWaitCursor(f.LocalList()));
        EXPECT_TRUE(ShowsWaitCursor(f.FtpTree()));
        EXPECT_FALSE(ShowsWaitCursor(dialog));
        EXPECT_FALSE(ShowsWaitCursor(frame->menuBar()));
        {
            CWaitCursor inner;
            inner.Restore();
            EXPECT_TRUE(ShowsWaitCursor(f.LocalList())) << "an inner end took the outer's";
        }
        EXPECT_EQ(WaitCursorDepth(), 1);
        EXPECT_TRUE(ShowsWaitCursor(f.LocalList()));
    }
    EXPECT_FALSE(ShowsWaitCursor(f.LocalList()));
    EndWaitCursor(); // one End too many is ignored
    EXPECT_EQ(WaitCursorDepth(), 0);
    {
        CWaitCursor busy;
        // The frame goes while busy: the end finds no panes and does no harm.
        f.App().m_pMainWnd = nullptr;
        delete frame;
    }
    EXPECT_EQ(WaitCursorDepth(), 0);
}

} // namespace

namespace {
// A communication disables the main window, which takes the keyboard from the
// pane that had it; the pane must have it back afterwards, in every pane.
TEST(FrameLockFocus, ThePaneKeepsTheKeyboardAcrossACommunication) {
    AppFixture f;
    f.WriteOfflineProfile();
    ASSERT_TRUE(f.InitInstance());
    QTest::qWait(50);
    CMainFrame* frame = f.Frame();
    frame->activateWindow();
    QTest::qWait(20);
    for (int pane = 0; pane < 4; ++pane) {
        QWidget* widget = frame->GetPane(pane / 2, pane % 2);
        frame->SetActiveView(widget);
        ASSERT_TRUE(widget->hasFocus()) << pane;
        {
            FrameLock lock(frame);
            EXPECT_FALSE(frame->isEnabled());
            EXPECT_FALSE(widget->hasFocus()) << "the toolkit no longer takes it away";
        }
        EXPECT_TRUE(frame->isEnabled());
        EXPECT_TRUE(widget->hasFocus()) << pane;
    }
}
} // namespace
