#include "ListingNotes.h"

#include <mutex>

#include "NameCodec.h"

namespace core {
namespace {
std::mutex g_mutex;
ListingNotes g_notes;
} // namespace

void RecordListingNotes(ListingNotes notes) {
    std::lock_guard lock(g_mutex);
    g_notes = std::move(notes);
}

void ClearListingNotes() {
    RecordListingNotes({});
}

std::size_t LastUnreadableLines() {
    std::lock_guard lock(g_mutex);
    return g_notes.unreadable;
}

std::string LastRawListing() {
    std::lock_guard lock(g_mutex);
    return g_notes.raw;
}

QString RawListingText(const std::string& raw) {
    return names::Decode(raw);
}

} // namespace core
