#pragma once

#include <QDialog>
#include <QHash>
#include <QPointer>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Parallel.h"
#include "Task.h"
#include "Transfer.h"

class CFrameBase;
class CVelmarApp;
class QCloseEvent;

// The communication status window: the view of one user operation's transfer
// (the FTP connect, the FTP directory reading or a copy), which it runs as a job
// while the windows keep painting. It shows the transfer's texts and progress,
// and turns its typed errors into the messages the user reads. Its window is
// made only when the caller asks (Create), otherwise the progress texts go to
// the main window's status bar.
//
// The window is a top-level tool window that follows the main window (centred
// over it, minimised and restored with it) without being its Qt child: the main
// window is disabled during a communication, and a child would be disabled with
// it, leaving no way to press "Cancel Communication".
class CCommStatusDlg : public QDialog, private core::TransferView {
    Q_OBJECT
public:
    enum { IDD = 184 };
    enum ControlId : int {
        IDC_OPERATION = 1032,
        IDC_CANCEL = 1033,
        IDC_MESSAGE = 1034,
        IDC_PROGRESS = 1041,
        IDC_FROM_LABEL = 1042,
        IDC_COPIED_LABEL = 1043,
        IDC_RATE_LABEL = 1044,
        IDC_FROM = 1045,
        IDC_RATE = 1046,
        IDC_HIDE = 1047,
        IDC_TO_LABEL = 1048,
        IDC_TO = 1049,
        IDC_COPIED = 1050,
        IDC_TIME_LABEL = 1051,
        IDC_TIME = 1053,
        IDC_ACTIVITY = 1054,
        IDC_HELP = 1066,
        IDC_TIME_LEFT_LABEL = 1067,
        IDC_TIME_LEFT = 1068,
        // The lines of a batch of several files as a whole.
        IDC_FILES_LABEL = 1069,
        IDC_FILES = 1070,
        IDC_ALL_BYTES_LABEL = 1071,
        IDC_ALL_BYTES = 1072,
        IDC_ALL_RATE_LABEL = 1073,
        IDC_ALL_RATE = 1074,
        IDC_ALL_TIME_LEFT_LABEL = 1075,
        IDC_ALL_TIME_LEFT = 1076,
        IDC_IN_FLIGHT_LABEL = 1077,
        IDC_IN_FLIGHT = 1078,
    };

    // parent: the main window, which owns the status window.
    explicit CCommStatusDlg(QWidget* parent = nullptr);
    ~CCommStatusDlg() override;

    // Makes and shows the window; m_cancel starts at 0.
    bool Create();
    bool HasWindow() const { return m_created; }
    QWidget* Control(int id) const { return m_controls.value(id); }
    void SetDlgItemText(int id, const QString& text);
    QString GetDlgItemText(int id) const;

    // For work with nothing to copy (a folder delete): the Operation and Activity
    // lines and Cancel, nothing else. Returns which controls were shown before,
    // for RestoreControls when a copy's window is lent to such work meanwhile.
    QHash<int, bool> ShowCancelOnly();
    void RestoreControls(const QHash<int, bool>& shown);

    // Shared operations of the routines.
    void ShowTransferControls() { m_transfer->ShowTransferControls(); }
    bool UpdateProgress(std::uint64_t blockIndex, std::uint64_t totalLength) {
        return m_transfer->UpdateProgress(blockIndex, totalLength);
    }
    bool CheckCancel() { return m_transfer->CheckCancel(); }
    void ReportCopyError() { m_transfer->ReportCopyError(); }
    void ReportCopyError(const std::exception& error) { m_transfer->ReportCopyError(error); }
    void ReportConnectError() { m_transfer->ReportConnectError(); }
    // Refuses (with "Error Copying Folder") a destination that is the source
    // folder or lies below it. Both folders must be on the same side; a copy
    // across sides cannot land inside its source and is not checked.
    bool CheckFolderNotInside(const QString& source, const QString& destination) {
        return m_transfer->CheckFolderNotInside(source, destination);
    }

