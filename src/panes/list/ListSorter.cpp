#include "ListSorter.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <algorithm>
#include <numeric>

#include "ListModel.h"

namespace {
// The lists' own workers: a sort of a huge folder may take a second, and must
// not hold up the threads that others wait on.
QThreadPool* Pool() {
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setMaxThreadCount(2); // one per list pane
    }
    return pool;
}

// Data goes to a worker through the pool's queue and comes back through a
// posted event, both Qt's own, which a thread checker cannot see into; a pass
// through this mutex on each side makes every hand-over one it can see.
std::mutex& HandOverMutex() {
    static std::mutex mutex;
    return mutex;
}

void HandOver() {
    std::lock_guard lock(HandOverMutex());
}

void OnWorker(std::function<void()> work) {
    HandOver();
    Pool()->start([work = std::move(work)] {
        HandOver();
        work();
    });
}

// Runs work on receiver's thread.
void PostTo(QObject* receiver, std::function<void()> work) {
    HandOver();
    QMetaObject::invokeMethod(
        receiver,
        [work = std::move(work)] {
            HandOver();
            work();
        },
        Qt::QueuedConnection);
}
const QString& NameOf(const DirEntry& e) {
    return e.name;
}
const QString& NameOf(const ListSorter::Input& e) {
    return e.name;
}
bool IsFolder(const DirEntry& e) {
    return e.IsFolder();
}
bool IsFolder(const ListSorter::Input& e) {
    return (e.attributes & DirEntry::kFolder) != 0;
}
QString KeyOf(const DirEntry& e, ListSort sort) {
    return ListSortKey(e, sort);
}
QString KeyOf(const ListSorter::Input& in, ListSort sort) {
    DirEntry e;
    e.name = in.name;
    e.size = in.size;
    e.lastWriteTime = in.lastWriteTime;
    e.attributes = in.attributes;
    e.dateOnly = in.dateOnly;
    return ListSortKey(e, sort);
}

template <class Entry>
BuiltRows Build(const std::vector<Entry>& entries, ListSort sort, int folderImage, int fileImage) {
    // The sort keys, case-folded once, compared by code unit: "." before digits
    // before letters, and letter case never decides.
    BuiltRows built;
    std::vector<QString> keys;
    std::vector<int> shown;
    keys.reserve(entries.size());
    shown.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        if (!IsShownName(NameOf(entry)))
            continue;
        keys.push_back(KeyOf(entry, sort).toCaseFolded());
        shown.push_back(static_cast<int>(i));
        if (!IsFolder(entry)) {
            built.largestFileSize = std::max(built.largestFileSize, entry.size);
            built.anyFile = true;
        }
    }
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    // Equal keys keep the order the entries were read in.
    std::stable_sort(order.begin(), order.end(),
                     [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    built.rows.resize(order.size());
    for (std::size_t r = 0; r < order.size(); ++r) {
        const int i = shown[order[r]];
        const Entry& entry = entries[static_cast<std::size_t>(i)];
        ListRow& row = built.rows[r];
        // The key turned back is the name itself: the item shows the entry's name.
        row.name = NameOf(entry);
        row.image = IsFolder(entry) ? folderImage : fileImage;
        row.entry = i;
    }
    return built;
}
} // namespace

BuiltRows BuildRowsWithSizes(const std::vector<DirEntry>& entries, ListSort sort, int folderImage,
                             int fileImage) {
    return Build(entries, sort, folderImage, fileImage);
}

BuiltRows BuildRowsWithSizes(const std::vector<ListSorter::Input>& entries, ListSort sort,
                             int folderImage, int fileImage) {
    return Build(entries, sort, folderImage, fileImage);
}

struct ListSorter::Shared {
    std::mutex mutex;
    QObject* receiver = nullptr; // null once the owner is gone; under mutex
    // Raised on the owner's thread by every request and every Forget.
    std::atomic<std::uint64_t> generation{0};
    std::uint64_t pending = 0; // the request not yet handed back; owner's thread
    // The memory of the last input, emptied, for the next: a fresh million
    // entries' worth of pages costs the copy more than the copying; under mutex.
    std::vector<ListSorter::Input> spare;
};

