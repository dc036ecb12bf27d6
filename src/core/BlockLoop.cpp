// The block loop that every single-file copy shares. Progress, the texts and
// cancellation count in blocks of 1000 bytes, but the data moves through one
// large buffer: a transfer runs at the speed of the network and the disk, not at
// the speed of a thousand-byte system call.
#include "BlockLoop.h"

#include <algorithm>
#include <cstring>

#include "FtpSite.h"
#include "RemoteSite.h"
#include "Interrupt.h"
#include "Job.h"
#include "LocalFile.h"
#include "ProgressText.h"
#include "Transfer.h"

namespace {
constexpr std::size_t kBufferSize = 4 * 1024 * 1024;
constexpr std::size_t kReadChunk = 1024 * 1024;
// Widgets are written and waiting events let through at most this often; the
// cancel flag itself is looked at after every block.
constexpr auto kRefreshInterval = std::chrono::milliseconds(50);
constexpr std::size_t kBlock = progress::kBlockSize;
} // namespace

std::size_t RemoteSource::Read(char* buffer, std::size_t count) {
    const std::size_t got = m_file.Read(buffer, count);
    m_received += got;
    return got;
}

void RemoteSink::Write(const char* buffer, std::size_t count) {
    if (count > 0)
        m_file.Write(buffer, count);
}

std::size_t LocalFileSource::Read(char* buffer, std::size_t count) {
    return m_file.Read(buffer, count);
}

void LocalFileSink::Write(const char* buffer, std::size_t count) {
    if (count > 0)
        m_file.Write(buffer, count);
}

BlockReport core::Transfer::MakeReport() const {
    const std::uint64_t copied = (m_lastBlock + 1) * kBlock;
    // The rate and the time left come from the exact time taken: divided by
    // whole seconds, the rate reads 0 for all of the first second.
    const auto exact = std::chrono::duration_cast<std::chrono::nanoseconds>(m_lastElapsedExact);
    return BlockReport{m_lastBlock,
                       progress::BytesCopied(copied, m_lastLength),
                       progress::BytesPerSecond(copied, exact),
                       progress::Elapsed(m_lastElapsed),
                       progress::TimeLeft(copied, m_lastLength, exact),
                       progress::Position(m_lastBlock, m_lastLength)};
}

void core::Transfer::FlushProgress() {
    if (!m_progressPending)
        return;
    m_progressPending = false;
    if (!m_view.ShowsProgress())
        return;
    Post([this, report = MakeReport()] {
        m_view.ShowLine(core::StatusLine::Copied, report.bytesCopied);
        m_view.ShowLine(core::StatusLine::Rate, report.bytesPerSecond);
        m_view.ShowLine(core::StatusLine::Time, report.elapsed);
        m_view.ShowLine(core::StatusLine::TimeLeft, report.timeLeft);
        m_view.ShowProgress(report.position);
    });
}

bool core::Transfer::BlockDone(std::uint64_t blockIndex, std::uint64_t length) {
    const auto now = Clock::now();
    m_lastBlock = blockIndex;
    m_lastLength = length;
    m_lastElapsedExact = now - m_fileStart;
    m_lastElapsed = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(m_lastElapsedExact).count());
    m_progressPending = true;
    if (m_view.WatchesBlocks())
        m_view.BlockFinished(MakeReport());
    if (now - m_lastPump >= kRefreshInterval) {
        FlushProgress();
        m_lastPump = now;
    }
    return PollCancel(now);
}

// The cancel check of the copies, after every block. A copy runs as a job: the
// interface thread handles its own events, a press on Cancel among them.
bool core::Transfer::PollCancel(Clock::time_point /*now*/) {
    if (m_cancel) {
        FlushProgress();
        ShowCancelled();
        return false;
    }
    return true;
}

