#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "TransferView.h"

// What a copy refuses before it touches anything: a server's name that cannot
// name a local file (it would hide what it is, or is too long), and a pipe, a
// socket or a device as the file to read or the name to write.
namespace copychecks {

// The refusal of name (the last element of a local path made from the server's
// remotePath), if any. The message names remotePath as the user reads it.
std::optional<core::TransferError> LocalNameRefusal(const QString& remotePath, const QString& name);
// A download of remotePath to localPath: its name, and what stands at localPath.
std::optional<core::TransferError> DownloadRefusal(const QString& remotePath,
                                                   const QString& localPath);
// A copy that reads localPath: anything but a regular file (or a link to one).
std::optional<core::TransferError> SourceRefusal(const QString& localPath);
// A copy that writes localPath: a pipe, a socket or a device standing there.
std::optional<core::TransferError> TargetRefusal(const QString& localPath);

// The text of what a folder copy from folder left out as not regular files: one
// path a line, and how many more beyond the first few.
QString SkippedList(const QString& folder, const std::vector<QString>& relatives);

} // namespace copychecks
