// Replacing an existing file without ever leaving it damaged: the new data goes to
// a temporary name beside it and takes the file's name only once it is whole.
// Until then, whatever breaks, the old file is as it was.
#include <QFile>
#include <cstdlib>
#include <stdexcept>
#include <sys/stat.h>

#include "FtpSite.h"
#include "Interrupt.h"
#include "LocalFile.h"
#include "RemoteLeftovers.h"
#include "RemoteSite.h"
#include "TempJournal.h"
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

// The journal of the temporary names made on the site: each is written down
// before it is made and struck out once it is gone, so that what a killed
// program or a dead server leaves is found at the next login.
void NoteRemote(core::FtpSite* site, const QString& path, const QString& replaces = QString()) {
    tempjournal::Note(core::LeftoverSiteOf(site->Profile()), tempjournal::Kind::File, path,
                      replaces);
}

void ForgetRemote(core::FtpSite* site, const QString& path) {
    tempjournal::Forget(core::LeftoverSiteOf(site->Profile()), path);
}
} // namespace

std::optional<std::uint64_t> core::Transfer::ServerSize(const QString& remotePath) {
    if (m_listedSize && remotePath == m_listedPath)
        return m_listedSize;
    RemoteConnection* remote = Remote();
    return remote ? remote->Size(remotePath) : std::nullopt;
}

bool core::Transfer::ArrivedWhole(std::uint64_t received, std::optional<std::uint64_t> expected) {
    // More than announced is kept: a file may grow while it is copied.
    if (!expected || received >= *expected)
        return true;
    ReportCopyError(std::runtime_error(QStringLiteral("The server sent %1 of the %2 bytes it "
                                                      "announced.")
                                          .arg(received)
                                          .arg(*expected)
                                          .toStdString()));
    return false;
}

bool core::Transfer::StoredWhole(const QString& store, std::uint64_t sent) {
    // The final reply said the file is stored; where the server tells its size,
    // it must hold every byte sent (a full disk is sometimes reported late).
    // A temporary name is new and written once, so it holds exactly what was sent.
    const auto size = ServerSize(store);
    const bool exact = transferpaths::IsTempPath(store);
    if (!size || (exact ? *size == sent : *size >= sent))
        return true;
    ReportCopyError(std::runtime_error(
        QStringLiteral("The server stored %1 of the %2 bytes sent.").arg(*size).arg(sent).toStdString()));
    return false;
}

bool core::Transfer::CommitDownload(LocalFile& local, const QString& localPath, bool copied,
                                    std::uint64_t received, std::optional<std::uint64_t> exact) {
    copied = copied && ArrivedWhole(received, exact);
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
    RemoteTarget plan{path, path, false, false};
    if (target == Target::MayExist) {
        bool failed = false;
        const auto entry = ListedEntry(path, &failed);
        // A folder of that name refuses the upload by itself; a look-up that
        // failed may have missed a file, which is then treated as there.
        plan.replacing = (entry && !(entry->isFolder && !entry->isLink)) || failed;
    }
    // A new name is written under a temporary one too, so that nobody (a web
    // server's visitor, a script) ever takes a half-written file for the whole.
    if (plan.replacing || !m_site->RefusesRenames()) {
        plan.store = transferpaths::TempSibling(path, QStringLiteral("part"));
        plan.viaTemp = true;
        NoteRemote(m_site, plan.store);
    }
    return plan;
}

std::unique_ptr<core::RemoteWriter> core::Transfer::OpenStore(RemoteTarget& target) {
    RemoteConnection* remote = Remote();
    if (!remote)
        throw RemoteError(RemoteError::Kind::Lost, QStringLiteral("not connected"));
    try {
        return remote->OpenWrite(target.store,
                                 target.viaTemp ? WriteStart::New : WriteStart::Fresh);
    } catch (const RemoteError& error) {
        // Some servers refuse names that begin with a dot. For a new name the
        // data may then go under the name itself; an old file is never put at risk.
        if (!target.viaTemp || target.replacing || error.kind() != RemoteError::Kind::Refused ||
            ftp::Interrupted())
            throw;
    }
    ForgetRemote(m_site, target.store);
    target.store = target.path;
    target.viaTemp = false;
    ShowLine(core::StatusLine::Message,
             QStringLiteral("The server does not take the temporary name: the file is copied "
                            "straight under its own name."));
    return remote->OpenWrite(target.store, WriteStart::Fresh);
}

bool core::Transfer::RemoveRemoteQuietly(const QString& path) {
    // Clearing up after a cancelled copy is not part of what was cancelled, but
    // a server that has stalled must not hold the user for its whole time-out:
    // what cannot be removed in time is named as left.
    ftp::InterruptScope cleanup(kCleanupGrace);
    bool removed = false;
    try {
        if (RemoteConnection* remote = Remote()) {
            remote->DeleteFile(path);
            removed = true;
        }
    } catch (const std::exception&) {
        return false; // refused, or the connection is gone
    }
    if (removed)
        ForgetRemote(m_site, path);
    return removed;
}

