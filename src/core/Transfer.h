#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
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

#include "TransferView.h"

class CFtpConnection;
class LocalFile;
class TransferSource;
class TransferSink;
struct ConnectAttempt;
namespace treescan {
struct Result;
}

namespace core {

// How the reading of a remote folder for the panes went.
struct FolderRead {
    bool read = false;
    // The connection to the server was lost and could not be made again: the
    // failure says nothing about the folder itself.
    bool lost = false;
    QString words; // why it failed, to show
    bool serverWords = false; // words are the server's or the system's own
};

class FtpSite;
class ParallelBatch;
class RemoteConnection;
struct BatchFile;
class RemoteReader;
class RemoteWriter;
struct RemoteEntry;

// Asks the user about a certificate that no one vouches for, for connections
// that are not the main one (those of copies and deletions); set by the views.
// Without it such a certificate is refused.
using CertificateQuestion = std::function<CertificateAnswer(const CertificateVerdict&)>;
void SetCertificateQuestion(CertificateQuestion question);

// The engine of one user operation on the FTP site: the connect, the reading of
// the current FTP folder, and the copies of files and folders in every
// direction. It shows nothing itself: its texts, its progress and its typed
// errors go to the view, on the interface thread.
//
// Its operations block; the caller runs them as a job (on a worker thread, with
// cancel as the stop request), and they may also run on the interface thread,
// where they let waiting events through now and then.
class Transfer {
public:
    Transfer(FtpSite* site, TransferView& view, const std::atomic<int>& cancel);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // The connection to the active profile's server, made on a worker thread of
    // its own so that a silent server can be given up on.
    bool Connect();
    // Fills the site's listing from the main connection's folder; throws
    // CInternetException with the server's words when the reading fails.
    void ReadFtpDirectory();
    // Enters path (none: the folder the connection is in) and reads it into the
    // site's listing. A refused folder never shows the folder the connection was
    // in before: the listing is then empty.
    FolderRead ReadFolder(const QString& path);

    bool CopyLocalToFtp(const QString& localPath, const QString& remotePath);
    bool CopyFtpToLocal(const QString& remotePath, const QString& localPath);
    bool CopyFtpToFtp(const QString& sourcePath, const QString& destinationPath);
    bool CopyFolderLocalToFtp(const QString& source, const QString& destination);
    bool CopyFolderFtpToLocal(const QString& source, const QString& destination);
    bool CopyFolderFtpToFtp(const QString& source, const QString& destination);
    // Through the block loop like the others; an existing destination is
    // replaced only once the copy is whole.
    bool CopyLocalToLocal(const QString& source, const QString& destination);
    // Copies the files in their order, up to the site's number of transfers at
    // once, each on a connection of its own; the first failure stops the others
    // and is told as a copy one at a time would have told it. first (when
    // given) runs before any file, on the main connection, while the others
    // log in; false from it (told already) ends the batch.
    bool CopyBatch(const std::vector<BatchFile>& files, const std::function<bool()>& first = {});
    // The connection the copies use instead of the site's main one (a pool
    // connection of a batch); null: the main one again.
    void UseConnection(RemoteConnection* connection) { m_connection = connection; }
    // Where the copy of one file between two places on the server reads from
    // instead of a connection of its own; null: a new connection for each file.
    void UseSourceConnection(RemoteConnection* connection) { m_sourceConnection = connection; }

    // Refuses (SameFolder) a destination that is the source folder or lies below
    // it; both on one side.
    bool CheckFolderNotInside(const QString& source, const QString& destination);
    bool UpdateProgress(std::uint64_t blockIndex, std::uint64_t totalLength);
    // False (and the cancel told) once the user has pressed Cancel.
    bool CheckCancel();
    // "Error Copying File", or the cancel when the stop request caused the failure.
    void ReportCopyError();
    // The same, with the library's words kept in the error's detail.
    void ReportCopyError(const std::exception& error);
    void ReportConnectError();
    void ShowTransferControls();
    void ShowStatus(const QString& text);
    void ShowLine(StatusLine line, const QString& text);

