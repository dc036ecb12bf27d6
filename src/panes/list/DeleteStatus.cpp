#include "DeleteStatus.h"

#include <QApplication>
#include <QPushButton>

#include "CommScope.h"
#include "Job.h"

namespace {
const QString kOperation = QStringLiteral("Deleting Folder - Please Wait");

// The status window of the communication under way, if one shows.
CCommStatusDlg* WindowUp() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dlg = qobject_cast<CCommStatusDlg*>(widget); dlg && dlg->HasWindow())
            return dlg;
    return nullptr;
}
} // namespace

DeleteStatus::DeleteStatus(CFrameBase* frame, CVelmarApp* app, const QString& folder)
    : m_frame(frame), m_app(app), m_latest(folder) {
    m_showTimer.setSingleShot(true);
    connect(&m_showTimer, &QTimer::timeout, this, &DeleteStatus::Show);
    connect(&m_activityTimer, &QTimer::timeout, this, &DeleteStatus::ShowActivity);
    // A delete refused at once is over before the timer fires, and never shows
    // anything.
    m_showTimer.start(kShowAfterMs);
}

DeleteStatus::~DeleteStatus() {
    m_showTimer.stop();
    m_activityTimer.stop();
    if (m_borrowed)
        GiveBack();
    else if (m_dlg)
        QObject::disconnect(m_cancelClicked);
    // The window goes and the main window is given back before any box about
    // the delete is shown.
    m_own.reset();
}

core::DeleteProgress DeleteStatus::Progress() {
    return [this](int, const QString& path) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_latest = path;
        m_fresh = true;
    };
}

void DeleteStatus::Show() {
    if (!core::JobRunning())
        return;
    if (CCommStatusDlg* up = WindowUp()) {
        Borrow(up);
    } else {
        m_own = std::make_unique<CommScope>(m_frame, m_app, kOperation);
        m_dlg = m_own->Dlg();
        m_dlg->ShowCancelOnly();
    }
    // The stop request is the delete's own: a borrowed window's Cancel also
    // sets the copy's, which is put back when the window is given back.
    auto* cancel = qobject_cast<QPushButton*>(m_dlg->Control(CCommStatusDlg::IDC_CANCEL));
    if (cancel) {
        m_cancelClicked =
            connect(cancel, &QPushButton::clicked, this, [this] { m_cancel.store(1); });
        // The one thing to press: a keyboard user reaches it at once.
        cancel->setFocus(Qt::OtherFocusReason);
    }
    ShowActivity();
    m_activityTimer.start(kActivityEveryMs);
}

void DeleteStatus::Borrow(CCommStatusDlg* dlg) {
    m_dlg = dlg;
    m_borrowed = true;
    m_operation = dlg->GetDlgItemText(CCommStatusDlg::IDC_OPERATION);
    m_activity = dlg->GetDlgItemText(CCommStatusDlg::IDC_ACTIVITY);
    m_oldCancel = dlg->m_cancel.load();
    m_shown = dlg->ShowCancelOnly();
    dlg->SetDlgItemText(CCommStatusDlg::IDC_OPERATION, kOperation);
}

void DeleteStatus::GiveBack() {
    QObject::disconnect(m_cancelClicked);
    if (!m_dlg)
        return;
    // A Cancel pressed for the delete is answered by the delete's own report;
    // the copy around it goes on as it was.
    m_dlg->m_cancel.store(m_oldCancel);
    m_dlg->SetDlgItemText(CCommStatusDlg::IDC_OPERATION, m_operation);
    m_dlg->SetDlgItemText(CCommStatusDlg::IDC_ACTIVITY, m_activity);
    m_dlg->RestoreControls(m_shown);
}

void DeleteStatus::ShowActivity() {
    QString text;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_fresh)
            return;
        m_fresh = false;
        text = m_latest;
    }
    if (m_dlg)
        m_dlg->SetDlgItemText(CCommStatusDlg::IDC_ACTIVITY, text);
}
