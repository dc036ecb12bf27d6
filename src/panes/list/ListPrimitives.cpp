// The primitives that the file operations and the copies share: create a folder,
// delete a file, delete a folder with everything in it, on either side. The work
// is the core's; what the pane adds is the box for a result that failed.
#include "DeleteStatus.h"
#include "FtpFileOps.h"
#include "FtpFolderRead.h"
#include "FtpTreeDelete.h"
#include "Job.h"
#include "LocalFileOps.h"
#include "LocalTreeDelete.h"
#include "Messages.h"
#include "MyListView.h"
#include "VelmarApp.h"

bool CMyListView::WorksOnFtp() const {
    return (m_side == 1 && !m_forceLocal) || m_forceFtp;
}

core::Task<bool> CMyListView::CreateFolder(QString path) {
    if (m_side == 0)
        co_return CreateLocalFolder(path);
    co_return co_await CreateFtpFolder(path);
}

bool CMyListView::CreateLocalFolder(const QString& path) {
    const core::OpResult result = core::CreateLocalFolder(path);
    ReportOpError(this, result);
    return result.Ok();
}

core::Task<bool> CMyListView::CreateFtpFolder(QString path) {
    core::RemoteConnection* remote = App()->Site().Remote();
    const core::OpResult result = co_await core::OpJob(
        core::FileOp::CreateFolder, [&] { return core::CreateFtpFolder(remote, path); }, path);
    if (!ReportIfConnectionLost(this, *App(), result))
        ReportOpError(this, result);
    co_return result.Ok();
}

core::Task<bool> CMyListView::DeleteOneFile(QString path) {
    core::RemoteConnection* remote = App()->Site().Remote();
    core::OpResult result;
    if (WorksOnFtp())
        result = co_await core::OpJob(
            core::FileOp::DeleteFile, [&] { return core::DeleteFtpFile(remote, path); }, path);
    else
        result = core::DeleteLocalFile(path);
    if (!ReportIfConnectionLost(this, *App(), result))
        ReportOpError(this, result);
    co_return result.Ok();
}

core::Task<bool> CMyListView::DeleteFolderTree(QString path) {
    // A tree of thousands of files takes a while on either side: both run as a
    // job, and the window keeps painting meanwhile; one that takes long gets the
    // status window and its Cancel.
    if (WorksOnFtp())
        co_return co_await DeleteFtpFolderTree(path);
    co_return co_await DeleteLocalFolderTree(path);
}

core::Task<bool> CMyListView::DeleteLocalFolderTree(QString path) {
    core::OpResult result;
    {
        DeleteStatus status(m_frame, App(), path);
        result = co_await core::OpJob(
            core::FileOp::DeleteFolder, [&] { return core::DeleteLocalTree(path, nullptr, status.Progress()); }, path,
            status.Cancel());
    }
    ReportOpError(this, result);
    co_return result.Ok();
}

core::Task<bool> CMyListView::DeleteFtpFolderTree(QString path) {
    // The walk runs on the main connection: the listings are read whole before
    // anything is deleted, so no second connection is needed, and a server that
    // allows few connections per address is never refused mid-delete.
    core::OpResult result;
    {
        DeleteStatus status(m_frame, App(), path);
        core::RemoteConnection* remote = App()->Site().Remote();
        result = co_await core::OpJob(
            core::FileOp::DeleteFolder, [&] { return core::DeleteFtpTree(remote, path, nullptr, status.Progress()); }, path,
            status.Cancel());
    }
    if (!ReportIfConnectionLost(this, *App(), result))
        ReportOpError(this, result);
    co_return result.Ok();
}
