#pragma once

#include <QString>
#include <functional>

#include "Task.h"

class CMyListView;

// Copies a folder to destination on one side (the FTP side when onFtp). When
// something of that name is there already, the copy is made under a temporary
// name beside it; only once the copy is whole does the old folder step aside, the
// new one take its name, and the old one get deleted (through pane's link-safe
// delete, on the destination's side). A copy that fails leaves the old folder as
// it was and its own partial copy removed.
//
// copy makes the whole copy at the path it is given (which does not exist yet)
// and reports its own failures. Returns whether the copy is in place.
using FolderCopier = std::function<core::Task<bool>(QString into)>;
core::Task<bool> CopyFolderReplacing(CMyListView* pane, bool onFtp, QString destination,
                                     FolderCopier copy);
