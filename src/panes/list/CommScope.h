#pragma once

#include <QString>
#include <memory>

#include "CommStatusDlg.h"
#include "FrameBase.h"
#include "FrameLock.h"
#include "VelmarApp.h"

// One communication through the status window: its window made and titled with
// the operation, the main window disabled and the communication marked in progress for as
// long as the object lives, everything put back when it goes.
class CommScope {
public:
    CommScope(CFrameBase* frame, CVelmarApp* app, const QString& operation)
        : m_frame(frame), m_app(app), m_dlg(std::make_unique<CCommStatusDlg>(frame)) {
        m_dlg->Create();
        m_dlg->SetDlgItemText(CCommStatusDlg::IDC_OPERATION, operation);
        m_lock = std::make_unique<FrameLock>(m_frame);
        m_app->Comm().Begin();
    }
    ~CommScope() {
        m_lock.reset();
        m_app->Comm().End();
    }
    CommScope(const CommScope&) = delete;
    CommScope& operator=(const CommScope&) = delete;

    CCommStatusDlg* Dlg() const { return m_dlg.get(); }

    static QString Operation(bool sourceFtp, bool destFtp) {
        if (!sourceFtp && !destFtp)
            return QStringLiteral(
                "Copying files from Local Computer to Local Computer - Please Wait");
        if (!sourceFtp)
            return QStringLiteral("Copying files from Local Computer to FTP Server - Please Wait");
        if (!destFtp)
            return QStringLiteral("Copying files from FTP Server to Local Computer - Please Wait");
        return QStringLiteral("Copying files from FTP Server to FTP Server - Please Wait");
    }

private:
    CFrameBase* m_frame;
    CVelmarApp* m_app;
    std::unique_ptr<CCommStatusDlg> m_dlg;
    std::unique_ptr<FrameLock> m_lock;
};
