// The help window is a window of its own: the status window that opened it may
// close, and the main window may be locked for a copy, and the help stays.
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include "../transfer/TestFrame.h"
#include "CommStatusDlg.h"
#include "HelpWindow.h"
#include "VelmarApp.h"

namespace {

TEST(HelpWindow, OutlivesTheStatusWindowAndNeverKeepsTheProgramAlone) {
    CVelmarApp app;
    auto* frame = new TestFrame;
    app.m_pMainWnd = frame;
    frame->show();
    auto status = std::make_unique<CCommStatusDlg>(frame);
    status->Create();
    status->ShowTransferControls();
    frame->setEnabled(false); // as while a copy runs
    QTest::mouseClick(status->Control(CCommStatusDlg::IDC_HELP), Qt::LeftButton);
    QPointer<CHelpWindow> help = CurrentHelpWindow();
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->isEnabled());
    status.reset(); // the copy has ended
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->CurrentTopicTitle(), "The communication status window");
    // Closing the main window still ends the program.
    frame->setEnabled(true);
    QTimer::singleShot(0, frame, [frame] { frame->close(); });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    giveUp.callOnTimeout(qApp, &QCoreApplication::quit);
    giveUp.start(5000);
    QApplication::exec();
    EXPECT_TRUE(giveUp.isActive()) << "the help window kept the program running";
    EXPECT_FALSE(help && help->isVisible());
    app.m_pMainWnd = nullptr;
    delete frame;
    delete help;
}

TEST(HelpWindow, AModalDialogsHelpIsNotBlockedByIt) {
    QDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal); // as under exec()
    dialog.show();
    WinHelp(nullptr, "Velmar98.hlp", HELP_CONTENTS); // open already, on its own
    WinHelp(&dialog, "Velmar98.hlp", HELP_CONTEXT, HELP_CONTEXT_PROFILES);
    QPointer<CHelpWindow> help = CurrentHelpWindow();
    ASSERT_TRUE(help && help->windowHandle());
    EXPECT_TRUE(help->isWindow() && help->isVisible());
    EXPECT_TRUE(
        dialog.windowHandle()->isAncestorOf(help->windowHandle(), QWindow::IncludeTransients));
    delete help;
}

} // namespace
