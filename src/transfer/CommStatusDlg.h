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
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class CFrameBase;
class CVelmarApp;
class CFtpConnection;
class CInternetFile;
class LocalFile;
class QCloseEvent;
class TransferSource;
class TransferSink;
struct ConnectAttempt;
struct FtpListEntry;
namespace treescan {
struct Result;
}

// Closes and deletes a connection that a copy opened for itself.
struct ConnectionCloser {
    void operator()(CFtpConnection* connection) const;
};
using ExtraConnection = std::unique_ptr<CFtpConnection, ConnectionCloser>;

// What a copy has shown for one finished 1000-byte block: the texts of the
// bytes-copied, bytes-per-second and time lines and the bar position, exactly as
// they stand for that block (the widgets themselves are refreshed less often).
struct BlockReport {
    std::uint64_t blockIndex = 0;
    QString bytesCopied;    // line 1050
    QString bytesPerSecond; // line 1046
    QString elapsed;        // line 1053
    QString timeLeft;       // line 1068
    int position = 0;       // the progress bar
};

// The communication status window, and the object that carries the FTP connect,
// the FTP directory reading and every copy. One object serves one user operation;
// its window is made only when the caller asks (Create), otherwise the progress
// texts go to the main window's status bar.
//
// The window is a top-level tool window that follows the main window (centred
// over it, minimised and restored with it) without being its Qt child: the main
// window is disabled during a communication, and a child would be disabled with
// it, leaving no way to press "Cancel Communication".
class CCommStatusDlg : public QDialog {
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

    // Shared operations of the routines.
    void ShowTransferControls();
    bool UpdateProgress(std::uint64_t blockIndex, std::uint64_t totalLength);
    bool CheckCancel();
    void ReportCopyError();
    void ReportCopyError(const std::exception& error);
    void ReportConnectError();
    // Refuses (with "Error Copying Folder") a destination that is the source
    // folder or lies below it. Both folders must be on the same side; a copy
    // across sides cannot land inside its source and is not checked.
    bool CheckFolderNotInside(const QString& source, const QString& destination);

    // The connection to the active profile's server, made on a worker thread.
    bool Connect();
    // Fills the application's FTP listing from the main connection's directory.
    void ReadFtpDirectory();

    bool CopyLocalToFtp(QString localPath, QString remotePath);
    bool CopyFtpToLocal(QString remotePath, QString localPath);
    bool CopyFtpToFtp(QString sourcePath, QString destinationPath);

    bool CopyFolderLocalToFtp(QString source, QString destination);
    bool CopyFolderFtpToLocal(QString source, QString destination);
    bool CopyFolderFtpToFtp(QString source, QString destination);
    // A file copied between two local folders through the block loop, with the
    // window's progress and Cancel; an existing destination is replaced only once
    // the copy is whole.
    bool CopyLocalToLocal(QString source, QString destination);

    // Waits until every connect worker that outlived its Connect has ended (they
    // end by themselves, within the session's time-outs). False on time-out.
    static bool WaitForConnectWorkers(int timeoutMs);

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

    static constexpr int kConnectWaitMs = 10000;

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using Clock = std::chrono::steady_clock;
    enum class LengthRule { Exact, ToEndOfData };

    void BuildControls();
    void WaitUntilDrawn();
    // Runs fn on the interface thread: now when called there, soon from a job
    // (and never once the window is gone).
    void OnUi(std::function<void()> fn);
    // Runs an operation as a job: on a worker thread, with this window's Cancel
    // as its stop request, while the windows keep painting. From within a job
    // (a file of a folder copy) it runs at once.
    bool AsJob(const std::function<bool()>& body);
    // Texts a job sets are gathered and shown together: a folder of small files
    // sets several per file, and one trip to the interface thread serves them all.
    void QueueText(int id, const QString& text);
    void ShowQueuedTexts();
    void ShowConnectText(const QString& text);
    QWidget* BoxOwner() const;
    void ShowCancelled();

