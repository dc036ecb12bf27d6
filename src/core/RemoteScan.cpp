// The scan of a remote source folder before it is copied. One connection of its
// own lists the whole tree, so that the main connection stays free and a deep
// tree costs one login, not one per level.
#include "FtpConnection.h"
#include "FtpControl.h"
#include "FtpFileFind.h"
#include "FtpSite.h"
#include "Transfer.h"
#include "TransferPaths.h"
#include "TreeScan.h"

using transferpaths::IsUsableListingName;
using transferpaths::JoinRemote;

bool core::Transfer::ScanRemoteTree(const QString& source, treescan::Result& scan) {
    ExtraConnection listing;
    try {
        listing = OpenExtraConnection();
        // The scan needs the servers' names of the folders to tell one met twice;
        // the facts of the other connections are left as they are.
        FtpControl& control = listing->Control();
        if (control.HasMlst())
            control.CommandOk("OPTS MLST type;size;modify;unique;unix.mode;");
    } catch (const std::exception& error) {
        ReportCopyError(error);
        return false;
    }
    m_seenFolders.clear();
    ScanRemoteFolder(listing.get(), source, QString(), 1, scan);
    m_seenFolders.clear();
    return !ScanStopped(scan);
}

namespace {
// Some servers answer the listing of a folder they may not read, or of one that
// is gone, with an empty listing and a success reply; a folder that cannot be
// entered is not taken for an empty one. The paths of the scan are absolute, so
// the change of folder does not disturb them.
bool EnterFolder(CFtpConnection* connection, const QString& path) {
    try {
        return connection->SetCurrentDirectory(path);
    } catch (const std::exception&) {
        return false;
    }
}

bool Stopped(treescan::Result& scan, treescan::Stop stop, const QString& where) {
    scan.stop = stop;
    scan.where = where;
    return false;
}
} // namespace

bool core::Transfer::ScanRemoteFolder(CFtpConnection* connection, const QString& path,
                                      const QString& relative, int level, treescan::Result& scan) {
    using treescan::Stop;
    if (level > treescan::kMaxDepth)
        return Stopped(scan, Stop::TooDeep, path);
    if (!PollCancel(Clock::now()))
        return Stopped(scan, Stop::Cancelled, path);
    if (!EnterFolder(connection, path))
        return Stopped(scan, Stop::Unreadable, path);
    std::vector<FtpListEntry> entries;
    {
        CFtpFileFind find(connection, 1);
        find.FindFile(JoinRemote(path, QStringLiteral("*.*")), INTERNET_FLAG_RELOAD);
        // An empty folder is no failure; a listing that failed never stands for one.
        if (find.Failed())
            return Stopped(scan, Stop::Unreadable, path);
        entries = find.Entries();
        find.Close();
    }
    for (const FtpListEntry& entry : entries) {
        if (!IsUsableListingName(entry.name))
            continue;
        const QString child = JoinRemote(path, entry.name);
        const QString childRelative =
            relative.isEmpty() ? entry.name : relative + QLatin1Char('/') + entry.name;
        if (entry.isLink) {
            if (RemoteLinkIsFolder(connection, entry, child))
                ++scan.skippedFolderLinks;
            else
                scan.items.push_back({childRelative, false});
            continue;
        }
        if (!entry.isFolder) {
            scan.items.push_back({childRelative, false});
            continue;
        }
        if (treescan::IsHiddenFolderName(entry.name))
            continue;
        // Where the server names each folder uniquely, a folder met twice is a way
        // back into the tree (a link the listing did not show as one).
        if (!entry.unique.empty() && !m_seenFolders.insert(entry.unique).second)
            return Stopped(scan, Stop::Cycle, child);
        scan.items.push_back({childRelative, true});
        if (!ScanRemoteFolder(connection, child, childRelative, level + 1, scan))
            return false;
    }
    return true;
}

// A link whose target the listing names as a folder, or that the server lets us
// enter, is a link to a folder and is not copied. Any other link is copied as the
// file it points to; if the server cannot deliver that, the copy of it fails
// with its message.
bool core::Transfer::RemoteLinkIsFolder(CFtpConnection* connection, const FtpListEntry& entry,
                                        const QString& path) {
    if (entry.isFolder || entry.linkTarget.endsWith(QLatin1Char('/')))
        return true;
    return EnterFolder(connection, path);
}