ListSorter::ListSorter(QObject* receiver) : m_shared(std::make_shared<Shared>()) {
    m_shared->receiver = receiver;
}

ListSorter::~ListSorter() {
    Forget();
    // A worker that finishes later finds no one to hand its rows to.
    std::lock_guard lock(m_shared->mutex);
    m_shared->receiver = nullptr;
}

void ListSorter::Forget() {
    ++m_shared->generation;
    m_shared->pending = 0;
}

bool ListSorter::Busy() const {
    return m_shared->pending != 0;
}

// One request: its entries are copied a slice at a time on the owner's thread,
// then ordered on a worker.
struct ListSorter::Request {
    std::shared_ptr<Shared> shared;
    std::uint64_t generation = 0;
    const std::vector<DirEntry>* entries = nullptr;
    std::shared_ptr<std::vector<Input>> input;
    std::size_t copied = 0;
    ListSort sort = ListSort::Name;
    int folderImage = 0;
    int fileImage = 0;
    Done done;
};

void ListSorter::Start(const std::vector<DirEntry>& entries, ListSort sort, int folderImage,
                       int fileImage, Done done) {
    auto request = std::make_shared<Request>();
    request->shared = m_shared;
    request->generation = ++m_shared->generation;
    m_shared->pending = request->generation;
    request->entries = &entries;
    request->input = std::make_shared<std::vector<Input>>();
    {
        std::lock_guard lock(m_shared->mutex);
        request->input->swap(m_shared->spare);
    }
    request->sort = sort;
    request->folderImage = folderImage;
    request->fileImage = fileImage;
    request->done = std::move(done);
    CopySlice(request);
}

void ListSorter::CopySlice(const std::shared_ptr<Request>& request) {
    Shared& shared = *request->shared;
    if (shared.generation != request->generation)
        return; // the entries may be gone already
    const std::vector<DirEntry>& entries = *request->entries;
    std::vector<Input>& input = *request->input;
    if (input.size() != request->copied || input.size() > entries.size()) {
        // Changed under the copy without a Forget: begin again.
        input.clear();
        request->copied = 0;
    }
    // Reserved, not resized: the pages are touched a slice at a time too.
    input.reserve(entries.size());
    const std::size_t end = std::min(entries.size(), request->copied + kCopySlice);
    for (std::size_t i = request->copied; i < end; ++i) {
        const DirEntry& e = entries[i];
        input.push_back({e.name, e.size, e.lastWriteTime, e.attributes, e.dateOnly});
    }
    request->copied = end;
    if (end < entries.size()) {
        PostTo(shared.receiver, [request] { CopySlice(request); });
        return;
    }
    OnWorker([request] { Order(request); });
}

void ListSorter::Order(const std::shared_ptr<Request>& request) {
    const std::shared_ptr<Shared> shared = request->shared;
    const std::uint64_t generation = request->generation;
    std::shared_ptr<BuiltRows> built;
    if (shared->generation == generation) // else overtaken while it waited
        built = std::make_shared<BuiltRows>(BuildRowsWithSizes(
            *request->input, request->sort, request->folderImage, request->fileImage));
    request->input->clear();
    std::lock_guard lock(shared->mutex);
    shared->spare.swap(*request->input);
    if (!built || !shared->receiver || shared->generation != generation)
        return;
    PostTo(shared->receiver, [shared, generation, built, done = request->done] {
        // A request or a change of the rows since this was posted wins.
        if (shared->generation != generation)
            return;
        shared->pending = 0;
        done(std::move(*built));
    });
}

void ListSorter::DisposeLater(std::vector<ListRow> rows) {
    if (rows.empty())
        return;
    auto doomed = std::make_shared<std::vector<ListRow>>(std::move(rows));
    OnWorker([doomed] { doomed->clear(); });
}
