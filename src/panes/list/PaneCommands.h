#pragma once

#include "Task.h"

// Copy and paste between the panes, and from the desktop's file manager: the
// entry points the list and tree panes call from their key handlers and their
// context menus. A paste runs the same copy as a drop of the same items there.
class CMyListView;
class CVelmarDoc;
class CMyTreeView;
class QAction;
class QKeyEvent;
class QMenu;
class QPoint;
class QTreeWidgetItem;

// Commands of the context menus, after the panes' own items.
enum ClipboardCommand : int {
    ID_EDIT_COPY = 57634,
    ID_EDIT_PASTE = 57637,
};

// Records the list's selected items (false when nothing is selected).
bool CopyListSelection(CMyListView* list);
// Records the tree's selected folder (false for a drive, a root or nothing).
bool CopyTreeSelection(CMyTreeView* tree);
// Pastes into the folder item in row, or into the folder the list shows when
// row is not a folder (-1 included). False when nothing was copied, or the
// copy was refused or failed.
core::Task<bool> PasteIntoList(CMyListView* list, int row);
// Pastes into the folder (or drive, or FTP root) item.
core::Task<bool> PasteIntoTree(CMyTreeView* tree, QTreeWidgetItem* item);

// Ctrl+C (or Ctrl+Insert) and Ctrl+V (or Shift+Insert) in a pane. True when the
// key was one of them and has been handled.
bool HandleClipboardKey(CMyListView* list, QKeyEvent* event);
bool HandleClipboardKey(CMyTreeView* tree, QKeyEvent* event);

// Appends "Copy" and "Paste" to a pane's context menu; each action carries its
// command id as objectName, as the panes' own items do.
void AddClipboardItems(QMenu* menu, bool canCopy, bool canPaste);
// Shows a pane's context menu until an item is chosen or the menu is left, and
// returns the item chosen (or null). An item chosen through its accessible action
// (a screen reader's "press") counts as chosen too: the menu closes and says so.
QAction* RunPaneMenu(QMenu* menu, const QPoint& globalPos);
// Whether something can be pasted now (for the menu item's state).
bool CanPaste(CVelmarDoc* doc);
