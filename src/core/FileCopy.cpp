// Copying one file: local to FTP and FTP to local (FTP to FTP: RemoteCopy.cpp).
// Every file, find and connection is owned by the call and released on every path.
#include <QFile>
#include <memory>
#include <optional>
#include <sys/stat.h>

#include "BlockLoop.h"
#include "CopyGuards.h"
#include "FtpSite.h"
#include "Interrupt.h"
#include "Job.h"
#include "LocalFile.h"
#include "Parallel.h"
#include "ProgressText.h"
#include "RemoteSite.h"
#include "Transfer.h"

using copyguards::kRetrieving;
using copyguards::PaneReady;
using copyguards::RemoteIn;
using copyguards::RemoteOut;

QString core::Transfer::RemoteName(const QString& path) const {
    return m_site->Profile().m_name + QLatin1Char(':') + path;
}

core::RemoteConnection* core::Transfer::Remote() const {
    if (m_connection)
        return m_connection;
    return m_site ? m_site->Remote() : nullptr;
}

std::optional<core::RemoteEntry> core::Transfer::ListedEntry(const QString& remotePath,
                                                             bool* failed) {
    if (failed)
        *failed = false;
    try {
        return Remote()->Stat(remotePath);
    } catch (const RemoteError& error) {
        if (error.kind() == RemoteError::Kind::Cancelled)
            throw;
        if (failed)
            *failed = true;
        return std::nullopt;
    }
}

std::unique_ptr<core::RemoteConnection> core::Transfer::OpenExtraConnection() {
    if (m_sourceConnection)
        return BorrowConnection(*m_sourceConnection);
    return m_site->OpenExtra();
}

// Ends a copy whose data has moved: closes the destination and then the source,
// which is where the server says whether the transfer really completed. A close
// error fails a copy that had not failed yet, and is reported once.
bool core::Transfer::CloseAfterCopy(bool copied, RemoteWriter* writer, RemoteReader* reader) {
    auto close = [&](auto* file) {
        if (!file)
            return;
        if (!copied) {
            file->Abandon();
            return;
        }
        try {
            file->Close();
        } catch (const std::exception& error) {
            ReportCopyError(error);
            copied = false;
        }
    };
    close(writer);
    close(reader);
    return copied;
}

bool core::Transfer::CopyLocalToFtp(const QString& localPath, const QString& remotePath) {
    return UploadLocal(localPath, remotePath, Target::MayExist);
}

bool core::Transfer::UploadLocal(const QString& localPath, const QString& remotePath,
                                 Target target) {
    PaneReady pane(*this);
    ShowTransferControls();
    ShowLine(core::StatusLine::From, localPath);
    ShowLine(core::StatusLine::To, RemoteName(remotePath));
    if (!Remote()) {
        ReportCopyError();
        return false;
    }
    LocalFile local;
    if (!local.OpenRead(localPath)) {
        ReportCopyError();
        return false;
    }
    RemoteTarget destination;
    RemoteOut remote;
    try {
        destination = PlanRemoteTarget(remotePath, target);
        remote.reset(OpenStore(destination).release());
    } catch (const std::exception& error) {
        ReportCopyError(error);
        return false;
    }
    const std::uint64_t length = local.Length();
    const auto stamp = local.Stamp();
    std::uint64_t start = 0;
    bool copied = false;
    // After a break the server is asked what it holds; an ask that breaks too
    // is waited out and asked again, as an open that breaks is.
    bool askStart = false;
    for (int attempt = 0;;) {
        if (!remote) {
            copied = false; // what a try before the break copied is not whole
            try {
                if (askStart) {
                    start = UploadResumePoint(destination, local, stamp, length);
                    askStart = false;
                }
                remote.reset(Remote()
                                 ->OpenWrite(destination.store,
                                             start > 0 ? WriteStart::AtOffset : WriteStart::Fresh,
                                             start)
                                 .release());
            } catch (const RemoteError& error) {
                if (error.kind() == RemoteError::Kind::NoResume && start > 0) {
                    start = 0; // the server will not go on: the file starts over
                    local.ContinueAt(0, false);
                    continue;
                }
                if (!m_cancel && IsResumable(error)) {
                    m_lastBreak = error.words();
                    if (!WaitToResume(++attempt, start, length))
                        break;
                    continue;
                }
                ReportCopyError(error);
                break;
            }
        }
        bool broken = false;
        LocalFileSource source(local);
        RemoteSink sink(*remote);
        copied = RunBlockLoop(length, source, sink, LengthRule::Exact, start, &broken);
        if (!broken && !CloseOrBreak(copied, *remote))
            break;
        remote.reset();
        if (!WaitToResume(++attempt, start, length))
            break;
        askStart = true;
    }
    copied = copied && StoredWhole(destination.store, length);
    if (FinishRemoteTarget(destination, copied))
        return true;
    return TakeDirectRetry() && UploadLocal(localPath, remotePath, target);
}

