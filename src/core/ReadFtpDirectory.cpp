// Reading the main connection's current FTP directory into the shared listing.
#include "FtpConnection.h"
#include "FtpControl.h"
#include "FtpFileFind.h"
#include "FtpRemote.h"
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
    if (!m_site->Connection()) {
        // Another protocol lists its folders over the remote-site interface.
        if (RemoteConnection* remote = Remote()) {
            try {
                ReadRemoteFolder(*remote, m_site->CurrentDir());
                return;
            } catch (const RemoteError& e) {
                throw CInternetException(e.kind() == RemoteError::Kind::Refused
                                             ? ERROR_INTERNET_EXTENDED_ERROR
                                             : ERROR_FTP_DROPPED,
                                         e.words());
            }
        }
        throw CInternetException(ERROR_INTERNET_CONNECTION_ABORTED,
                                 QStringLiteral("There is no connection to the server."));
    }
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

namespace {
const QString kRefused = QStringLiteral("The server refused to open it: it may have been removed, "
                                        "or you may not have permission to open it.");
const QString kCancelled = QStringLiteral("The operation was cancelled.");
} // namespace

core::FolderRead core::Transfer::ReadFolder(const QString& path) {
    FolderRead result;
    m_site->ClearListing();
    RemoteConnection* remote = Remote();
    if (!remote) {
        result.words = QStringLiteral("There is no connection to the server.");
        return result;
    }
    auto* ftp = dynamic_cast<FtpRemote*>(remote);
    try {
        if (ftp) {
            CFtpConnection& connection = ftp->Connection();
            if (!path.isEmpty() && !connection.SetCurrentDirectory(path)) {
                // A stop cuts the change of folder short as the server's no would.
                result.words =
                    m_cancel || connection.Control().ReconnectDue() ? kCancelled : kRefused;
                return result;
            }
            ReadFtpDirectory();
        } else {
            ReadRemoteFolder(*remote, path.isEmpty() ? m_site->CurrentDir() : path);
        }
        result.read = true;
        return result;
    } catch (const CInternetException& e) {
        const FtpControl& control = ftp->Connection().Control();
        result.lost = !m_cancel && e.m_dwError != ERROR_INTERNET_OPERATION_CANCELLED &&
                      !control.Alive() && !control.ReconnectDue();
        result.words = e.Message();
        result.serverWords = true;
    } catch (const RemoteError& e) {
        using K = RemoteError::Kind;
        result.lost = !m_cancel && (e.kind() == K::Lost || e.kind() == K::TimedOut);
        result.serverWords = e.kind() != K::Cancelled;
        result.words = e.kind() == K::Cancelled ? kCancelled : e.words();
    } catch (const std::exception& e) {
        result.words = QString::fromLocal8Bit(e.what());
    }
    if (result.words.isEmpty() && !result.serverWords)
        result.words = QStringLiteral("The listing failed.");
    m_site->ClearListing();
    return result;
}

void core::Transfer::ReadRemoteFolder(RemoteConnection& remote, const QString& folder) {
    if (!m_view.StartingUp())
        ShowStatus(QStringLiteral("Reading FTP Directory - Please Wait"));
    ClearListingNotes();
    std::vector<DirEntry> listing;
    for (const RemoteEntry& found : remote.List(folder)) {
        DirEntry entry;
        entry.name = found.name;
        entry.lastWriteTime = found.lastWriteTime;
        entry.size = found.size;
        entry.dateOnly = found.dateOnly;
        entry.attributes =
            (found.isFolder ? DirEntry::kFolder : 0) | (found.isLink ? DirEntry::kLink : 0);
        listing.push_back(std::move(entry));
    }
    m_site->SetCurrentDir(folder);
    m_site->SetListing(std::move(listing));
}
