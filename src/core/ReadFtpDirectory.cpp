// Reading the main connection's current FTP directory into the shared listing.
#include "FtpFileFind.h"
#include "FtpSite.h"
#include "InternetException.h"
#include "Job.h"
#include "ListingNotes.h"
#include "Transfer.h"

namespace {
DirEntry EntryOf(const FtpListEntry& found) {
    DirEntry entry;
    entry.name = found.name;
    entry.lastWriteTime = found.lastWriteTime;
    entry.size = found.size;
    entry.dateOnly = found.dateOnly;
    entry.attributes =
        (found.isFolder ? DirEntry::kFolder : 0) | (found.isLink ? DirEntry::kLink : 0);
    return entry;
}
} // namespace

// A listing that fails leaves the shared listing empty and throws
// CInternetException with the server's or the system's words: an empty folder
// and a failed reading must never look alike to the panes.
void core::Transfer::ReadFtpDirectory() {
    if (!m_view.StartingUp())
        ShowStatus(QStringLiteral("Reading FTP Directory - Please Wait"));
    // Built apart and handed over whole: the site never holds half a folder.
    m_site->ClearListing();
    ClearListingNotes();
    if (!m_site->Connection())
        throw CInternetException(ERROR_INTERNET_CONNECTION_ABORTED,
                                 QStringLiteral("There is no connection to the server."));
    std::vector<DirEntry> listing;
    CFtpFileFind find(m_site->Connection(), 1);
    find.FindFile(QString(), INTERNET_FLAG_RELOAD);
    // A connection lost (and not made afresh) is told apart from the server's no:
    // the folder may be there and readable.
    if (find.Failed())
        throw CInternetException(find.ConnectionLost() ? ERROR_FTP_DROPPED
                                                       : ERROR_INTERNET_EXTENDED_ERROR,
                                 find.ErrorText());
    // Every name is shown whole, however long: a cut name would point at another
    // file or at none, and one left out could be neither seen nor deleted. A copy
    // of one too long for a local name is refused with its name.
    for (const FtpListEntry& found : find.Entries())
        listing.push_back(EntryOf(found));
    // The notes come first: whoever hears of the new listing finds them current.
    RecordListingNotes({find.RawListing(), find.UnreadableLines()});
    m_site->SetListing(std::move(listing));
}
