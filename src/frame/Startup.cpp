#include "Startup.h"

#include <QPointer>

#include "MainFrame.h"
#include "ProfileFile.h"
#include "Splitter2x2.h"
#include "VelmarApp.h"
#include "WaitCursor.h"

bool CreateMainFrame(CVelmarApp& app) {
    auto* frame = new CMainFrame(&app);
    app.m_pMainWnd = frame;
    if (!frame->OnCreateClient())
        return false;
    SetWaitCursorTarget(frame->Splitter());
    // Shown before the first connection: that runs as a job, so the frame is
    // drawn (and the window manager maps it) while it connects.
    frame->setWindowTitle(app.MainTitle());
    frame->showMaximized();
    // The start-up is over once the FTP side has connected: until then the
    // connection's messages go to the status window, and no rebuild is begun.
    QPointer<CMainFrame> guard(frame);
    frame->InitialUpdate().Spawn([&app, guard](std::exception_ptr) {
        app.SetStartingUp(false);
        if (!guard)
            return;
        // The status window had the keyboard while the FTP side connected, and the
        // frame was disabled meanwhile; a keyboard user starts in the first pane.
        guard->activateWindow();
        guard->SetActiveView(guard->GetPane(0, 0));
    });
    return true;
}

void InstallStartupHooks(CVelmarApp& app) {
    app.m_loadProfiles = LoadProfilesAtStartup;
    app.m_processShellCommand = CreateMainFrame;
}