    static void ConnectThreadProc(std::shared_ptr<ConnectAttempt> attempt);
    bool FinishConnect(CFtpConnection* connection);

    bool RunBlockLoop(std::uint64_t length, TransferSource& source, TransferSink& sink,
                      LengthRule rule);
    bool BlockDone(std::uint64_t blockIndex, std::uint64_t length);
    bool PollCancel(Clock::time_point now);
    BlockReport MakeReport() const;
    void FlushProgress();
    QString RemoteName(const QString& path) const;
    // The server's own entry for a path; nothing when it lists no such entry.
    // failed (when given) says whether the look-up itself failed.
    std::optional<FtpListEntry> ListedEntry(const QString& remotePath, bool* failed = nullptr);
    // A further connection to the active profile's server; throws CInternetException.
    ExtraConnection OpenExtraConnection();
    bool CloseAfterCopy(bool copied, std::initializer_list<CInternetFile*> files);
    bool CloseUploadAfterCopy(bool copied, CInternetFile* file);
    // How long the blocks done before Cancel may take to reach the server.
    static constexpr std::chrono::milliseconds kCancelGrace{750};

    // Whether a copy's destination may already hold a file of that name. Inside a
    // folder the copy has just made it cannot, and nothing is looked up.
    enum class Target { MayExist, Fresh };
    // Where an upload stores its data: under the final name, or, when that would
    // replace an existing file, under a temporary name beside it.
    struct RemoteTarget {
        QString path;
        QString store;
        bool viaTemp = false;
    };
    bool UploadLocal(const QString& localPath, const QString& remotePath, Target target);
    bool CopyRemoteFile(const QString& sourcePath, const QString& destinationPath, Target target);
    bool DownloadInto(LocalFile& local, CInternetFile& remote, std::uint64_t length);
    bool CommitDownload(LocalFile& local, const QString& remotePath, const QString& localPath,
                        bool copied, std::uint64_t received);
    RemoteTarget PlanRemoteTarget(const QString& path, Target target);
    bool FinishRemoteTarget(const RemoteTarget& target, bool copied);
    bool SwapRemoteFile(const QString& store, const QString& path);
    bool RemoveRemoteQuietly(const QString& path);
    // Removes an unfinished upload's temporary file, or says where it is left.
    void RemoveUnfinished(const QString& path);
    // The size the server reports for a file now; nothing when it does not say.
    std::optional<std::uint64_t> ServerSize(const QString& remotePath);
    bool CopyLocalFileThroughLoop(const QString& source, const QString& destination);

    bool ScanRemoteTree(const QString& source, treescan::Result& scan);
    bool ScanRemoteFolder(CFtpConnection* connection, const QString& path, const QString& relative,
                          int level, treescan::Result& scan);
    bool RemoteLinkIsFolder(CFtpConnection* connection, const FtpListEntry& entry,
                            const QString& path);
    bool ScanStopped(const treescan::Result& scan);
    bool CreateRemoteFolder(const QString& path);
    bool CreateLocalFolder(const QString& path);
    void ReportCreateFolderError();

    bool m_created = false;
    std::atomic<bool> m_transferControlsShown{false}; // read by a job too
    bool m_hiddenWithOwner = false;
    QPointer<QWidget> m_watchedFrame; // the main window, while it lives
    QHash<int, QWidget*> m_controls;
    std::mutex m_queueMutex;
    QHash<int, QString> m_queuedTexts; // by control; kPane0 for the status bar
    bool m_queuePosted = false;
    static constexpr int kPane0 = -1;

    // State of the copy in progress.
    std::vector<char> m_buffer;
    Clock::time_point m_fileStart;
    Clock::time_point m_lastPump;
    std::uint64_t m_lastBlock = 0;
    std::uint64_t m_lastLength = 0;
    std::uint64_t m_lastElapsed = 0;
    Clock::duration m_lastElapsedExact{};
    bool m_progressPending = false;

    // The MLSD "unique" facts of the folders a remote scan has entered.
    std::set<std::string> m_seenFolders;
};