bool core::Transfer::CopyFtpToLocal(const QString& remotePath, const QString& localPath) {
    PaneReady pane(*this);
    ShowLine(core::StatusLine::Activity, kRetrieving);
    ShowLine(core::StatusLine::From, RemoteName(remotePath));
    ShowLine(core::StatusLine::To, localPath);
    ShowTransferControls();
    if (!Remote()) {
        ReportCopyError();
        return false;
    }
    // A folder, a pipe or a device of that name is never written into or replaced.
    const localfile::Kind existing = localfile::KindOf(localPath, false);
    if (existing != localfile::Kind::Missing && existing != localfile::Kind::Regular &&
        existing != localfile::Kind::Link) {
        ReportCopyError();
        return false;
    }
    std::uint64_t length = 0;
    std::optional<std::uint64_t> exact;
    // The entry of a file worth resuming, to tell at a resume that it has not
    // changed; a small file simply starts over.
    std::optional<RemoteEntry> stamp;
    RemoteIn remote;
    try {
        // SIZE is exact and costs no data connection; a listed size may be rounded,
        // so it only drives the progress.
        exact = ServerSize(remotePath);
        if (!exact || *exact >= kResumeFloor)
            stamp = ListedEntry(remotePath);
        if (exact)
            length = *exact;
        else if (stamp)
            length = stamp->size;
        // The server must deliver the file before anything local is made.
        remote.reset(Remote()->OpenRead(remotePath, 0).release());
    } catch (const std::exception& error) {
        ReportCopyError(error);
        return false;
    }
    // The data goes to a file beside the target, new name or not, and takes the
    // target's name only once it is whole: a part under the real name would look
    // like the whole file, and an old file stays as it was until then.
    LocalFile local;
    if (!local.OpenTempBeside(localPath)) {
        ReportCopyError();
        return false;
    }
    std::uint64_t start = 0;
    bool copied = false;
    bool askStart = false; // as an upload's
    for (int attempt = 0;;) {
        if (!remote) {
            copied = false; // what a try before the break copied is not whole
            try {
                if (askStart) {
                    start = DownloadResumePoint(remotePath, stamp, local);
                    askStart = false;
                }
                remote.reset(Remote()->OpenRead(remotePath, start).release());
            } catch (const RemoteError& error) {
                if (error.kind() == RemoteError::Kind::NoResume && start > 0) {
                    start = 0; // the server will not go on: the file starts over
                    local.ContinueAt(0, true);
                    continue;
                }
                if (!m_cancel && IsResumable(error)) {
                    m_lastBreak = error.words();
                    if (!WaitToResume(++attempt, local.Length(), length))
                        break;
                    continue;
                }
                ReportCopyError(error);
                break;
            }
        }
        bool broken = false;
        RemoteSource source(*remote);
        LocalFileSink sink(local);
        copied = RunBlockLoop(length, source, sink, LengthRule::ToEndOfData, start, &broken);
        if (!broken && !CloseOrBreak(copied, *remote))
            break;
        remote.reset();
        if (!WaitToResume(++attempt, local.Length(), length))
            break;
        askStart = true;
    }
    return CommitDownload(local, localPath, copied, local.Length(), exact);
}

template <typename File>
bool core::Transfer::CloseOrBreak(bool& copied, File& file) {
    if (!copied) {
        file.Abandon();
        return false;
    }
    // The final reply tells whether the server kept or sent it all; one lost
    // with the connection is a break like any other.
    try {
        file.Close();
        return false;
    } catch (const std::exception& error) {
        if (!m_cancel && IsResumable(error)) {
            m_lastBreak = QString::fromLocal8Bit(error.what());
            return true;
        }
        ReportCopyError(error);
        copied = false;
        return false;
    }
}

template bool core::Transfer::CloseOrBreak(bool&, RemoteReader&);
template bool core::Transfer::CloseOrBreak(bool&, RemoteWriter&);

std::uint64_t core::Transfer::DownloadResumePoint(const QString& remotePath,
                                                  const std::optional<RemoteEntry>& stamp,
                                                  LocalFile& local) {
    // Only whole blocks are kept, and only of a source that is as it was.
    const std::uint64_t have = local.Length() / progress::kBlockSize * progress::kBlockSize;
    bool same = false;
    if (stamp && have > 0) {
        try {
            const auto now = Remote()->Stat(remotePath);
            same = now && now->size == stamp->size && now->lastWriteTime == stamp->lastWriteTime &&
                   now->unique == stamp->unique;
        } catch (const RemoteError& error) {
            // A server still away is waited for, not taken for a changed source.
            if (error.kind() == RemoteError::Kind::Cancelled || IsResumable(error))
                throw;
        } catch (const std::exception&) {
            same = false;
        }
    }
    const std::uint64_t at = same ? have : 0;
    local.ContinueAt(at, true);
    return at;
}

std::uint64_t core::Transfer::UploadResumePoint(const RemoteTarget& target, LocalFile& local,
                                                std::pair<std::uint64_t, std::int64_t> stamp,
                                                std::uint64_t length) {
    // The server's count of what it stored, in whole blocks; a source that
    // changed meanwhile, or a file under its final name, starts over.
    std::uint64_t at = 0;
    if (target.viaTemp && local.Stamp() == stamp)
        if (const auto stored = ServerSize(target.store))
            at = std::min(*stored, length) / progress::kBlockSize * progress::kBlockSize;
    local.ContinueAt(at, false);
    return at;
}

bool core::Transfer::WaitToResume(int attempt, std::uint64_t copied, std::uint64_t length) {
    if (m_cancel) {
        ShowCancelled();
        return false;
    }
    if (attempt > kResumeTries) {
        Fail({TransferError::Kind::ResumeGaveUp,
              {},
              {},
              QStringLiteral("The connection broke %1 times (%2). %3 of %4 bytes had been "
                             "copied; the copy was not put in place, and any file of that name "
                             "is as it was.")
                  .arg(kResumeTries + 1)
                  .arg(m_lastBreak)
                  .arg(copied)
                  .arg(length)});
        return false;
    }
    ShowLine(core::StatusLine::Activity,
             QStringLiteral("Reconnecting (%1 of %2)").arg(attempt).arg(kResumeTries));
    // 1, 2, 4, 8 and 16 seconds: a server that restarts gets the time to.
    if (!ftp::PauseUnlessStopped(std::chrono::seconds(1 << (attempt - 1))) || m_cancel) {
        ShowCancelled();
        return false;
    }
    return true;
}
