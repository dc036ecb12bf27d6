// The scan of a remote source folder before it is copied. Where the server has
// MLSD, which fails for a folder it cannot list, the main connection lists the
// tree by paths and never leaves the user's folder. Otherwise one connection of
// its own lists it, entering each folder first: some servers answer a LIST of
// a folder they may not read with an empty listing and a success reply.
#include "FtpSite.h"
#include "RemoteSite.h"
#include "Transfer.h"
#include "TransferPaths.h"
#include "TreeScan.h"

using transferpaths::IsUsableListingName;
using transferpaths::JoinRemote;

bool core::Transfer::ScanRemoteTree(const QString& source, treescan::Result& scan) {
    std::unique_ptr<RemoteConnection> listing;
    try {
        // A login less, which a distant server makes worth the while.
        if (!Remote() || !Remote()->Caps().uniqueIds)
            listing = OpenExtraConnection();
    } catch (const std::exception& error) {
        // A server that allows no further connection is listed on the main one.
        if (m_cancel || !Remote()) {
            ReportCopyError(error);
            return false;
        }
    }
    m_seenFolders.clear();
    ScanRemoteFolder(listing ? *listing : *Remote(), source, QString(), 1, scan);
    m_seenFolders.clear();
    return !ScanStopped(scan);
}

namespace {
bool Stopped(treescan::Result& scan, treescan::Stop stop, const QString& where) {
    scan.stop = stop;
    scan.where = where;
    return false;
}
} // namespace

bool core::Transfer::ScanRemoteFolder(RemoteConnection& connection, const QString& path,
                                      const QString& relative, int level, treescan::Result& scan) {
    using treescan::Stop;
    if (level > treescan::kMaxDepth)
        return Stopped(scan, Stop::TooDeep, path);
    if (!PollCancel(Clock::now()))
        return Stopped(scan, Stop::Cancelled, path);
    std::vector<RemoteEntry> entries;
    try {
        // An empty folder is no failure; a listing that failed never stands for one.
        entries = connection.List(path);
    } catch (const RemoteError& error) {
        if (!PollCancel(Clock::now()))
            return Stopped(scan, Stop::Cancelled, path);
        return Stopped(scan, Stop::Unreadable, path);
    }
    for (const RemoteEntry& entry : entries) {
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
            // An MLSD entry (it carries "unique") gives the exact size.
            scan.items.push_back({childRelative, false, entry.size, !entry.unique.empty()});
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
bool core::Transfer::RemoteLinkIsFolder(RemoteConnection& connection, const RemoteEntry& entry,
                                        const QString& path) {
    if (entry.isFolder || entry.linkTarget.endsWith(QLatin1Char('/')))
        return true;
    return connection.LeadsToFolder(path);
}
