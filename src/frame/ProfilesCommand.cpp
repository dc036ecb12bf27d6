#include "MainFrame.h"

// Until the Profiles dialog is wired in, the command still asks for the FTP side
// to be rebuilt, as closing the dialog does.
void CMainFrame::RunProfilesDialog() { }