    // The connection to the active profile's server.
    core::Task<bool> Connect();
    // Fills the site's FTP listing from the main connection's directory; throws
    // CInternetException when the reading fails.
    core::Task<void> ReadFtpDirectory();
    // Enters path (none: the folder the connection is in) and reads it into the
    // site's listing.
    core::Task<core::FolderRead> ReadFtpFolder(QString path);

    core::Task<bool> CopyLocalToFtp(QString localPath, QString remotePath);
    core::Task<bool> CopyFtpToLocal(QString remotePath, QString localPath);
    core::Task<bool> CopyFtpToFtp(QString sourcePath, QString destinationPath);

    // Several files of one direction, as one operation that copies a few at a
    // time; each file is refused or replaced as its copy on its own would be.
    core::Task<bool> CopyFiles(std::vector<core::BatchFile> files);

    core::Task<bool> CopyFolderLocalToFtp(QString source, QString destination);
    core::Task<bool> CopyFolderFtpToLocal(QString source, QString destination);
    core::Task<bool> CopyFolderFtpToFtp(QString source, QString destination);
    // A file copied between two local folders through the block loop, with the
    // window's progress and Cancel; an existing destination is replaced only once
    // the copy is whole.
    core::Task<bool> CopyLocalToLocal(QString source, QString destination);

    static bool WaitForConnectWorkers(int timeoutMs) {
        return core::Transfer::WaitForConnectWorkers(timeoutMs);
    }

    // Button handlers.
    void OnCancelCommunication();
    void OnHideProgram();
    void OnHelp();

    // The status bar's first pane; from a job it is written on the interface thread.
    void SetPane0(const QString& text);

    CFrameBase* m_mainFrame = nullptr;
    // Set by Cancel on the interface thread, read by the running job and by the
    // FTP waits it is in.
    std::atomic<int> m_cancel{0};
    CVelmarApp* m_app = nullptr;

    // Called after every finished block of a copy (for tests and diagnostics),
    // on the thread that runs the copy.
    std::function<void(const BlockReport&)> m_blockObserver;

    static constexpr int kConnectWaitMs = core::Transfer::kConnectWaitMs;

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using Clock = std::chrono::steady_clock;

    void BuildControls();
    // The window grows by the lines of a batch the first time one is written.
    void RevealBatchLines();
    // Runs an operation as a job: on a worker thread, with this window's Cancel
    // as its stop request, while the windows keep painting. From within a job
    // (a file of a folder copy) it runs at once.
    template <typename Body>
    core::Task<bool> AsJob(Body body);
    // Tells a copy's refusal, made before the copy starts; true when there is one.
    bool Refused(const std::optional<core::TransferError>& refusal);
    QWidget* BoxOwner() const;
    void ReportBusy();
    // Lets the extra connections of copies and deletions ask about certificates.
    static void InstallCertificateQuestion();

    // What the transfer shows, on the interface thread.
    void ShowLine(core::StatusLine line, const QString& text) override;
    void ShowStatus(const QString& text) override;
    void ShowConnectStep(const QString& text) override;
    void ShowProgress(int position) override;
    void RevealTransferControls() override;
    void Failed(const core::TransferError& error) override;
    CertificateAnswer AskAboutCertificate(const CertificateVerdict& verdict) override;
    CertificateAnswer AskAboutHostKey(const core::HostKeyInfo& key) override;
    std::optional<QString> AskPassphrase(const QString& keyPath) override;
    std::optional<QString> AskPrompt(const QString& prompt) override;
    bool ShowsProgress() const override { return m_created; }
    bool StartingUp() const override;
    bool WatchesBlocks() const override { return static_cast<bool>(m_blockObserver); }
    void BlockFinished(const BlockReport& report) override;

    bool m_created = false;
    bool m_transferControlsShown = false;
    bool m_batchLinesShown = false;
    bool m_hiddenWithOwner = false;
    QPointer<QWidget> m_watchedFrame; // the main window, while it lives
    QHash<int, QWidget*> m_controls;
    std::unique_ptr<core::Transfer> m_transfer;
};