    // Waits until every connect worker that outlived its Connect has ended (they
    // end by themselves, within the session's time-outs). False on time-out.
    static bool WaitForConnectWorkers(int timeoutMs);

    static constexpr int kConnectWaitMs = 10000;

private:
    friend class ParallelBatch;
    using Clock = std::chrono::steady_clock;
    enum class LengthRule { Exact, ToEndOfData };
    // Whether a copy's destination may already hold a file of that name. Inside a
    // folder the copy has just made it cannot, and nothing is looked up.
    enum class Target { MayExist, Fresh };
    // Where an upload stores its data: under a temporary name beside the final
    // one, which it takes once the data is whole; under the final name itself
    // only where the server refuses the temporary name or the rename.
    struct RemoteTarget {
        QString path;
        QString store;
        bool viaTemp = false;
        bool replacing = false; // a file of the final name exists
    };

    // Runs fn on the interface thread: now when called there, soon otherwise, and
    // never once this transfer is gone.
    void Post(std::function<void()> fn);
    // Runs fn on the interface thread and waits for it.
    void Call(const std::function<void()>& fn);
    void Fail(TransferError error);
    void ShowCancelled();
    // Stores a text under the lock and, once per batch, posts the batch's showing.
    void QueueText(const std::function<void()>& store);
    void FlushTexts();

    static void ConnectThreadProc(std::shared_ptr<ConnectAttempt> attempt);
    // An SFTP site: host key, login, the opener of further connections.
    bool ConnectSftp(const QString& host, int port);
    bool FinishRemoteConnect();
    bool FinishConnect(CFtpConnection* connection);

    // start: the bytes copied before (a block boundary), for a resumed copy.
    // broken (when given): a connection that breaks is not reported but set
    // here, its words in m_lastBreak, for the caller to resume.
    bool RunBlockLoop(std::uint64_t length, TransferSource& source, TransferSink& sink,
                      LengthRule rule, std::uint64_t start = 0, bool* broken = nullptr);
    static bool IsResumable(const std::exception& error);
    // Ends a copy's transfer: true when its connection broke on the way (to be
    // resumed); otherwise copied tells how it ended, a failure reported.
    template <typename File>
    bool CloseOrBreak(bool& copied, File& file);
    // Before the next try of a copy whose connection broke: false (and the
    // copy's message given) after the last try, or on Cancel.
    bool WaitToResume(int attempt, std::uint64_t copied, std::uint64_t length);
    bool BlockDone(std::uint64_t blockIndex, std::uint64_t length);
    bool PollCancel(Clock::time_point now);
    BlockReport MakeReport() const;
    void FlushProgress();
    QString RemoteName(const QString& path) const;
    // The main connection; null when there is none.
    RemoteConnection* Remote() const;
    // The server's own entry for a path; nothing when it lists no such entry.
    // failed (when given) says whether the look-up itself failed.
    std::optional<RemoteEntry> ListedEntry(const QString& remotePath, bool* failed = nullptr);
    // A further connection to the active profile's server; throws RemoteError.
    std::unique_ptr<RemoteConnection> OpenExtraConnection();
    bool CloseAfterCopy(bool copied, RemoteWriter* writer, RemoteReader* reader = nullptr);
    // How long clearing up and putting a finished file in place may take.
    static constexpr std::chrono::milliseconds kCleanupGrace{5000};

