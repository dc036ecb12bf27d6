#include "MainFrame.h"
#include "ProfilesDlg.h"

void CMainFrame::RunProfilesDialog() {
    CProfilesDlg dlg(this);
    dlg.exec();
}
