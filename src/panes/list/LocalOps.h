#pragma once

#include <QString>

// The local file system operations of the list pane, each a success flag.

// Renames oldPath to newPath; fails when newPath exists (a file or a folder is
// never replaced by a rename).
bool RenameLocalNoReplace(const QString& oldPath, const QString& newPath);

// Deletes one file or symbolic link. A file that this user may not write is
// read-only and is not deleted.
bool RemoveLocalFile(const QString& path);

// Removes an empty folder.
bool RemoveLocalFolder(const QString& path);

bool MakeLocalFolder(const QString& path);

// True when path itself (not what it points to) is a symbolic link.
bool IsLocalSymLink(const QString& path);

// True when something, even a dangling link, is at path.
bool LocalPathExists(const QString& path);

// Copies a file over an existing one, with its permissions and modification time.
bool CopyLocalFileData(const QString& src, const QString& dst);
