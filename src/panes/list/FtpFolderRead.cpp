#include "FtpFolderRead.h"

#include "CommStatusDlg.h"
#include "CopyMessages.h"
#include "FtpConnection.h"
#include "FtpControl.h"
#include "InternetException.h"
#include "Job.h"
#include "Messages.h"
#include "OpResult.h"
#include "VelmarApp.h"

namespace {
const QString kRefused = QStringLiteral("The server refused to open it: it may have been removed, "
                                        "or you may not have permission to open it.");
const QString kCancelled = QStringLiteral("The operation was cancelled.");

// A failure that left the connection closed, not by a stop and with no fresh
// login due: the connection is gone, whatever the folder is like.
bool Lost(CFtpConnection* connection, const CInternetException& e) {
    const FtpControl& control = connection->Control();
    return e.m_dwError != ERROR_INTERNET_OPERATION_CANCELLED && !control.Alive() &&
           !control.ReconnectDue();
}

// The connection-lost message, once: the FTP side has no connection from then on.
void ConnectionLostOnce(QWidget* owner, CVelmarApp& app, const QString& detail) {
    if (app.Site().IsUnavailable())
        return;
    app.Site().SetUnavailable(true);
    copymessages::ConnectionLost(owner, detail);
}
} // namespace

bool ReadFtpFolderListing(CCommStatusDlg& dlg, CVelmarApp& app, const QString& path,
                          FtpReadFailure& failure) {
    failure = FtpReadFailure();
    app.Site().ClearListing();
    CFtpConnection* connection = app.Site().Connection();
    if (!connection) {
        failure.reason = QStringLiteral("There is no connection to the server.");
        return false;
    }
    try {
        const bool entered = core::Run(
            [&] {
                if (!path.isEmpty() && !connection->SetCurrentDirectory(path))
                    return false;
                dlg.ReadFtpDirectory();
                return true;
            },
            &dlg.m_cancel, dlg.HasWindow());
        if (!entered)
            // A stop cuts the change of folder short as the server's no would.
            failure.reason =
                dlg.m_cancel || connection->Control().ReconnectDue() ? kCancelled : kRefused;
        return entered;
    } catch (const CInternetException& e) {
        failure.connectionLost = !dlg.m_cancel && Lost(connection, e);
        failure.reason = ExplainServerError(e.Message());
    } catch (const std::exception& e) {
        failure.reason = QString::fromLocal8Bit(e.what());
    }
    if (failure.reason.isEmpty())
        failure.reason = QStringLiteral("The listing failed.");
    app.Site().ClearListing();
    return false;
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
