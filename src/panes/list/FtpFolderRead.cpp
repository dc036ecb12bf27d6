#include "FtpFolderRead.h"

#include "CommStatusDlg.h"
#include "CopyMessages.h"
#include "Messages.h"
#include "OpResult.h"
#include "VelmarApp.h"

namespace {
// The connection-lost message, once: the FTP side has no connection from then on.
void ConnectionLostOnce(QWidget* owner, CVelmarApp& app, const QString& detail) {
    if (app.Site().IsUnavailable())
        return;
    app.Site().SetUnavailable(true);
    copymessages::ConnectionLost(owner, detail);
}
} // namespace

core::Task<bool> ReadFtpFolderListing(CCommStatusDlg& dlg, CVelmarApp& app, QString path,
                                      FtpReadFailure& failure) {
    failure = FtpReadFailure();
    app.Site().ClearListing();
    if (!app.Site().IsConnected()) {
        failure.reason = QStringLiteral("There is no connection to the server.");
        co_return false;
    }
    const core::FolderRead read = co_await dlg.ReadFtpFolder(path);
    if (read.read)
        co_return true;
    failure.connectionLost = read.lost;
    failure.reason = read.serverWords ? ExplainServerError(read.words) : read.words;
    if (failure.reason.isEmpty())
        failure.reason = QStringLiteral("The listing failed.");
    app.Site().ClearListing();
    co_return false;
}

void ReportFtpReadFailure(QWidget* owner, CVelmarApp& app, const QString& folder,
                          const FtpReadFailure& failure) {
    if (failure.connectionLost)
        ConnectionLostOnce(owner, app, failure.reason);
    else
        ReportReadFolderError(owner, folder, failure.reason);
}

bool ReportIfConnectionLost(QWidget* owner, CVelmarApp& app, const core::OpResult& result) {
    if (result.kind != core::OpErrorKind::ConnectionLost)
        return false;
    // A tree delete's account holds the reason; another operation has the words.
    ConnectionLostOnce(owner, app,
                       result.detail.isEmpty() ? ExplainServerError(result.words) : result.detail);
    return true;
}
