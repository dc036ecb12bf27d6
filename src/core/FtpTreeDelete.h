#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <set>
#include <string>

#include "OpResult.h"

namespace core {

class RemoteConnection;
class RemoteError;
struct RemoteEntry;

// Called on the worker after each entry that is gone, with the running count
// and the entry's path.
using DeleteProgress = std::function<void(int deleted, const QString& path)>;

// Deletes an FTP folder with everything in it, depth first, over the one
// connection it is given: a server that allows few connections per address is
// never asked for another. Links are removed as links and never walked into; the
// walk stops at kMaxDepth levels and at a folder it has already been in (where
// the server offers "unique" facts). The stop request of the thread it runs on
// is looked at before every entry and cuts a wait for the server short.
class FtpTreeDelete {
public:
    static constexpr int kMaxDepth = 64;

    explicit FtpTreeDelete(RemoteConnection* connection, DeleteProgress progress = {})
        : m_connection(connection), m_progress(std::move(progress)) {}

    // path: the folder, ending in "/". True when it is gone. Runs on the calling
    // thread.
    bool Run(const QString& path);
    // After a failure or a stop: what went wrong, where the walk stopped and
    // what is left.
    QString Report() const;
    // The outcome as a result for the view.
    OpResult Result() const;
    int Deleted() const { return m_deleted; }

private:
    bool DeleteSelf(const QString& path);
    bool DeleteFolder(const QString& path, const std::string& unique, int depth);
    bool DeleteEntry(const QString& folder, const RemoteEntry& entry, int depth);
    bool DeleteFile(const QString& path);
    bool DeleteLink(const QString& path);
    bool RemoveFolder(const QString& path);
    bool Gone(const QString& path);
    bool Stopped(const QString& where);
    bool Fail(const QString& reason, const QString& where, const QString& words = QString());
    bool FailOn(const RemoteError& e, const QString& reason = QString());

    RemoteConnection* m_connection;
    DeleteProgress m_progress;
    std::set<std::string> m_seen;
    QString m_root;
    QString m_current;
    QString m_reason;
    QString m_where;
    QString m_words;
    int m_deleted = 0;
    bool m_done = false;
    bool m_cancelled = false;
    bool m_inFlight = false; // the stop came while the server's answer was due
    bool m_connectionUsable = true;
    bool m_lost = false; // the connection was lost and could not be made again
};

// The tree delete on the calling thread (see FtpFileOps.h), with cancel as its
// stop request.
OpResult DeleteFtpTree(RemoteConnection* connection, const QString& path,
                       const std::atomic<int>* cancel = nullptr, DeleteProgress progress = {});

} // namespace core
