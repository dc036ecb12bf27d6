#include "CopyMessages.h"

#include <QString>

#include "MessageBox.h"
#include "PathRules.h"
#include "TreeScan.h"

namespace copymessages {
namespace {
const QString kCopyFolder = QStringLiteral("Error Copying Folder");
const QString kCopyFile = QStringLiteral("Error Copying File");

void Stop(QWidget* owner, const QString& text, const QString& caption) {
    MessageBox(owner, text, caption, MB_OK | MB_ICONHAND);
}
} // namespace

bool ReportScanStop(QWidget* owner, const treescan::Result& scan) {
    using treescan::Stop;
    switch (scan.stop) {
    case Stop::None:
        return false;
    case Stop::Unreadable:
        FolderUnreadable(owner, scan.where);
        break;
    case Stop::TooDeep:
        FolderTooDeep(owner, scan.where);
        break;
    case Stop::Cycle:
        FolderCycle(owner, scan.where);
        break;
    case Stop::Cancelled:
        break;
    }
    return true;
}

void FolderUnreadable(QWidget* owner, const QString& folder) {
    Stop(owner,
         QStringLiteral("The program was unable to read the folder %1. Nothing more was copied.")
             .arg(folder),
         kCopyFolder);
}

void FolderTooDeep(QWidget* owner, const QString& folder) {
    Stop(owner,
         QStringLiteral("The folder %1 lies more than 64 levels deep. The program does not copy "
                        "folders nested that deeply; nothing was copied.")
             .arg(folder),
         kCopyFolder);
}

void FolderCycle(QWidget* owner, const QString& folder) {
    Stop(owner,
         QStringLiteral("The folder %1 leads back to a folder that is already being copied; "
                        "nothing was copied.")
             .arg(folder),
         kCopyFolder);
}

void FileInTheWay(QWidget* owner, const QString& path) {
    Stop(owner,
         QStringLiteral("A file named %1 is in the way. The program does not replace a file "
                        "with a folder; nothing was copied.")
             .arg(path),
         kCopyFolder);
}

void ReplaceFailed(QWidget* owner, const QString& folder) {
    Stop(owner,
         QStringLiteral("The program was unable to put the copied folder in the place of %1. "
                        "The old folder is unchanged.")
             .arg(folder),
         kCopyFolder);
}

void OldKeptAside(QWidget* owner, const QString& path, const QString& aside, bool folder) {
    Stop(owner,
         QStringLiteral("The program was unable to put the copy in the place of %1, and the old "
                        "%2 could not be moved back. It is kept, unchanged, as %3.")
             .arg(pathrules::Shown(path),
                  folder ? QStringLiteral("folder") : QStringLiteral("file"),
                  pathrules::Shown(aside)),
         folder ? kCopyFolder : kCopyFile);
}

void PartialLeft(QWidget* owner, const QString& path, bool folder) {
    Stop(owner,
         QStringLiteral("The copy was not completed, and the program was unable to remove its "
                        "unfinished part. It is left as %1; the old %2 is unchanged.")
             .arg(pathrules::Shown(path),
                  folder ? QStringLiteral("folder") : QStringLiteral("file")),
         folder ? kCopyFolder : kCopyFile);
}

void OldNotRemoved(QWidget* owner, const QString& aside, bool folder) {
    Stop(owner,
         QStringLiteral("The copy is in place, but the program was unable to delete the old "
                        "version. What is left of it is in %1.")
             .arg(pathrules::Shown(aside)),
         folder ? QStringLiteral("Error Deleting Folder") : QStringLiteral("Error Deleting File"));
}

void SpecialFile(QWidget* owner, const QString& path) {
    Stop(owner,
         QStringLiteral("%1 is not a regular file: it is a named pipe, a socket or a device. The "
                        "program does not copy from or onto such a file; nothing was copied.")
             .arg(path),
         kCopyFile);
}

void SpecialSkipped(QWidget* owner, const QString& paths) {
    MessageBox(owner,
               QStringLiteral("These items were not copied, as they are not regular files (named "
                              "pipes, sockets or devices):\n\n%1")
                   .arg(paths),
               QStringLiteral("Items Not Copied"), MB_OK | MB_ICONWARNING);
}

void UnsafeName(QWidget* owner, const QString& shownPath) {
    Stop(owner,
         QStringLiteral("The name %1 holds control or text-direction characters, which could hide "
                        "or disguise what it is. The program does not give such a name to a local "
                        "file or folder; nothing was copied.")
             .arg(shownPath),
         kCopyFile);
}

void NameTooLong(QWidget* owner, const QString& path) {
    Stop(owner,
         QStringLiteral("The name %1 is longer than the 255 bytes that the name of a local file or "
                        "folder may hold; nothing was copied.")
             .arg(path),
         kCopyFile);
}

void ConnectionLost(QWidget* owner, const QString& detail) {
    QString text = QStringLiteral("The connection to the server was lost, and the program was "
                                  "unable to connect again. Press Refresh (Ctrl+R) to connect "
                                  "to the server again.");
    if (!detail.isEmpty())
        text += QStringLiteral("\n\n") + detail;
    Stop(owner, text, QStringLiteral("Connection Lost"));
}

} // namespace copymessages
