// The primitives that the file operations and the copies share: create a folder,
// delete a file, delete a folder with everything in it, on either side.
#include "CommStatusDlg.h"
#include "FtpConnection.h"
#include "FtpFileFind.h"
#include "InternetSession.h"
#include "ListItems.h"
#include "LocalFind.h"
#include "LocalOps.h"
#include "MessageBox.h"
#include "Messages.h"
#include "MyListView.h"
#include "VelmarApp.h"

namespace {
QString WithoutTrailingSlash(QString path) {
    if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}
} // namespace

bool CMyListView::WorksOnFtp() const {
    return (m_side == 1 && !m_forceLocal) || m_forceFtp;
}

bool CMyListView::CreateFolder(const QString& path) {
    return m_side == 0 ? CreateLocalFolder(path) : CreateFtpFolder(path);
}

bool CMyListView::CreateLocalFolder(const QString& path) {
    if (MakeLocalFolder(path))
        return true;
    ReportCreateDirectoryError(this);
    return false;
}

bool CMyListView::CreateFtpFolder(const QString& path) {
    CFtpConnection* connection = App()->m_ftpConnection;
    bool created = false;
    try {
        created = connection && connection->CreateDirectory(path);
    } catch (const std::exception&) {
        created = false;
    }
    if (!created)
        ReportCreateDirectoryError(this);
    return created;
}

bool CMyListView::DeleteOneFile(const QString& path) {
    bool deleted = false;
    if (WorksOnFtp()) {
        CFtpConnection* connection = App()->m_ftpConnection;
        try {
            deleted = connection && connection->Remove(path);
        } catch (const std::exception&) {
            deleted = false;
        }
    } else {
        deleted = RemoveLocalFile(path);
    }
    if (!deleted)
        MessageBox(this, QStringLiteral("The program was unable to delete the specified file(s)."),
                   QStringLiteral("Error Deleting File"), MB_OK | MB_ICONSTOP);
    return deleted;
}

bool CMyListView::DeleteFolderTree(const QString& path) {
    return WorksOnFtp() ? DeleteFtpFolderTree(path) : DeleteLocalFolderTree(path);
}

bool CMyListView::DeleteLocalFolderTree(const QString& path) {
    CLocalFind find;
    bool ok = true;
    if (find.FindFirst(path + QStringLiteral("*.*"))) {
        do {
            const LocalFindEntry& entry = find.Current();
            const QString child = path + entry.name;
            if (entry.isFolder) {
                if (entry.name.startsWith(QLatin1Char('.')))
                    continue;
                // A link to a folder goes, never what it points to: the folder
                // may lie anywhere outside the one being deleted.
                ok = IsLocalSymLink(child) ? DeleteOneFile(child)
                                           : DeleteLocalFolderTree(child + QLatin1Char('/'));
            } else {
                ok = DeleteOneFile(child);
            }
        } while (ok && find.FindNext());
    }
    find.Close();
    if (!ok)
        return false;
    if (!RemoveLocalFolder(path)) {
        ReportDeleteFolderError(this);
        return false;
    }
    return true;
}

bool CMyListView::DeleteFtpFolderTree(const QString& path) {
    CVelmarApp* app = App();
    // This level's own connection lists the folder; the main one stays free for
    // the deletions.
    ExtraConnection listing;
    try {
        if (!app->m_session)
            throw CInternetException(ERROR_INTERNET_CANNOT_CONNECT, QStringLiteral("no session"));
        const CProfile& profile = app->m_activeProfile;
        listing.reset(app->m_session->GetFtpConnection(profile.m_address, profile.m_userId,
                                                       profile.m_password,
                                                       INTERNET_INVALID_PORT_NUMBER, false));
    } catch (const std::exception&) {
        ReportDeleteFolderError(this);
        return false;
    }
    bool ok = true;
    try {
        CFtpFileFind find(listing.get(), 1);
        bool more = find.FindFile(path + QStringLiteral("*.*"), INTERNET_FLAG_RELOAD);
        while (ok && more) {
            more = find.FindNextFile();
            const QString name = find.GetFileName();
            if (!IsValidItemName(name))
                continue;
            if (find.MatchesMask(FILE_ATTRIBUTE_DIRECTORY)) {
                if (!name.startsWith(QLatin1Char('.')))
                    ok = DeleteFtpFolderTree(path + name + QLatin1Char('/'));
            } else {
                ok = DeleteOneFile(path + name);
            }
        }
        find.Close();
    } catch (const std::exception&) {
        ReportDeleteFolderError(this);
        return false;
    }
    if (!ok)
        return false;
    bool removed = false;
    try {
        removed = listing->RemoveDirectory(WithoutTrailingSlash(path));
    } catch (const std::exception&) {
        removed = false;
    }
    if (!removed) {
        ReportDeleteFolderError(this);
        return false;
    }
    return true;
}

bool CMyListView::DestinationExists(const QString& path, bool onFtp) {
    if (!onFtp)
        return LocalPathExists(path);
    CFtpConnection* connection = App()->m_ftpConnection;
    if (!connection)
        return false;
    try {
        CFtpFileFind find(connection, 1);
        const bool found = find.FindFile(path, INTERNET_FLAG_RELOAD);
        find.Close();
        return found;
    } catch (const std::exception&) {
        return false;
    }
}
