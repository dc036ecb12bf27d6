#include "Startup.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWindow>

#include "MainFrame.h"
#include "ProfileFile.h"
#include "Splitter2x2.h"
#include "VelmarApp.h"
#include "WaitCursor.h"

namespace {
// The window manager maps a new window a moment after it is shown; the frame is
// drawn once it is, so that the user sees the program before the first
// connection, which holds the interface until it ends, is made.
constexpr int kExposeWaitMs = 1000;

void ShowBeforeConnecting(CMainFrame* frame, const CVelmarApp& app) {
    frame->setWindowTitle(app.MainTitle());
    frame->showMaximized();
    QElapsedTimer waited;
    waited.start();
    QWindow* window = frame->windowHandle();
    while (window && !window->isExposed() && waited.elapsed() < kExposeWaitMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(5);
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
} // namespace

bool CreateMainFrame(CVelmarApp& app) {
    auto* frame = new CMainFrame(&app);
    app.m_pMainWnd = frame;
    if (!frame->OnCreateClient())
        return false;
    SetWaitCursorTarget(frame->Splitter());
    ShowBeforeConnecting(frame, app);
    frame->InitialUpdate();
    // The status window had the keyboard while the FTP side connected, and the
    // frame was disabled meanwhile; a keyboard user starts in the first pane.
    frame->activateWindow();
    frame->SetActiveView(frame->GetPane(0, 0));
    return true;
}

void InstallStartupHooks(CVelmarApp& app) {
    app.m_loadProfiles = LoadProfilesAtStartup;
    app.m_processShellCommand = CreateMainFrame;
}
