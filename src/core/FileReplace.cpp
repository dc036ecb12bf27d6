// Replacing an existing file without ever leaving it damaged: the new data goes to
// a temporary name beside it and takes the file's name only once it is whole.
// Until then, whatever breaks, the old file is as it was.
#include <QFile>
#include <cstdlib>
#include <sys/stat.h>

#include "FtpConnection.h"
#include "FtpControl.h"
#include "FtpFileFind.h"
#include "FtpSite.h"
#include "Interrupt.h"
#include "LocalFile.h"
#include "NameCodec.h"
#include "Transfer.h"
#include "TransferPaths.h"

namespace {
// The permissions and owner a replacement takes: those of the file replaced, or,
// for a link (replaced itself), those of the file it points to.
struct Permissions {
    mode_t mode;
    uid_t owner;
    gid_t group;
};

Permissions PermissionsFor(const QString& path) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    Permissions permissions{mode_t(0666 & ~mask), ::geteuid(), ::getegid()};
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode))
        permissions = {st.st_mode, st.st_uid, st.st_gid};
    return permissions;
}
} // namespace

std::optional<std::uint64_t> core::Transfer::ServerSize(const QString& remotePath) {
    std::string arg;
    CFtpConnection* connection = m_site->Connection();
    if (!connection || !CommandPath(connection->Control(), remotePath, arg))
        return std::nullopt;
    FtpReply reply;
    if (!connection->Control().CommandOk("SIZE " + arg, 2, &reply) || reply.code != 213)
        return std::nullopt;
    const std::string digits = reply.text.size() > 4 ? reply.text.substr(4) : std::string();
    char* end = nullptr;
    const unsigned long long size = std::strtoull(digits.c_str(), &end, 10);
    if (end == digits.c_str())
        return std::nullopt;
    return size;
}

bool core::Transfer::CommitDownload(LocalFile& local, const QString& remotePath,
                                    const QString& localPath, bool copied, std::uint64_t received) {
    if (local.TempPath().isEmpty()) {
        try {
            local.Close();
        } catch (const std::exception& error) {
            if (copied)
                ReportCopyError(error);
            copied = false;
        }
        return copied;
    }
    if (copied) {
        // The final reply said the transfer completed; where the server tells the
        // file's size, the bytes that arrived must be all of it.
        const auto size = ServerSize(remotePath);
        if (size && *size != received) {
            ReportCopyError();
            copied = false;
        }
    }
    if (!copied) {
        local.DiscardTemp();
        return false;
    }
    const Permissions permissions = PermissionsFor(localPath);
    try {
        local.CommitOver(localPath, permissions.mode, permissions.owner, permissions.group);
    } catch (const std::exception& error) {
        ReportCopyError(error);
        return false;
    }
    return true;
}

core::Transfer::RemoteTarget core::Transfer::PlanRemoteTarget(const QString& path, Target target) {
    RemoteTarget plan{path, path, false};
    if (target == Target::Fresh)
        return plan;
    bool failed = false;
    const auto entry = ListedEntry(path, &failed);
    // A folder of that name refuses the upload by itself; a look-up that failed
    // may have missed a file, so the data goes beside it to be safe.
    if ((entry && !(entry->isFolder && !entry->isLink)) || failed) {
        plan.store = transferpaths::TempSibling(path, QStringLiteral("part"));
        plan.viaTemp = true;
    }
    return plan;
}

bool core::Transfer::RemoveRemoteQuietly(const QString& path) {
    // Clearing up after a cancelled copy is not part of what was cancelled, but
    // a server that has stalled must not hold the user for its whole time-out:
    // what cannot be removed in time is named as left.
    ftp::InterruptScope cleanup(kCleanupGrace);
    try {
        return m_site->Connection() && m_site->Connection()->Remove(path);
    } catch (const std::exception&) {
        return false; // the connection is gone
    }
}

void core::Transfer::RemoveUnfinished(const QString& path) {
    if (!RemoveRemoteQuietly(path))
        Fail({core::TransferError::Kind::PartialLeft, path, {}, {}});
}

bool core::Transfer::FinishRemoteTarget(const RemoteTarget& target, bool copied) {
    if (!target.viaTemp)
        return copied;
    if (!copied) {
        RemoveUnfinished(target.store);
        return false;
    }
    return SwapRemoteFile(target.store, target.path);
}

namespace {
bool RenameQuietly(CFtpConnection* connection, const QString& from, const QString& to) {
    try {
        return connection && connection->Rename(from, to);
    } catch (const std::exception&) {
        return false;
    }
}
} // namespace

bool core::Transfer::SwapRemoteFile(const QString& store, const QString& path) {
    // The new data is whole: a Cancel now would only leave the old file aside,
    // so the few renames run to their end, within a bound.
    ftp::InterruptScope swap(kCleanupGrace);
    CFtpConnection* connection = m_site->Connection();
    if (RenameQuietly(connection, store, path))
        return true;
    // Some servers will not rename onto an existing name: the old file steps aside
    // first, and comes back if the new one cannot take its place.
    const QString aside = transferpaths::TempSibling(path, QStringLiteral("old"));
    if (!RenameQuietly(connection, path, aside)) {
        RemoveUnfinished(store);
        ReportCopyError();
        return false;
    }
    if (!RenameQuietly(connection, store, path)) {
        const bool back = RenameQuietly(connection, aside, path);
        RemoveUnfinished(store);
        if (back)
            ReportCopyError();
        else
            Fail({core::TransferError::Kind::OldKeptAside, path, aside, {}});
        return false;
    }
    bool removed = false;
    try {
        removed = connection->Remove(aside);
    } catch (const std::exception&) {
    }
    if (!removed)
        Fail({core::TransferError::Kind::OldNotRemoved, path, aside, {}});
    return true;
}
