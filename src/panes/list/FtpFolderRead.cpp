#include "FtpFolderRead.h"

#include "CommStatusDlg.h"
#include "FtpConnection.h"
#include "InternetException.h"
#include "Job.h"
#include "Messages.h"
#include "VelmarApp.h"

bool ReadFtpFolderListing(CCommStatusDlg& dlg, CVelmarApp& app, const QString& path,
                          QString& reason) {
    app.Site().ClearListing();
    if (!app.Site().Connection()) {
        reason = QStringLiteral("There is no connection to the server.");
        return false;
    }
    try {
        CFtpConnection* connection = app.Site().Connection();
        const bool entered = core::Run(
            [&] {
                if (!path.isEmpty() && !connection->SetCurrentDirectory(path))
                    return false;
                dlg.ReadFtpDirectory();
                return true;
            },
            &dlg.m_cancel, dlg.HasWindow());
        if (!entered)
            reason = QStringLiteral("The server refused to open it: it may have been removed, "
                                    "or you may not have permission to open it.");
        return entered;
    } catch (const CInternetException& e) {
        reason = ExplainServerError(e.Message());
    } catch (const std::exception& e) {
        reason = QString::fromLocal8Bit(e.what());
    }
    if (reason.isEmpty())
        reason = QStringLiteral("The listing failed.");
    app.Site().ClearListing();
    return false;
}