    bool UploadLocal(const QString& localPath, const QString& remotePath, Target target);
    bool CopyRemoteFile(const QString& sourcePath, const QString& destinationPath, Target target);
    // Where a resumed copy goes on: the local part cut to whole blocks of a
    // source that has not changed, else 0 (the file starts over).
    std::uint64_t DownloadResumePoint(const QString& remotePath,
                                      const std::optional<RemoteEntry>& stamp, LocalFile& local);
    std::uint64_t UploadResumePoint(const RemoteTarget& target, LocalFile& local,
                                    std::pair<std::uint64_t, std::int64_t> stamp,
                                    std::uint64_t length);
    bool CommitDownload(LocalFile& local, const QString& localPath, bool copied,
                        std::uint64_t received, std::optional<std::uint64_t> exact);
    RemoteTarget PlanRemoteTarget(const QString& path, Target target);
    // Opens the upload's data connection; a refused temporary name falls back to
    // the final one, for a new name only.
    std::unique_ptr<RemoteWriter> OpenStore(RemoteTarget& target);
    bool FinishRemoteTarget(const RemoteTarget& target, bool copied);
    bool PlaceNewFile(const RemoteTarget& target);
    // After a rename refused for a new name: once, the copy is made again
    // straight under its final name.
    bool TakeDirectRetry();
    // A copy that ended short of the size the server announced (or stored fewer
    // bytes than were sent) is an error, told here.
    bool ArrivedWhole(std::uint64_t received, std::optional<std::uint64_t> expected);
    bool StoredWhole(const QString& store, std::uint64_t sent);
    bool SwapRemoteFile(const QString& store, const QString& path);
    bool RemoveRemoteQuietly(const QString& path);
    // Removes an unfinished upload's temporary file, or says where it is left.
    void RemoveUnfinished(const QString& path);
    // The size the server reports for a file now; nothing when it does not say.
    std::optional<std::uint64_t> ServerSize(const QString& remotePath);
    bool CopyLocalFileThroughLoop(const QString& source, const QString& destination);

    void ReadRemoteFolder(RemoteConnection& remote, const QString& folder);
    bool ScanRemoteTree(const QString& source, treescan::Result& scan);
    bool ScanRemoteFolder(RemoteConnection& connection, const QString& path,
                          const QString& relative, int level, treescan::Result& scan);
    bool RemoteLinkIsFolder(RemoteConnection& connection, const RemoteEntry& entry,
                            const QString& path);
    // Tells why a scan stopped (a cancel has been told already); true when it did.
    bool ScanStopped(const treescan::Result& scan);
    bool CreateRemoteFolder(const QString& path);
    bool CreateLocalFolder(const QString& path);
    void ReportCreateFolderError();

    FtpSite* m_site;
    RemoteConnection* m_connection = nullptr;
    RemoteConnection* m_sourceConnection = nullptr;
    // The exact size a scan listed for the file being copied: SIZE would only
    // repeat it.
    QString m_listedPath;
    std::optional<std::uint64_t> m_listedSize;
    TransferView& m_view;
    const std::atomic<int>& m_cancel;
    // Alive while this transfer is: what was posted to the interface thread
    // looks at it before it touches the view.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);

    // Texts set off the interface thread are gathered and shown together: a
    // folder of small files sets several per file, and one trip serves them all.
    std::mutex m_textMutex;
    // The lines keep their latest text; the status bar gets each in turn (a
    // file's "Copying" and "Ready" both belong to its history).
    QHash<int, QString> m_texts; // by StatusLine
    QStringList m_statusTexts;
    bool m_textsPosted = false;

    // State of the copy in progress.
    std::vector<char> m_buffer;
    Clock::time_point m_fileStart;
    Clock::time_point m_lastPump;
    std::uint64_t m_lastBlock = 0;
    std::uint64_t m_lastLength = 0;
    std::uint64_t m_lastElapsed = 0;
    Clock::duration m_lastElapsedExact{};
    bool m_progressPending = false;

    bool m_directRetry = false;
    QString m_lastBreak; // why the last resumable copy broke

    // Resumed copies: how many tries after a break, and the waits before them.
    static constexpr int kResumeTries = 5;
    // Smaller files start over after a break rather than resume: a look-up more
    // per file costs them more than it could save.
    static constexpr std::uint64_t kResumeFloor = 1024 * 1024;

    // The MLSD "unique" facts of the folders a remote scan has entered.
    std::set<std::string> m_seenFolders;
};

} // namespace core
