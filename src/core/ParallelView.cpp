// What the status window shows of a batch: each worker's file lines as they
// come, and the batch as a whole (files and bytes of all, the rate and the time
// left of all, the files under way). All of it on the interface thread.
#include "ParallelBatch.h"

#include "ProgressText.h"
#include "TransferPaths.h"

namespace {
// The totals are written at most this often while files are under way.
constexpr std::chrono::milliseconds kTotalsInterval{100};

// The bytes done of a file's "Bytes Copied:" line, "2000 of 2500".
std::uint64_t CopiedOf(const QString& text, std::uint64_t* total) {
    const qsizetype of = text.indexOf(QStringLiteral(" of "));
    if (of < 0)
        return 0;
    *total = text.mid(of + 4).toULongLong();
    return text.left(of).toULongLong();
}
} // namespace

namespace core {

void WorkerView::ShowLine(StatusLine line, const QString& text) {
    m_batch.WorkerLine(m_slot, line, text);
}

void WorkerView::ShowProgress(int position) {
    m_batch.OwnerView().ShowProgress(position);
}

void WorkerView::RevealTransferControls() {
    m_batch.OwnerView().RevealTransferControls();
}

void WorkerView::Failed(const TransferError& error) {
    m_batch.Told(m_item, error);
}

CertificateAnswer WorkerView::AskAboutCertificate(const CertificateVerdict& verdict) {
    return m_batch.OwnerView().AskAboutCertificate(verdict);
}

// Asked on the copying thread after every block, before the stop request is
// looked at: a Cancel reaches the block that follows it, not the batch's next
// look a moment later, when a small file may be whole already.
bool WorkerView::WatchesBlocks() const {
    m_batch.LookAtCancel();
    return m_batch.WatchesBlocks();
}

void WorkerView::BlockFinished(const BlockReport& report) {
    m_batch.BlockFinished(report);
}

void ParallelBatch::BlockFinished(const BlockReport& report) {
    std::lock_guard lock(m_blockMutex);
    OwnerView().BlockFinished(report);
}

void ParallelBatch::WorkerLine(int slot, StatusLine line, const QString& text) {
    OwnerView().ShowLine(line, text);
    if (line != StatusLine::Copied || slot >= static_cast<int>(m_slotItem.size()))
        return;
    const int item = m_slotItem[slot];
    std::uint64_t total = 0;
    const std::uint64_t copied = CopiedOf(text, &total);
    // A file whose size the scan did not give is counted at the size its copy
    // learnt; a block may run past the end of the file.
    if (item >= 0 && m_sizes[item] == 0)
        m_sizes[item] = total;
    m_slotCopied[slot] = item >= 0 ? std::min(copied, m_sizes[item]) : 0;
    ShowTotals(false);
}

void ParallelBatch::Started(int slot, int item) {
    m_slotItem[slot] = item;
    m_slotCopied[slot] = 0;
    ShowTotals(true);
}

void ParallelBatch::Ended(int slot, int item, bool copied) {
    m_slotItem[slot] = -1;
    m_slotCopied[slot] = 0;
    if (copied) {
        ++m_doneFiles;
        m_doneBytes += m_sizes[item];
    }
    ShowTotals(false);
}

void ParallelBatch::ShowTotals(bool now) {
    const auto at = Clock::now();
    if (!now && at - m_lastTotals < kTotalsInterval &&
        m_doneFiles < static_cast<int>(m_files.size()))
        return;
    m_lastTotals = at;
    std::uint64_t total = 0;
    for (std::uint64_t size : m_sizes)
        total += size;
    std::uint64_t done = m_doneBytes;
    QStringList inFlight;
    for (std::size_t slot = 0; slot < m_slotItem.size(); ++slot) {
        if (m_slotItem[slot] < 0)
            continue;
        done += m_slotCopied[slot];
        inFlight << transferpaths::NameOf(m_files[m_slotItem[slot]].source);
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(at - m_start);
    TransferView& view = OwnerView();
    view.ShowLine(StatusLine::Files, progress::BytesCopied(m_doneFiles, m_files.size()));
    view.ShowLine(StatusLine::Bytes, progress::BytesCopied(done, total));
    view.ShowLine(StatusLine::TotalRate, progress::BytesPerSecond(done, elapsed));
    view.ShowLine(StatusLine::TotalTimeLeft, progress::TimeLeft(done, total, elapsed));
    view.ShowLine(StatusLine::InFlight, inFlight.join(QStringLiteral(", ")));
}

} // namespace core
