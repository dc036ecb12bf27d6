// Several files at once: the workers, their connections and how a batch ends.
#include "ParallelBatch.h"

#include <algorithm>

#include "FtpConnection.h"
#include "FtpSite.h"
#include "Interrupt.h"
#include "Job.h"
#include "RemoteSite.h"

namespace {
// How long a worker's connections may take to say goodbye once it is done.
constexpr std::chrono::milliseconds kGoodbyeGrace{1000};
// How often the batch looks at the user's Cancel while its workers run.
constexpr std::chrono::milliseconds kCancelLook{20};
} // namespace

namespace core {

struct ParallelBatch::Worker {
    int slot = 0;
    std::atomic<int> item{-1}; // the file it copies
    std::atomic<int> stop{0};  // its transfer's stop request
    std::unique_ptr<WorkerView> view;
    std::unique_ptr<Transfer> transfer;
    std::unique_ptr<RemoteConnection> own;    // none: the first worker on the main one
    std::unique_ptr<RemoteConnection> source; // a copy between two places on the server
    std::thread thread;
};

bool Transfer::CopyBatch(const std::vector<BatchFile>& files, const std::function<bool()>& first) {
    if (files.empty())
        return !first || first();
    ParallelBatch batch(*this, files, first);
    return batch.Run();
}

ParallelBatch::ParallelBatch(Transfer& owner, const std::vector<BatchFile>& files,
                             const std::function<bool()>& first)
    : m_owner(owner), m_files(files), m_first(first), m_outcomes(files.size()) {}

ParallelBatch::~ParallelBatch() = default;

int ParallelBatch::WorkerCount() const {
    FtpSite* site = m_owner.m_site;
    const int wanted = site ? site->Transfers() : 1;
    // A copy between two places on the server holds two connections per worker.
    const int perWorker = m_files.front().way == BatchFile::Way::BetweenRemotes ? 2 : 1;
    const int limit = site ? site->ConnectionLimit() : 0;
    // The main connection stays open beside the workers'.
    const int allowed = limit > 0 ? std::max(1, (limit - 1) / perWorker) : wanted;
    return std::max(1, std::min({wanted, allowed, static_cast<int>(m_files.size())}));
}

bool ParallelBatch::Run() {
    const int count = WorkerCount();
    const bool showsProgress = m_owner.m_view.ShowsProgress();
    m_watchesBlocks = m_owner.m_view.WatchesBlocks();
    m_owner.ShowStatus(QStringLiteral("Copying Files - Please Wait"));
    m_owner.Call([this, count] {
        m_start = Clock::now();
        m_sizes.clear();
        for (const BatchFile& file : m_files)
            m_sizes.push_back(file.size);
        m_slotItem.assign(count, -1);
        m_slotCopied.assign(count, 0);
        ShowTotals(true);
    });
    for (int slot = 0; slot < count; ++slot) {
        auto worker = std::make_unique<Worker>();
        worker->slot = slot;
        worker->view = std::make_unique<WorkerView>(*this, slot, showsProgress);
        worker->transfer = std::make_unique<Transfer>(m_owner.m_site, *worker->view, worker->stop);
        m_workers.push_back(std::move(worker));
    }
    m_running = count;
    m_opening = count + 1; // the first step counts as one more
    m_failedAt = static_cast<int>(m_files.size());
    for (auto& worker : m_workers)
        worker->thread = std::thread([this, w = worker.get()] { Work(*w); });
    const bool firstDone = !m_first || m_first();
    if (!firstDone)
        StopAll();
    OneOpened();
    WaitForWorkers();
    NoteConnections();
    // Whatever the workers posted is shown first; their transfers go on the
    // interface thread, where nothing of theirs can still be running.
    m_owner.Call([this] {
        ShowTotals(true);
        m_workers.clear();
    });
    // A first step that failed has told why.
    const bool copied = firstDone && Tell();
    m_owner.ShowStatus(QStringLiteral("Ready"));
    return copied;
}

void ParallelBatch::OneOpened() {
    std::lock_guard lock(m_mutex);
    if (--m_opening == 0)
        m_workerEnded.notify_all();
}

void ParallelBatch::AllOpened() {
    OneOpened();
    std::unique_lock lock(m_mutex);
    while (m_opening > 0 && !m_cancelled)
        m_workerEnded.wait_for(lock, kCancelLook);
}

void ParallelBatch::Failed(int item) {
    int first = m_failedAt;
    while (item < first && !m_failedAt.compare_exchange_weak(first, item)) {
    }
    StopAfter(m_failedAt);
}

void ParallelBatch::StopAfter(int item) {
    for (auto& worker : m_workers)
        if (worker->item > item)
            worker->stop = 1;
}

void ParallelBatch::StopAll() {
    m_failedAt = -1; // no file starts from now on
    for (auto& worker : m_workers)
        worker->stop = 1;
}

void ParallelBatch::WaitForWorkers() {
    std::unique_lock lock(m_mutex);
    while (m_running > 0) {
        m_workerEnded.wait_for(lock, kCancelLook);
        LookAtCancel();
    }
    lock.unlock();
    for (auto& worker : m_workers)
        worker->thread.join();
}

void ParallelBatch::Work(Worker& worker) {
    {
        ftp::InterruptScope scope(&worker.stop);
        const bool pooled = OpenPool(worker);
        // No copy starts while a login is under way: a single-process server may
        // hold a login back while it serves a transfer, or the other way round.
        AllOpened();
        if (pooled) {
            for (;;) {
                const int item = m_next.fetch_add(1);
                worker.item = item;
                // Past the first failure nothing new starts; the files before it
                // go on, as they would have been copied one at a time.
                if (item >= m_failedAt || worker.stop)
                    break;
                worker.view->SetItem(item);
                m_owner.Post([this, slot = worker.slot, item] { Started(slot, item); });
                const bool copied = CopyOne(*worker.transfer, m_files[item]);
                m_outcomes[item].copied = copied;
                m_outcomes[item].ended = true;
                m_owner.Post(
                    [this, slot = worker.slot, item, copied] { Ended(slot, item, copied); });
                if (!copied) {
                    // A worker that was stopped was cut short, it did not fail.
                    if (!worker.stop)
                        Failed(item);
                    break;
                }
            }
        }
        worker.transfer->UseConnection(nullptr);
        worker.transfer->UseSourceConnection(nullptr);
    }
    {
        // Out of the stop request: a goodbye the server answers at once is said.
        ftp::InterruptScope grace(kGoodbyeGrace);
        m_standing -= (worker.own ? 1 : 0) + (worker.source ? 1 : 0);
        worker.source.reset();
        worker.own.reset();
    }
    std::lock_guard lock(m_mutex);
    --m_running;
    m_workerEnded.notify_all();
}

// Each worker opens a connection of its own; the main one, which may make its
// data connections the other way, serves the first only where the server
// refuses another. A refusal (the server's limit, a 421 or 530, a connection
// closed at once) only leaves that worker out; a copy between remotes falls
// back to a connection per file.
bool ParallelBatch::OpenPool(Worker& worker) {
    const bool betweenRemotes = m_files.front().way == BatchFile::Way::BetweenRemotes;
    auto open = [&](std::unique_ptr<RemoteConnection>& into) {
        try {
            into = m_owner.m_site->OpenPoolConnection();
        } catch (const std::exception&) {
            if (!worker.stop)
                m_refused = true;
            return false;
        }
        const int standing = ++m_standing;
        for (int peak = m_peak; standing > peak && !m_peak.compare_exchange_weak(peak, standing);) {
        }
        return true;
    };
    if (!m_owner.m_site)
        return worker.slot == 0;
    // Alone, a worker needs no connection beside the main one for one file, nor
    // beside a main one that takes its data passively, nor where the server
    // limits connections (one just closed may still count). For several, an
    // active main one costs each file a round trip (PORT) that a passive pool
    // connection saves: one login buys that back after a few files.
    const CFtpConnection* main = m_owner.m_site->Connection();
    const bool alone = m_workers.size() == 1 &&
                       (m_files.size() == 1 || !main || main->IsPassive() ||
                        m_owner.m_site->ConnectionLimit() > 0);
    if (!alone && open(worker.own))
        worker.transfer->UseConnection(worker.own.get());
    else if (worker.slot > 0)
        return false;
    if (!betweenRemotes)
        return true;
    if (open(worker.source)) {
        worker.transfer->UseSourceConnection(worker.source.get());
    } else if (worker.slot > 0) {
        return false;
    } else if (worker.own) {
        // Two connections in all: the main one takes the data in.
        worker.source = std::move(worker.own);
        worker.transfer->UseConnection(nullptr);
        worker.transfer->UseSourceConnection(worker.source.get());
    }
    return true;
}

bool ParallelBatch::CopyOne(Transfer& transfer, const BatchFile& file) {
    const Transfer::Target target =
        file.fresh ? Transfer::Target::Fresh : Transfer::Target::MayExist;
    // What the scan listed exactly is not asked again.
    transfer.m_listedPath = file.source;
    transfer.m_listedSize.reset();
    if (file.sizeExact && file.way != BatchFile::Way::Upload)
        transfer.m_listedSize = file.size;
    switch (file.way) {
    case BatchFile::Way::Upload:
        return transfer.UploadLocal(file.source, file.destination, target);
    case BatchFile::Way::Download:
        return transfer.CopyFtpToLocal(file.source, file.destination);
    case BatchFile::Way::BetweenRemotes:
        return transfer.CopyRemoteFile(file.source, file.destination, target);
    }
    return false;
}

void ParallelBatch::NoteConnections() {
    if (m_refused && m_owner.m_site)
        m_owner.m_site->NoteConnectionLimit(m_peak);
}

// What a copy one file at a time would have shown: the messages of the files
// before the first that failed, then that file's; a Cancel once. The files the
// stop cut short were cancelled by it, and say nothing.
bool ParallelBatch::Tell() {
    auto real = [](const TransferError& error) {
        return error.kind != TransferError::Kind::Cancelled;
    };
    bool copied = true;
    for (const Outcome& outcome : m_outcomes) {
        const bool failed = outcome.ended && !outcome.copied &&
                            std::any_of(outcome.told.begin(), outcome.told.end(), real);
        for (const TransferError& error : outcome.told)
            if (real(error))
                m_owner.Fail(error);
        if (failed)
            return false;
        copied = copied && outcome.copied;
    }
    if (copied)
        return true;
    if (m_owner.m_cancel)
        m_owner.ShowCancelled();
    return false;
}

void ParallelBatch::Told(int item, const TransferError& error) {
    if (item >= 0 && item < static_cast<int>(m_outcomes.size()))
        m_outcomes[item].told.push_back(error);
}

} // namespace core
