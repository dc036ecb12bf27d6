#pragma once

// The panes' context menus on the accessibility bus. A popup window is left out
// of the application's children by the toolkit, so a screen reader that looks
// for a shown context menu among the program's windows finds nothing; the
// program's own root lists the context menus while they are shown, beside the
// windows it lists anyway. Install once, before the application object is made
// (the root is made on first use and then kept).
void InstallAccessibleContextMenus();
