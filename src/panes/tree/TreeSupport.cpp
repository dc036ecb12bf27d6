#include "TreeSupport.h"

#include "CommStatusDlg.h"
#include "FrameBase.h"
#include "FrameLock.h"
#include "VelmarApp.h"

CommSession::CommSession(CVelmarApp* app, CFrameBase* frame, bool withWindow,
                         const QString& operation)
    : m_app(app), m_frame(frame), m_dlg(std::make_unique<CCommStatusDlg>(frame)) {
    if (withWindow) {
        m_dlg->Create();
        if (!operation.isEmpty())
            m_dlg->SetDlgItemText(CCommStatusDlg::IDC_OPERATION, operation);
    }
    m_lock = std::make_unique<FrameLock>(m_frame);
    m_app->m_commInProgress = 1;
}

CommSession::~CommSession() {
    m_lock.reset();
    m_app->m_commInProgress = 0;
    m_dlg.reset();
}