void core::Transfer::RemoveUnfinished(const QString& path) {
    if (!RemoveRemoteQuietly(path))
        Fail({core::TransferError::Kind::PartialLeft, path, {}, {}});
}

bool core::Transfer::FinishRemoteTarget(const RemoteTarget& target, bool copied) {
    if (!copied) {
        // A new name written directly is removed too: a part must never pass
        // for the file.
        RemoveUnfinished(target.store);
        return false;
    }
    if (!target.viaTemp)
        return true;
    if (target.replacing)
        return SwapRemoteFile(target.store, target.path);
    return PlaceNewFile(target);
}

bool core::Transfer::TakeDirectRetry() {
    const bool retry = m_directRetry && !m_cancel;
    m_directRetry = false;
    if (retry)
        ShowLine(core::StatusLine::Message,
                 QStringLiteral("The server does not allow renaming: the file is copied again "
                                "straight under its own name."));
    return retry;
}

namespace {
enum class Renamed { Done, Refused, Failed };

template <typename Step>
Renamed Quietly(Step&& step) {
    try {
        step();
        return Renamed::Done;
    } catch (const core::RemoteError& error) {
        return error.kind() == core::RemoteError::Kind::Refused ? Renamed::Refused
                                                                : Renamed::Failed;
    } catch (const std::exception&) {
        return Renamed::Failed;
    }
}

// Onto to, replacing it where the server does so in one step.
Renamed RenameQuietly(core::RemoteConnection* remote, const QString& from, const QString& to) {
    if (!remote)
        return Renamed::Failed;
    return Quietly([&] { remote->Replace(from, to); });
}

// Onto a name that nothing holds: a server that replaces nothing in one step
// (SFTP's plain rename) still moves a file to a free name.
Renamed MoveQuietly(core::RemoteConnection* remote, const QString& from, const QString& to) {
    if (!remote)
        return Renamed::Failed;
    const Renamed replaced = Quietly([&] { remote->Replace(from, to); });
    if (replaced != Renamed::Refused)
        return replaced;
    return Quietly([&] { remote->Rename(from, to); });
}
} // namespace

bool core::Transfer::PlaceNewFile(const RemoteTarget& target) {
    Renamed renamed = Renamed::Failed;
    {
        ftp::InterruptScope place(kCleanupGrace);
        renamed = MoveQuietly(Remote(), target.store, target.path);
        if (renamed == Renamed::Done) {
            ForgetRemote(m_site, target.store);
            return true;
        }
    }
    if (renamed != Renamed::Refused || m_cancel) {
        RemoveUnfinished(target.store);
        ReportCopyError();
        return false;
    }
    // The server takes files but will not rename them: this one is sent again
    // under its own name, and so are the next ones of this session.
    if (!RemoveRemoteQuietly(target.store)) {
        Fail({core::TransferError::Kind::PartialLeft, target.store, {}, {}});
        return false;
    }
    m_site->SetRefusesRenames();
    m_directRetry = true;
    return false;
}

bool core::Transfer::SwapRemoteFile(const QString& store, const QString& path) {
    // The new data is whole: a Cancel now would only leave the old file aside,
    // so the few renames run to their end, within a bound.
    ftp::InterruptScope swap(kCleanupGrace);
    RemoteConnection* connection = Remote();
    if (RenameQuietly(connection, store, path) == Renamed::Done) {
        ForgetRemote(m_site, store);
        return true;
    }
    // Some servers will not rename onto an existing name: the old file steps aside
    // first, and comes back if the new one cannot take its place.
    const QString aside = transferpaths::TempSibling(path, QStringLiteral("old"));
    NoteRemote(m_site, aside, path);
    if (MoveQuietly(connection, path, aside) != Renamed::Done) {
        ForgetRemote(m_site, aside);
        RemoveUnfinished(store);
        ReportCopyError();
        return false;
    }
    if (MoveQuietly(connection, store, path) != Renamed::Done) {
        const bool back = MoveQuietly(connection, aside, path) == Renamed::Done;
        // An old file that could not go back is the user's only copy now: it is
        // named to the user and never removed as a leftover.
        ForgetRemote(m_site, aside);
        RemoveUnfinished(store);
        if (back)
            ReportCopyError();
        else
            Fail({core::TransferError::Kind::OldKeptAside, path, aside, {}});
        return false;
    }
    ForgetRemote(m_site, store);
    bool removed = false;
    try {
        if (connection) {
            connection->DeleteFile(aside);
            removed = true;
        }
    } catch (const std::exception&) {
    }
    if (removed)
        ForgetRemote(m_site, aside);
    else
        Fail({core::TransferError::Kind::OldNotRemoved, path, aside, {}});
    return true;
}
