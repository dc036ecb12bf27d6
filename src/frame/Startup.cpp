#include "Startup.h"

#include "MainFrame.h"
#include "ProfileFile.h"
#include "VelmarApp.h"

bool CreateMainFrame(CVelmarApp& app) {
    auto* frame = new CMainFrame(&app);
    app.m_pMainWnd = frame;
    if (!frame->OnCreateClient())
        return false;
    frame->InitialUpdate();
    return true;
}

void InstallStartupHooks(CVelmarApp& app) {
    app.m_loadProfiles = LoadProfilesAtStartup;
    app.m_processShellCommand = CreateMainFrame;
}
