// Copying one file from one place on the server to another: the main (or the
// worker's own) connection stores it, a second connection reads it, and the
// data passes through. A connection that drops on either side is resumed as a
// download and an upload are: both sides go on from the whole blocks the
// destination's temporary file holds (SIZE), the source from there with REST,
// the destination with REST and STOR, for a source that has not changed.
#include "BlockLoop.h"
#include "CopyGuards.h"
#include "ProgressText.h"
#include "RemoteSite.h"
#include "Transfer.h"

using copyguards::kRetrieving;
using copyguards::PaneReady;
using copyguards::RemoteIn;
using copyguards::RemoteOut;

namespace {
bool Unchanged(const std::optional<core::RemoteEntry>& now, const core::RemoteEntry& then) {
    return now && now->size == then.size && now->lastWriteTime == then.lastWriteTime &&
           now->unique == then.unique;
}
} // namespace

bool core::Transfer::CopyFtpToFtp(const QString& sourcePath, const QString& destinationPath) {
    return CopyRemoteFile(sourcePath, destinationPath, Target::MayExist);
}

bool core::Transfer::CopyRemoteFile(const QString& sourcePath, const QString& destinationPath,
                                    Target target) {
    PaneReady pane(*this);
    ShowLine(core::StatusLine::Operation,
             QStringLiteral("Copying files from FTP Server to FTP Server - Please Wait"));
    ShowLine(core::StatusLine::Activity, kRetrieving);
    ShowTransferControls();
    ShowLine(core::StatusLine::From, RemoteName(sourcePath));
    ShowLine(core::StatusLine::To, RemoteName(destinationPath));
    if (!Remote()) {
        ReportCopyError();
        return false;
    }
    std::optional<std::uint64_t> exact;
    std::optional<std::uint64_t> listed;
    // The source's entry, for a file worth resuming: a resume goes on only while
    // the source is as it was.
    std::optional<RemoteEntry> stamp;
    RemoteTarget store;
    std::unique_ptr<RemoteConnection> second;
    RemoteIn source;
    RemoteOut destination;
    try {
        exact = ServerSize(sourcePath);
        listed = exact;
        if (!exact || *exact >= kResumeFloor)
            stamp = ListedEntry(sourcePath);
        if (!listed && stamp)
            listed = stamp->size;
        store = PlanRemoteTarget(destinationPath, target);
        // The main connection carries the destination; the source needs its own.
        auto openSource = [&] {
            second = OpenExtraConnection();
            source.reset(second->OpenRead(sourcePath, 0).release());
        };
        // A source the server knows nothing of may not exist: it is opened before
        // the destination is made. A known one, and its connection, come last, once
        // the destination's data connection stands: some single-process servers
        // stall a connection that logs in, or a download that runs, while they
        // connect out for the upload.
        if (!listed)
            openSource();
        destination.reset(OpenStore(store).release());
        if (listed)
            openSource();
    } catch (const std::exception& error) {
        const bool stored = destination != nullptr;
        destination.reset();
        ReportCopyError(error);
        if (stored) // a store under the final name is always a new one
            RemoveUnfinished(store.store);
        return false;
    }
    const std::uint64_t length = listed.value_or(0);
    // Whole blocks that the destination holds of a source that has not changed;
    // 0 (start over) for anything else, and for a file under its final name.
    auto resumePoint = [&](std::uint64_t received) -> std::uint64_t {
        if (!store.viaTemp || !stamp)
            return 0;
        std::optional<std::uint64_t> stored;
        try {
            if (!Unchanged(Remote()->Stat(sourcePath), *stamp))
                return 0;
            stored = ServerSize(store.store);
        } catch (const std::exception&) {
            return 0; // a server that broke again: the next open finds out
        }
        return stored ? std::min(*stored, received) / progress::kBlockSize * progress::kBlockSize
                      : 0;
    };
    std::uint64_t start = 0;
    std::uint64_t received = 0;
    bool copied = false;
    for (int attempt = 0;;) {
        if (!destination) {
            copied = false; // what a try before the break copied is not whole
            try {
                const WriteStart from = start > 0 ? WriteStart::AtOffset : WriteStart::Fresh;
                destination.reset(Remote()->OpenWrite(store.store, from, start).release());
                source.reset(second->OpenRead(sourcePath, start).release());
            } catch (const RemoteError& error) {
                destination.reset();
                source.reset();
                if (error.kind() == RemoteError::Kind::NoResume && start > 0) {
                    start = 0; // a side will not go on: the file starts over
                    continue;
                }
                if (!m_cancel && IsResumable(error)) {
                    m_lastBreak = error.words();
                    if (!WaitToResume(++attempt, std::max(start, received), length))
                        break;
                    start = resumePoint(start);
                    continue;
                }
                ReportCopyError(error);
                break;
            }
        }
        bool broken = false;
        RemoteSource from(*source);
        RemoteSink to(*destination);
        copied = RunBlockLoop(length, from, to, LengthRule::ToEndOfData, start, &broken);
        received = start + from.Received();
        // The destination first: its final reply says whether the server kept the data.
        if (!broken && !CloseOrBreak(copied, *destination) && !CloseOrBreak(copied, *source))
            break;
        // What reached the destination is kept for the resume: it is closed, not
        // abandoned (a side that broke fails its close at once).
        if (broken && destination)
            try {
                destination->Close();
            } catch (const std::exception&) {
            }
        destination.reset();
        source.reset();
        if (!WaitToResume(++attempt, received, length)) {
            copied = false;
            break;
        }
        start = resumePoint(received);
    }
    copied = copied && ArrivedWhole(received, exact) && StoredWhole(store.store, received);
    if (FinishRemoteTarget(store, copied))
        return true;
    destination.reset();
    source.reset();
    second.reset();
    return TakeDirectRetry() && CopyRemoteFile(sourcePath, destinationPath, target);
}
