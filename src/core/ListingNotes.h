#pragma once

#include <QString>
#include <cstddef>
#include <string>

namespace core {

// What the last reading of an FTP folder for the panes could not show: how many
// lines of its listing were not understood, and the listing's text as the server
// sent it, which the user can copy for a bug report. The reading writes it on its
// worker; the panes read it on the interface thread once the reading is over.
// The program shows one FTP site, so there is one of these.
struct ListingNotes {
    std::string raw;
    std::size_t unreadable = 0;
};

void RecordListingNotes(ListingNotes notes);
// Forgets them: a reading failed, or the connection went.
void ClearListingNotes();
std::size_t LastUnreadableLines();
std::string LastRawListing();
// A listing's bytes as text, read as the server's names are.
QString RawListingText(const std::string& raw);

} // namespace core
