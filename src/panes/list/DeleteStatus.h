#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <memory>
#include <mutex>

#include "CommStatusDlg.h"
#include "FtpTreeDelete.h"

class CFrameBase;
class CVelmarApp;
class CommScope;

// A folder delete's stop request and its status window. A delete done within
// kShowAfterMs looks as a delete always did: no window, the main window never
// greyed. One that runs longer brings up the status window with its Operation
// line, the item it has got to and Cancel, and locks the main window as a copy
// does; from then on input reaches Cancel, and the main window, disabled, takes
// none. A copy's window that is up already (a folder replace deletes the old
// folder once its copy is in place) is borrowed for the while and given back as
// it was.
class DeleteStatus : public QObject {
public:
    static constexpr int kShowAfterMs = 1000;
    // The activity line follows the delete at most this often.
    static constexpr int kActivityEveryMs = 100;

    DeleteStatus(CFrameBase* frame, CVelmarApp* app, const QString& folder);
    ~DeleteStatus() override;
    DeleteStatus(const DeleteStatus&) = delete;
    DeleteStatus& operator=(const DeleteStatus&) = delete;

    const std::atomic<int>* Cancel() const { return &m_cancel; }
    // For the delete, called on its worker after each entry that is gone.
    core::DeleteProgress Progress();

private:
    void Show();
    void Borrow(CCommStatusDlg* dlg);
    void GiveBack();
    void ShowActivity();

    CFrameBase* m_frame;
    CVelmarApp* m_app;
    std::atomic<int> m_cancel{0};
    QTimer m_showTimer;
    QTimer m_activityTimer;

    std::mutex m_mutex; // guards what the worker leaves for the activity line
    QString m_latest;
    bool m_fresh = true;

    std::unique_ptr<CommScope> m_own;
    QPointer<CCommStatusDlg> m_dlg;
    QMetaObject::Connection m_cancelClicked;
    // A borrowed window as it was.
    bool m_borrowed = false;
    QHash<int, bool> m_shown;
    QString m_operation;
    QString m_activity;
    int m_oldCancel = 0;
};
