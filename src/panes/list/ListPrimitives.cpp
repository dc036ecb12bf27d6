// The primitives that the file operations and the copies share: create a folder,
// delete a file, delete a folder with everything in it, on either side.
#include "CommStatusDlg.h"
#include "FtpConnection.h"
#include "FtpFileFind.h"
#include "FtpTreeDelete.h"
#include "Job.h"
#include "ListItems.h"
#include "LocalFind.h"
#include "LocalOps.h"
#include "MessageBox.h"
#include "Messages.h"
#include "MyListView.h"
#include "PathRules.h"
#include "VelmarApp.h"

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
    CFtpConnection* connection = App()->Site().Connection();
    bool created = false;
    try {
        created = connection && core::Run([&] { return connection->CreateDirectory(path); });
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
        CFtpConnection* connection = App()->Site().Connection();
        try {
            deleted = connection && core::Run([&] { return connection->Remove(path); });
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
    // A tree of thousands of files takes a while on either side: it is deleted
    // as a job, and its messages come to this thread.
    const bool ftp = WorksOnFtp();
    try {
        return core::Run(
            [&] { return ftp ? DeleteFtpFolderTree(path) : DeleteLocalFolderTree(path); });
    } catch (const std::exception&) {
        // Another operation holds the connection: nothing was deleted.
        ReportDeleteFolderError(this);
        return false;
    }
}

bool CMyListView::DeleteLocalFolderTree(const QString& path) {
    // A folder that is itself a link goes as a link (a list item, a tree item or
    // the target of a replace): what it points to lies outside it.
    const QString self = pathrules::WithoutTrailingSlash(path);
    if (IsLocalSymLink(self))
        return DeleteOneFile(self);
    CLocalFind find;
    bool ok = true;
    if (find.FindFirst(path + QStringLiteral("*.*"))) {
        do {
            const LocalFindEntry& entry = find.Current();
            const QString child = path + entry.name;
            if (entry.isLink || !entry.isFolder) {
                // A link to a folder goes, never what it points to: the folder
                // may lie anywhere outside the one being deleted.
                ok = DeleteOneFile(child);
            } else if (!entry.name.startsWith(QLatin1Char('.'))) {
                ok = DeleteLocalFolderTree(child + QLatin1Char('/'));
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
    // The walk runs on the main connection: the listings are read whole before
    // anything is deleted, so no second connection is needed, and a server that
    // allows few connections per address is never refused mid-delete.
    FtpTreeDelete walk(App()->Site().Connection());
    if (walk.Run(path))
        return true;
    ReportDeleteFolderError(this, walk.Report());
    return false;
}

bool CMyListView::DestinationExists(const QString& path, bool onFtp) {
    if (!onFtp)
        return LocalPathExists(path);
    CFtpConnection* connection = App()->Site().Connection();
    if (!connection)
        return false;
    try {
        return core::Run([&] {
            CFtpFileFind find(connection, 1);
            const bool found = find.FindFile(path, INTERNET_FLAG_RELOAD);
            find.Close();
            return found;
        });
    } catch (const std::exception&) {
        return false;
    }
}
