#pragma once

#include <QString>

class QWidget;
namespace treescan {
struct Result;
}

// The messages of the copies that keep the user's data whole: a folder that could
// not be read, a tree too deep or leading back into itself, and a replacement
// that could not be put in place. Each says what is left.
namespace copymessages {

// Shows the message of a folder scan that stopped (a cancel has been shown
// already); true when it stopped.
bool ReportScanStop(QWidget* owner, const treescan::Result& scan);

// Caption "Error Copying Folder".
void FolderUnreadable(QWidget* owner, const QString& folder);
void FolderTooDeep(QWidget* owner, const QString& folder);
void FolderCycle(QWidget* owner, const QString& folder);
// A file stands where the folder would go; it is never replaced by a folder.
void FileInTheWay(QWidget* owner, const QString& path);
// The new folder could not be put in place; the old one is as it was.
void ReplaceFailed(QWidget* owner, const QString& folder);
// The old folder or file was moved aside and could not be put back.
void OldKeptAside(QWidget* owner, const QString& path, const QString& aside, bool folder);
// An unfinished copy (under its temporary name) could not be removed.
void PartialLeft(QWidget* owner, const QString& path, bool folder);
// Caption "Error Deleting Folder": the copy is in place, the old one is left aside.
void OldNotRemoved(QWidget* owner, const QString& aside, bool folder);

// Caption "Error Copying File": a pipe, a socket or a device is never opened.
void SpecialFile(QWidget* owner, const QString& path);
// What a folder copy left out because it is not a regular file, one per line.
void SpecialSkipped(QWidget* owner, const QString& paths);
// A server's name that cannot name a local file: shown escaped, or too long.
void UnsafeName(QWidget* owner, const QString& shownPath);
void NameTooLong(QWidget* owner, const QString& path);

// Caption "Connection Lost": the connection to the server went, and a new one
// could not be made; never shown for a stop. detail (why, or a delete's account
// of what is left) follows when given.
void ConnectionLost(QWidget* owner, const QString& detail = QString());

} // namespace copymessages
