#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Parallel.h"
#include "Transfer.h"

namespace core {

class ParallelBatch;

// What one worker of a batch shows: its file's lines go on to the batch's own
// view, its messages are kept for the batch to tell, the status bar is the
// batch's to write.
class WorkerView : public TransferView {
public:
    WorkerView(ParallelBatch& batch, int slot, bool showsProgress)
        : m_batch(batch), m_slot(slot), m_showsProgress(showsProgress) {}
    void SetItem(int item) { m_item = item; }

    void ShowLine(StatusLine line, const QString& text) override;
    void ShowStatus(const QString& /*text*/) override {}
    void ShowConnectStep(const QString& /*text*/) override {}
    void ShowProgress(int position) override;
    void RevealTransferControls() override;
    void Failed(const TransferError& error) override;
    CertificateAnswer AskAboutCertificate(const CertificateVerdict& verdict) override;
    bool ShowsProgress() const override { return m_showsProgress; }
    bool StartingUp() const override { return false; }
    bool WatchesBlocks() const override;
    void BlockFinished(const BlockReport& report) override;

private:
    ParallelBatch& m_batch;
    const int m_slot;
    const bool m_showsProgress;
    std::atomic<int> m_item{-1};
};

// The files of one batch, copied by up to the site's number of transfers at
// once. Each worker is a Transfer of its own on a thread of its own, with a
// connection of its own: the main one for the first, further ones from the
// site for the rest. A server that refuses a further connection leaves the
// batch with the workers it has.
//
// What the workers would tell the user is kept per file and told once all have
// stopped, in the files' order, up to the first file that failed: the same
// messages a copy one file at a time would have shown. The first failure stops
// every other worker, as Cancel does.
class ParallelBatch {
public:
    ParallelBatch(Transfer& owner, const std::vector<BatchFile>& files,
                  const std::function<bool()>& first);
    ~ParallelBatch();
    ParallelBatch(const ParallelBatch&) = delete;
    ParallelBatch& operator=(const ParallelBatch&) = delete;

    bool Run();

    // The workers' views report here, on the interface thread.
    void Told(int item, const TransferError& error);
    void WorkerLine(int slot, StatusLine line, const QString& text);
    TransferView& OwnerView() { return m_owner.m_view; }
    // The blocks of every worker reach a watcher one at a time, on the copying threads.
    bool WatchesBlocks() const { return m_watchesBlocks; }
    // The user's Cancel, passed on to every worker; asked after each block.
    void LookAtCancel() {
        if (m_owner.m_cancel && !m_cancelled.exchange(true))
            StopAll();
    }
    void BlockFinished(const BlockReport& report);

private:
    using Clock = std::chrono::steady_clock;
    struct Worker;
    struct Outcome {
        std::vector<TransferError> told;
        bool copied = false;
        bool ended = false;
    };

    int WorkerCount() const;
    void Work(Worker& worker);
    bool OpenPool(Worker& worker);
    bool CopyOne(Transfer& transfer, const BatchFile& file);
    void WaitForWorkers();
    // Stops every worker on a file past item.
    void StopAfter(int item);
    // Stops every worker, and nothing more starts.
    void StopAll();
    void AllOpened();
    void OneOpened();
    // A file's copy failed: the workers on later files stop.
    void Failed(int item);
    void NoteConnections();
    bool Tell();

    // The window's lines for the batch as a whole (ParallelView.cpp); on the
    // interface thread.
    void Started(int slot, int item);
    void Ended(int slot, int item, bool copied);
    void ShowTotals(bool now);

    Transfer& m_owner;
    const std::vector<BatchFile>& m_files;
    const std::function<bool()>& m_first;
    std::vector<Outcome> m_outcomes;
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::atomic<bool> m_cancelled{false};
    // The first file in the batch's order that failed so far; none: the count.
    std::atomic<int> m_failedAt{0};
    std::atomic<int> m_next{0};
    std::atomic<int> m_standing{1}; // connections held now, the main one counted
    std::atomic<int> m_peak{1};
    std::atomic<bool> m_refused{false};
    bool m_watchesBlocks = false;
    std::mutex m_blockMutex;
    std::mutex m_mutex;
    std::condition_variable m_workerEnded;
    int m_running = 0;
    int m_opening = 0;

    // The totals, kept on the interface thread.
    Clock::time_point m_start;
    Clock::time_point m_lastTotals;
    std::vector<std::uint64_t> m_sizes;
    std::vector<int> m_slotItem;
    std::vector<std::uint64_t> m_slotCopied;
    std::uint64_t m_doneBytes = 0;
    int m_doneFiles = 0;
};

} // namespace core
