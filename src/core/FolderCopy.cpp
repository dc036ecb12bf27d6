// Copying a folder with everything below it. The source is scanned whole before
// anything is made: a listing that fails, a tree deeper than 64 levels or one that
// leads back into itself ends the copy with its message before a single folder is
// created. Then the destination folder and every folder below it are made, in
// order, and the files are copied several at once; the first failure ends the
// whole copy, and nothing already copied is removed. Links are never followed
// into: a link to a file is copied as the file, a link to a folder is left out.
// Pipes, sockets and devices are left out too, and named once the copy is done.
// A server's name that cannot name a local file refuses a download whole, before
// anything is made: leaving it out would make a copy that replaces the old
// folder without it.
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <sys/stat.h>

#include "CopyChecks.h"
#include "FtpSite.h"
#include "Job.h"
#include "LocalFind.h"
#include "Parallel.h"
#include "RemoteSite.h"
#include "Transfer.h"
#include "TransferPaths.h"
#include "TreeScan.h"

using transferpaths::JoinRemote;

void core::Transfer::ReportCreateFolderError() {
    if (m_cancel) {
        ShowCancelled(); // the stop request ended the command, not the server
        return;
    }
    Fail({core::TransferError::Kind::CreateFolder, {}, {}, {}});
}

bool core::Transfer::CreateRemoteFolder(const QString& path) {
    bool created = false;
    try {
        if (RemoteConnection* remote = Remote()) {
            remote->MakeFolder(path);
            created = true;
        }
    } catch (const std::exception&) {
        created = false;
    }
    if (!created)
        ReportCreateFolderError();
    return created;
}

bool core::Transfer::CreateLocalFolder(const QString& path) {
    // Fails when the folder exists already or its parent is missing, as it must:
    // a copy never merges into an existing folder.
    if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0)
        return true;
    ReportCreateFolderError();
    return false;
}

bool core::Transfer::ScanStopped(const treescan::Result& scan) {
    using Kind = core::TransferError::Kind;
    switch (scan.stop) {
    case treescan::Stop::None:
        return false;
    case treescan::Stop::Unreadable:
        Fail({Kind::FolderUnreadable, scan.where, {}, {}});
        break;
    case treescan::Stop::TooDeep:
        Fail({Kind::FolderTooDeep, scan.where, {}, {}});
        break;
    case treescan::Stop::Cycle:
        Fail({Kind::FolderCycle, scan.where, {}, {}});
        break;
    case treescan::Stop::Cancelled:
        break; // told already
    }
    return true;
}

namespace {
// Makes the destination and every folder of the scan, in their order, on one
// connection: the batch's first step, before any of its files.
template <typename MakeFolder>
bool MakeFolders(const treescan::Result& scan, const QString& destination, MakeFolder makeFolder) {
    if (!makeFolder(destination))
        return false;
    for (const treescan::Item& item : scan.items)
        if (item.isFolder && !makeFolder(JoinRemote(destination, item.relative)))
            return false;
    return true;
}

std::vector<core::BatchFile> FilesOf(const treescan::Result& scan, core::BatchFile::Way way,
                                     const QString& source, const QString& destination) {
    const bool fromLocal = way == core::BatchFile::Way::Upload;
    const bool toLocal = way == core::BatchFile::Way::Download;
    std::vector<core::BatchFile> files;
    for (const treescan::Item& item : scan.items) {
        if (item.isFolder)
            continue;
        core::BatchFile file;
        file.way = way;
        file.source =
            fromLocal ? JoinLocal(source, item.relative) : JoinRemote(source, item.relative);
        file.destination = toLocal ? JoinLocal(destination, item.relative)
                                   : JoinRemote(destination, item.relative);
        file.fresh = true;
        file.size = item.size;
        file.sizeExact = item.sizeExact;
        if (fromLocal)
            file.size =
                static_cast<std::uint64_t>(std::max<qint64>(QFileInfo(file.source).size(), 0));
        files.push_back(file);
    }
    return files;
}
} // namespace

bool core::Transfer::CopyFolderLocalToFtp(const QString& source, const QString& destination) {
    const treescan::Result scan =
        treescan::ScanLocal(source, [this] { return PollCancel(Clock::now()); });
    if (ScanStopped(scan))
        return false;
    const bool copied = CopyBatch(FilesOf(scan, BatchFile::Way::Upload, source, destination), [&] {
        return MakeFolders(scan, destination,
                           [this](const QString& path) { return CreateRemoteFolder(path); });
    });
    if (copied && !scan.skippedSpecial.empty())
        Fail({TransferError::Kind::SpecialSkipped,
              copychecks::SkippedList(source, scan.skippedSpecial),
              {},
              {}});
    return copied;
}

namespace {
// The first item of a download whose name cannot name a local file, or the
// folder itself; its refusal.
std::optional<core::TransferError> RefusedName(const QString& source,
                                               const treescan::Result& scan) {
    // The root has no name of its own; the copy of it is named by the user's side.
    if (!pathrules::IsRoot(source))
        if (auto refusal = copychecks::LocalNameRefusal(source, transferpaths::NameOf(source)))
            return refusal;
    for (const treescan::Item& item : scan.items) {
        const QString path = JoinRemote(source, item.relative);
        if (auto refusal = copychecks::LocalNameRefusal(path, transferpaths::NameOf(path)))
            return refusal;
    }
    return std::nullopt;
}
} // namespace

bool core::Transfer::CopyFolderFtpToLocal(const QString& source, const QString& destination) {
    treescan::Result scan;
    if (!ScanRemoteTree(source, scan))
        return false;
    if (auto refusal = RefusedName(source, scan)) {
        Fail(*refusal);
        return false;
    }
    return CopyBatch(FilesOf(scan, BatchFile::Way::Download, source, destination), [&] {
        return MakeFolders(scan, destination,
                           [this](const QString& path) { return CreateLocalFolder(path); });
    });
}

bool core::Transfer::CopyFolderFtpToFtp(const QString& source, const QString& destination) {
    if (!CheckFolderNotInside(source, destination))
        return false;
    treescan::Result scan;
    if (!ScanRemoteTree(source, scan))
        return false;
    return CopyBatch(FilesOf(scan, BatchFile::Way::BetweenRemotes, source, destination), [&] {
        return MakeFolders(scan, destination,
                           [this](const QString& path) { return CreateRemoteFolder(path); });
    });
}
