#pragma once

#include <QString>
#include <atomic>
#include <optional>

#include "Job.h"
#include "OpResult.h"
#include "RemoteSite.h"

class CFtpConnection;
class CInternetException;

namespace core {
class RemoteConnection;
}

// Create, rename and delete on the remote side, each on the calling thread: a
// job's worker (the views await them through core::Job). cancel, when given, is
// the stop request. A stop that comes while the server's reply is due closes the
// connection (the FTP classes do so), so that reply is never read as another
// command's; the result then says Cancelled.
namespace core {

OpResult CreateFtpFolder(RemoteConnection* connection, const QString& path,
                         const std::atomic<int>* cancel = nullptr);

// Never replaces: a name that the server lists already is refused (NameTaken),
// and so is a rename whose target cannot be looked up, as servers rename over an
// existing file without a word.
OpResult RenameFtp(RemoteConnection* connection, const QString& from, const QString& to,
                   const std::atomic<int>* cancel = nullptr);

// One file, or a link (itself, never what it points to).
OpResult DeleteFtpFile(RemoteConnection* connection, const QString& path,
                       const std::atomic<int>* cancel = nullptr);

// An empty folder.
OpResult DeleteEmptyFtpFolder(RemoteConnection* connection, const QString& path,
                              const std::atomic<int>* cancel = nullptr);

// A path's own entry (a link itself).
struct FtpLookUp {
    bool failed = true; // the look-up itself failed: nothing is known
    std::optional<RemoteEntry> entry;
};
FtpLookUp LookUpFtp(RemoteConnection* connection, const QString& path,
                    const std::atomic<int>* cancel = nullptr);

// What a lookup of one path found.
enum class FtpFound { Nothing, Something, LookupFailed };
FtpFound FindFtpPath(RemoteConnection* connection, const QString& path,
                     const std::atomic<int>* cancel = nullptr);

// For work on a worker thread. Sends "verb path" for a command that makes or
// removes path (MKD, DELE, RMD) and reads the reply: true on a reply of class
// replyClass, false with the server's words on a refusal (or the reason when
// the path cannot be sent at all). A connection lost before the reply is made
// afresh and the path looked up rather than the command simply sent again (see
// CFtpConnection::Change). Throws CInternetException when the connection is lost
// and cannot be made afresh, or the stop request cuts the wait short (nothing
// is sent once it has come).
bool FtpPathCommand(CFtpConnection& connection, const char* verb, const QString& path,
                    QString& words, int replyClass = 2);

// One of the operations above as a job, for a task of the views: a job refused
// because another one holds the connection comes back as a failure of op at path
// that touched nothing.
template <typename Fn>
Task<OpResult> OpJob(FileOp op, Fn fn, QString path, const std::atomic<int>* cancel = nullptr) {
    QString busy;
    try {
        co_return co_await Job(std::move(fn), cancel);
    } catch (const JobBusy& e) {
        busy = QString::fromLocal8Bit(e.what());
    }
    co_return OpResult::Error(op, OpErrorKind::Failed, path, busy);
}

// The look-up and the rename as jobs for a task of the views: a connection held by
// another operation is a failed look-up, or a failed rename that touched nothing.
Task<FtpLookUp> LookUpFtpJob(RemoteConnection* connection, QString path);
Task<OpResult> RenameFtpJob(RemoteConnection* connection, QString from, QString to);

// Whether an exception from the FTP classes is a stop on request.
bool IsCancel(const CInternetException& e);
// Whether it is the connection to the server, lost and not made afresh (never
// a stop, never the server's no).
bool IsConnectionLost(CFtpConnection& connection, const CInternetException& e);
OpErrorKind KindOf(CFtpConnection& connection, const CInternetException& e);

} // namespace core
