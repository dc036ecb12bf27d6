#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "DirEntry.h"
#include "ListItems.h"

struct ListRow;

// The rows of a listing as built on a worker, with what the columns need to
// know of them, so that the interface thread never walks a million rows.
struct BuiltRows {
    std::vector<ListRow> rows;
    std::uint64_t largestFileSize = 0;
    bool anyFile = false;
};

// Builds the rows of a listing (sort keys, order, row texts) on a worker thread
// and hands them to a callback on the thread of its owner. Only the newest
// request is ever handed back: a result that a later request, or Forget(), has
// overtaken is thrown away, so a slow re-sort can never show an older order
// after a newer one.
class ListSorter {
public:
    using Done = std::function<void(BuiltRows)>;

    // receiver: the object on whose thread done runs; the sorter must not
    // outlive it.
    explicit ListSorter(QObject* receiver);
    ~ListSorter();
    ListSorter(const ListSorter&) = delete;
    ListSorter& operator=(const ListSorter&) = delete;

    // Orders a copy of entries. The copy is made a slice at a time on this
    // thread, so entries must stay as they are, and alive, until done runs or
    // Forget is called.
    void Start(const std::vector<DirEntry>& entries, ListSort sort, int folderImage, int fileImage,
               Done done);
    // Whatever is still being built is never handed back.
    void Forget();
    bool Busy() const;

    // Frees rows on a worker: a million names freed are a stall of their own.
    static void DisposeLater(std::vector<ListRow> rows);

    // What ordering needs of an entry. The copy handed to the worker is made
    // on the owner's thread, so it is kept small, and its memory is reused.
    struct Input {
        QString name;
        std::uint64_t size = 0;
        std::int64_t lastWriteTime = 0;
        std::uint32_t attributes = 0;
        bool dateOnly = false;
    };

private:
    // Entries copied between two turns of the event loop: a few milliseconds.
    static constexpr std::size_t kCopySlice = 50000;
    struct Shared;
    struct Request;
    static void CopySlice(const std::shared_ptr<Request>& request);
    static void Order(const std::shared_ptr<Request>& request);

    std::shared_ptr<Shared> m_shared;
};

// The rows of entries with the numbers of BuiltRows; BuildListRows' work.
BuiltRows BuildRowsWithSizes(const std::vector<DirEntry>& entries, ListSort sort, int folderImage,
                             int fileImage);
BuiltRows BuildRowsWithSizes(const std::vector<ListSorter::Input>& entries, ListSort sort,
                             int folderImage, int fileImage);
