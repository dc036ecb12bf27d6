// The primitives that the file operations and the copies share: create a folder,
// delete a file, delete a folder with everything in it, on either side. The work
// is the core's; what the pane adds is the box for a result that failed.
#include "DeleteStatus.h"
#include "FtpFileOps.h"
#include "FtpFolderRead.h"
#include "FtpTreeDelete.h"
#include "LocalFileOps.h"
#include "LocalTreeDelete.h"
#include "Messages.h"
#include "MyListView.h"
#include "VelmarApp.h"

bool CMyListView::WorksOnFtp() const {
    return (m_side == 1 && !m_forceLocal) || m_forceFtp;
}

bool CMyListView::CreateFolder(const QString& path) {
    return m_side == 0 ? CreateLocalFolder(path) : CreateFtpFolder(path);
}

bool CMyListView::CreateLocalFolder(const QString& path) {
    const core::OpResult result = core::CreateLocalFolder(path);
    ReportOpError(this, result);
    return result.Ok();
}

bool CMyListView::CreateFtpFolder(const QString& path) {
    const core::OpResult result = core::CreateFtpFolder(App()->Site().Remote(), path);
    if (!ReportIfConnectionLost(this, *App(), result))
        ReportOpError(this, result);
    return result.Ok();
}

bool CMyListView::DeleteOneFile(const QString& path) {
    const core::OpResult result = WorksOnFtp()
                                      ? core::DeleteFtpFile(App()->Site().Remote(), path)
                                      : core::DeleteLocalFile(path);
    if (!ReportIfConnectionLost(this, *App(), result))
        ReportOpError(this, result);
    return result.Ok();
}

bool CMyListView::DeleteFolderTree(const QString& path) {
    // A tree of thousands of files takes a while on either side: both run as a
    // job, and the window keeps painting meanwhile; one that takes long gets the
    // status window and its Cancel.
    return WorksOnFtp() ? DeleteFtpFolderTree(path) : DeleteLocalFolderTree(path);
}

bool CMyListView::DeleteLocalFolderTree(const QString& path) {
    core::OpResult result;
    {
        DeleteStatus status(m_frame, App(), path);
        result = core::DeleteLocalTree(path, status.Cancel(), status.Progress());
    }
    ReportOpError(this, result);
    return result.Ok();
}

bool CMyListView::DeleteFtpFolderTree(const QString& path) {
    // The walk runs on the main connection: the listings are read whole before
    // anything is deleted, so no second connection is needed, and a server that
    // allows few connections per address is never refused mid-delete.
    core::OpResult result;
    {
        DeleteStatus status(m_frame, App(), path);
        result = core::DeleteFtpTree(App()->Site().Remote(), path, status.Cancel(),
                                     status.Progress());
    }
    if (!ReportIfConnectionLost(this, *App(), result))
        ReportOpError(this, result);
    return result.Ok();
}
