// Reading the main connection's current FTP directory into the shared listing.
#include "CommStatusDlg.h"
#include "FtpFileFind.h"
#include "VelmarApp.h"

void CCommStatusDlg::ReadFtpDirectory() {
    CVelmarApp* app = m_app;
    if (!app->m_startingUp)
        SetPane0(QStringLiteral("Reading FTP Directory - Please Wait"));
    std::vector<DirEntry>& listing = app->m_ftpListing;
    listing.clear();
    if (!app->m_ftpConnection)
        return;
    try {
        CFtpFileFind find(app->m_ftpConnection, 1);
        bool more = find.FindFile(QString(), INTERNET_FLAG_RELOAD);
        while (more) {
            more = find.FindNextFile();
            const QString name = find.GetFileName();
            // A name too long for a directory entry is left out rather than cut:
            // a cut name would point at a different file, or at none.
            if (name.size() > DirEntry::kMaxName)
                continue;
            DirEntry& entry = app->m_ftpEntry;
            entry = DirEntry{};
            entry.name = name;
            find.GetLastWriteTime(entry.lastWriteTime);
            entry.size = find.GetLength();
            entry.attributes = find.MatchesMask(FILE_ATTRIBUTE_DIRECTORY) ? DirEntry::kFolder : 0;
            listing.push_back(entry);
        }
        find.Close();
    } catch (const std::exception&) {
        // A listing that breaks off shows as an empty folder, as one that fails
        // at the start does; a partial one would pass for the whole folder.
        listing.clear();
    }
}