bool core::Transfer::IsResumable(const std::exception& error) {
    const auto* remote = dynamic_cast<const RemoteError*>(&error);
    if (!remote)
        return false;
    switch (remote->kind()) {
    case RemoteError::Kind::Lost:
    case RemoteError::Kind::Broken:
    case RemoteError::Kind::TimedOut:
        return true;
    case RemoteError::Kind::Refused:
        // A transient reply (4xx) in the middle of a file; a 5xx is the server's no.
        return remote->words().startsWith(QLatin1Char('4'));
    case RemoteError::Kind::Cancelled:
    case RemoteError::Kind::NoResume:
        break;
    }
    return false;
}

// Copies source to sink. With LengthRule::Exact exactly length bytes are taken
// from the source (a source that ends sooner is an error); with ToEndOfData
// everything the source delivers is copied, and length only drives the texts.
// Every failure is reported here; false means the copy failed or was cancelled,
// and the sink's data is then a part that the caller throws away.
bool core::Transfer::RunBlockLoop(std::uint64_t length, TransferSource& source, TransferSink& sink,
                                  LengthRule rule, std::uint64_t start, bool* broken) {
    ShowLine(core::StatusLine::Activity, QStringLiteral("Transferring Data"));
    // A resumed copy keeps its file's clock: the rate and the time are the file's.
    if (start == 0)
        m_fileStart = Clock::now();
    m_progressPending = false;
    if (m_buffer.size() != kBufferSize)
        m_buffer.resize(kBufferSize);
    char* const buffer = m_buffer.data();
    const std::uint64_t listedBlocks = length / kBlock;
    // A resume starts at a block boundary.
    std::uint64_t block = start / kBlock;
    std::uint64_t received = start;
    std::size_t filled = 0; // bytes in the buffer
    std::size_t done = 0;   // of those, the bytes of finished blocks not yet written
    bool ended = false;
    bool cancelled = false;
    // A remote sink takes what came at once: where a copy between two servers
    // breaks, the destination then holds all that had arrived, to resume from.
    const bool streams = dynamic_cast<RemoteSink*>(&sink) != nullptr;
    try {
        for (;;) {
            while (filled - done >= kBlock &&
                   !(rule == LengthRule::Exact && block >= listedBlocks)) {
                done += kBlock;
                if (!BlockDone(block++, length)) {
                    cancelled = true;
                    break;
                }
            }
            if (cancelled || ended)
                break;
            if (kBufferSize - filled < kReadChunk || (streams && done > 0)) {
                sink.Write(buffer, done);
                std::memmove(buffer, buffer + done, filled - done);
                filled -= done;
                done = 0;
            }
            std::size_t want = std::min(kReadChunk, kBufferSize - filled);
            if (rule == LengthRule::Exact)
                want = static_cast<std::size_t>(std::min<std::uint64_t>(want, length - received));
            if (want == 0) {
                ended = true;
                continue;
            }
            const std::size_t n = source.Read(buffer + filled, want);
            if (n == 0) {
                if (rule == LengthRule::Exact)
                    throw TransferCutShort();
                ended = true;
                continue;
            }
            filled += n;
            received += n;
        }
        // Nothing more is written after Cancel: the copy's part is thrown away.
        if (!cancelled)
            sink.Write(buffer, done);
    } catch (const std::exception& error) {
        FlushProgress();
        // A connection that broke is the caller's to mend, not yet the user's news.
        if (broken && !m_cancel && IsResumable(error)) {
            *broken = true;
            m_lastBreak = QString::fromLocal8Bit(error.what());
            // What arrived before the break is kept on the local disk, for the
            // resume to go on from; a remote sink that broke gets nothing more.
            if (dynamic_cast<LocalFileSink*>(&sink))
                try {
                    sink.Write(buffer, filled);
                } catch (const std::exception&) {
                    // The resume finds the part as it is and starts from its blocks.
                }
            return false;
        }
        ReportCopyError(error);
        return false;
    }
    FlushProgress();
    if (cancelled)
        return false; // already shown, once
    if (!PollCancel(Clock::now()))
        return false;
    try {
        sink.Write(buffer + done, filled - done);
    } catch (const std::exception& error) {
        ReportCopyError(error);
        return false;
    }
    return true;
}
