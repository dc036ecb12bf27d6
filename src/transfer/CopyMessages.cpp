#include "CopyMessages.h"

#include <QString>

#include "MessageBox.h"
#include "TreeScan.h"

namespace copymessages {
namespace {
const QString kCopyFolder = QStringLiteral("Error Copying Folder");

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
             .arg(path, folder ? QStringLiteral("folder") : QStringLiteral("file"), aside),
         folder ? kCopyFolder : QStringLiteral("Error Copying File"));
}

void PartialLeft(QWidget* owner, const QString& path, bool folder) {
    Stop(owner,
         QStringLiteral("The copy was not completed, and the program was unable to remove its "
                        "unfinished part. It is left as %1; the old %2 is unchanged.")
             .arg(path, folder ? QStringLiteral("folder") : QStringLiteral("file")),
         folder ? kCopyFolder : QStringLiteral("Error Copying File"));
}

void OldNotRemoved(QWidget* owner, const QString& aside) {
    Stop(owner,
         QStringLiteral("The copy is in place, but the program was unable to delete the old "
                        "version. What is left of it is in %1.")
             .arg(aside),
         QStringLiteral("Error Deleting Folder"));
}

} // namespace copymessages
