// The help is a window of its own: it outlives the status window that opened it,
// works while the main window is locked, yet never keeps the program running.
#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include "../transfer/TestFrame.h"
#include "CommStatusDlg.h"
#include "HelpWindow.h"
#include "VelmarApp.h"

TEST(HelpWindow, OutlivesTheStatusWindowAndNeverKeepsTheProgramAlone) {
    CVelmarApp app;
    auto frame = std::make_unique<TestFrame>();
    app.m_pMainWnd = frame.get();
    frame->show();
    auto status = std::make_unique<CCommStatusDlg>(frame.get());
    status->Create();
    status->ShowTransferControls();
    frame->setEnabled(false); // as while a copy runs
    QTest::mouseClick(status->Control(CCommStatusDlg::IDC_HELP), Qt::LeftButton);
    QPointer<CHelpWindow> help = CurrentHelpWindow();
    status.reset(); // the copy has ended
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(help && help->isVisible() && help->isEnabled());
    EXPECT_EQ(help->CurrentTopicTitle(), "The communication status window");
    frame->setEnabled(true);
    QTimer::singleShot(0, frame.get(), [&] { frame->close(); });
    QTimer giveUp; // fires only when the help window keeps the program running
    giveUp.setSingleShot(true);
    giveUp.callOnTimeout(qApp, &QCoreApplication::quit);
    giveUp.start(5000);
    QApplication::exec();
    EXPECT_TRUE(giveUp.isActive() && !(help && help->isVisible()));
    delete help;
    app.m_pMainWnd = nullptr;
}

// A modal dialog blocks every window but its own: the help it opens is its own.
TEST(HelpWindow, AModalDialogsHelpIsNotBlockedByIt) {
    QDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal); // as under exec()
    dialog.show();
    WinHelp(nullptr, "Velmar98.hlp", HELP_CONTENTS); // open already, on its own
    WinHelp(&dialog, "Velmar98.hlp", HELP_CONTEXT, HELP_CONTEXT_PROFILES);
    std::unique_ptr<CHelpWindow> help(CurrentHelpWindow());
    ASSERT_TRUE(help && help->isWindow() && help->isVisible());
    EXPECT_TRUE(
        dialog.windowHandle()->isAncestorOf(help->windowHandle(), QWindow::IncludeTransients));
}
