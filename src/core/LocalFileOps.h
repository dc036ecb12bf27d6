#pragma once

#include <QString>

#include "OpResult.h"

// The local file system operations of both panes and the copies. The plain ones
// answer with a success flag (errno tells why); the typed ones carry the
// system's words in their result.
namespace core {

// Renames oldPath to newPath; fails when newPath exists (a file or a folder is
// never replaced by a rename), errno EEXIST then.
bool RenameLocalNoReplace(const QString& oldPath, const QString& newPath);

// Deletes one file or symbolic link. A file that this user may not write is
// read-only and is not deleted (errno EACCES); a folder is refused (EISDIR).
bool RemoveLocalFile(const QString& path);

// Removes an empty folder.
bool RemoveLocalFolder(const QString& path);

bool MakeLocalFolder(const QString& path);

// True when path itself (not what it points to) is a symbolic link.
bool IsLocalSymLink(const QString& path);

// True when something, even a dangling link, is at path.
bool LocalPathExists(const QString& path);

// Copies a regular file (or what a link leads to) over an existing one, with its
// permissions and modification time; false for anything else at either end.
bool CopyLocalFileData(const QString& src, const QString& dst);

// The same operations with their outcome typed.
OpResult CreateLocalFolder(const QString& path);
OpResult RenameLocal(const QString& oldPath, const QString& newPath);
OpResult DeleteLocalFile(const QString& path);
OpResult DeleteEmptyLocalFolder(const QString& path);

// The system's words for errno as it stands.
QString SystemWords();

} // namespace core
