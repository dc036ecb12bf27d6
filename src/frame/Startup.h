#pragma once

class CVelmarApp;

// Wires the start-up steps that live above the application object: the profile
// file and the main frame with its panes.
void InstallStartupHooks(CVelmarApp& app);

// Creates the main frame, its splitter and panes, and runs the panes' initial
// updates (connecting the FTP side). False ends the start-up.
bool CreateMainFrame(CVelmarApp& app);
