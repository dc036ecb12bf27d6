#pragma once

class CVelmarApp;

// Wires the start-up steps that live above the application object: the profile
// file and the main frame with its panes.
void InstallStartupHooks(CVelmarApp& app);

// Creates the main frame, its splitter and panes, shows it, and then runs the
// panes' initial updates (connecting the FTP side, with the status window over
// the frame). False ends the start-up.
bool CreateMainFrame(CVelmarApp& app);
