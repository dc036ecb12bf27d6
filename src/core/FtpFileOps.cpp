#include "FtpFileOps.h"

#include "FtpConnection.h"
#include "FtpControl.h"
#include "FtpFileFind.h"
#include "FtpRemote.h"
#include "InternetException.h"
#include "Interrupt.h"
#include "Job.h"
#include "NameCodec.h"

namespace core {
namespace {
const QString kNoConnection = QStringLiteral("There is no connection to the server.");
const QString kCancelled = QStringLiteral("The operation was cancelled.");
// A reply is shown in a message box: a hostile server's megabyte of text or its
// control characters must not reach it.
constexpr qsizetype kMaxWords = 500;

QString ShownWords(const std::string& text) {
    QString words = QString::fromUtf8(text.data(), qsizetype(text.size()));
    for (QChar& c : words)
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\n'))
            c = QLatin1Char('?');
    if (words.size() > kMaxWords)
        words = words.left(kMaxWords) + QStringLiteral("...");
    return words;
}

OpResult Stopped(FileOp op, const QString& path) {
    return OpResult::Error(op, OpErrorKind::Cancelled, path, kCancelled);
}

OpErrorKind KindOfRemote(const RemoteError& e) {
    switch (e.kind()) {
    case RemoteError::Kind::Cancelled:
        return OpErrorKind::Cancelled;
    case RemoteError::Kind::Lost:
    case RemoteError::Kind::TimedOut:
        return OpErrorKind::ConnectionLost;
    case RemoteError::Kind::Refused:
    case RemoteError::Kind::Broken:
    case RemoteError::Kind::NoResume:
        break;
    }
    return OpErrorKind::Failed;
}

// Runs step with cancel as its stop request and turns what it throws into the
// operation's result. An
// FTP connection takes ftpStep, with the FTP classes' own account of a failure;
// any other takes step over the remote-site interface.
template <typename FtpStep, typename Step>
OpResult Guarded(FileOp op, const QString& path, RemoteConnection* remote,
               const std::atomic<int>* cancel, FtpStep&& ftpStep, Step&& step) {
    if (!remote)
        return OpResult::Error(op, OpErrorKind::Failed, path, kNoConnection);
    auto* ftp = dynamic_cast<FtpRemote*>(remote);
    return RunHere(
            [&]() -> OpResult {
                if (ftp::Interrupted())
                    return Stopped(op, path);
                if (ftp) {
                    CFtpConnection& connection = ftp->Connection();
                    try {
                        return ftpStep(connection);
                    } catch (const CInternetException& e) {
                        return OpResult::Error(op, KindOf(connection, e), path, e.Message());
                    }
                }
                try {
                    return step(*remote);
                } catch (const RemoteError& e) {
                    return OpResult::Error(op, KindOfRemote(e), path, ShownWords(e.words().toStdString()));
                }
            },
            cancel);
}

template <typename Generic>
OpResult OneCommand(FileOp op, const char* verb, RemoteConnection* connection,
                    const QString& path, const std::atomic<int>* cancel, Generic generic) {
    return Guarded(
        op, path, connection, cancel,
        [&](CFtpConnection& c) {
            QString words;
            if (FtpPathCommand(c, verb, path, words))
                return OpResult::Done(op);
            return OpResult::Error(op, OpErrorKind::Failed, path, words);
        },
        [&](RemoteConnection& c) {
            generic(c);
            return OpResult::Done(op);
        });
}

FtpFound FindNow(CFtpConnection& connection, const QString& path, QString* words,
                 bool* lost = nullptr) {
    CFtpFileFind find(&connection, 1);
    const bool found = find.FindFile(path, INTERNET_FLAG_RELOAD);
    const bool failed = find.Failed();
    if (failed && words)
        *words = find.ErrorText();
    if (lost)
        *lost = find.ConnectionLost();
    find.Close();
    if (failed)
        return FtpFound::LookupFailed;
    return found ? FtpFound::Something : FtpFound::Nothing;
}
} // namespace

bool IsCancel(const CInternetException& e) {
    return e.m_dwError == ERROR_INTERNET_OPERATION_CANCELLED || ftp::Interrupted();
}

bool IsConnectionLost(CFtpConnection& connection, const CInternetException& e) {
    const FtpControl& control = connection.Control();
    return !IsCancel(e) && !control.Alive() && !control.ReconnectDue();
}

OpErrorKind KindOf(CFtpConnection& connection, const CInternetException& e) {
    if (IsCancel(e))
        return OpErrorKind::Cancelled;
    return IsConnectionLost(connection, e) ? OpErrorKind::ConnectionLost : OpErrorKind::Failed;
}

bool FtpPathCommand(CFtpConnection& connection, const char* verb, const QString& path,
                    QString& words, int replyClass) {
    FtpControl& control = connection.Control();
    std::string arg;
    words = QStringLiteral("The name cannot be sent to this server.");
    if (path.isEmpty() || !CommandPath(control, path, arg, &words))
        return false;
    if (control.m_openFile) {
        words = QStringLiteral("A transfer is still running on this connection.");
        return false;
    }
    // Nothing is sent once a stop has come; a stop during the wait gives the
    // socket up (the next command logs in again), so a late reply is never read
    // as the next command's.
    ftp::ThrowIfInterrupted();
    const FtpReply reply = connection.Change(verb, path, arg);
    words = ShownWords(reply.text);
    return reply.Is(replyClass);
}

OpResult CreateFtpFolder(RemoteConnection* connection, const QString& path,
                         const std::atomic<int>* cancel) {
    return OneCommand(FileOp::CreateFolder, "MKD", connection, path, cancel,
                      [&](RemoteConnection& c) { c.MakeFolder(path); });
}

OpResult DeleteFtpFile(RemoteConnection* connection, const QString& path,
                       const std::atomic<int>* cancel) {
    return OneCommand(FileOp::DeleteFile, "DELE", connection, path, cancel,
                      [&](RemoteConnection& c) { c.DeleteFile(path); });
}

OpResult DeleteEmptyFtpFolder(RemoteConnection* connection, const QString& path,
                              const std::atomic<int>* cancel) {
    return OneCommand(FileOp::DeleteFolder, "RMD", connection, path, cancel,
                      [&](RemoteConnection& c) { c.DeleteFolder(path); });
}

namespace {
const QString kNameTaken = QStringLiteral("A file or folder of that name exists.");

OpResult RenameOverFtp(CFtpConnection& c, const QString& from, const QString& to) {
    constexpr FileOp op = FileOp::Rename;
    QString words;
    bool lost = false;
    const FtpFound found = FindNow(c, to, &words, &lost);
    if (ftp::Interrupted())
        return Stopped(op, to);
    if (found == FtpFound::LookupFailed)
        return OpResult::Error(op, lost ? OpErrorKind::ConnectionLost : OpErrorKind::Failed, to,
                               words);
    if (found == FtpFound::Something)
        return OpResult::Error(op, OpErrorKind::NameTaken, to, kNameTaken);
    std::string source;
    std::string target;
    if (!CommandPath(c.Control(), from, source, &words) ||
        !CommandPath(c.Control(), to, target, &words))
        return OpResult::Error(op, OpErrorKind::Failed, to, words);
    const FtpReply reply = c.RenamePath(from, source, to, target);
    if (!reply.Is(2))
        return OpResult::Error(op, OpErrorKind::Failed, reply.Is(3) ? to : from,
                               ShownWords(reply.text));
    return OpResult::Done(op);
}
} // namespace

OpResult RenameFtp(RemoteConnection* connection, const QString& from, const QString& to,
                   const std::atomic<int>* cancel) {
    constexpr FileOp op = FileOp::Rename;
    return Guarded(
        op, to, connection, cancel,
        [&](CFtpConnection& c) { return RenameOverFtp(c, from, to); },
        [&](RemoteConnection& c) {
            if (c.Stat(to))
                return OpResult::Error(op, OpErrorKind::NameTaken, to, kNameTaken);
            c.Rename(from, to);
            return OpResult::Done(op);
        });
}

FtpFound FindFtpPath(RemoteConnection* connection, const QString& path,
                     const std::atomic<int>* cancel) {
    if (!connection)
        return FtpFound::LookupFailed;
    return RunHere(
        [&] {
            try {
                return connection->Stat(path) ? FtpFound::Something : FtpFound::Nothing;
            } catch (const RemoteError&) {
                return FtpFound::LookupFailed;
            }
        },
        cancel);
}

FtpLookUp LookUpFtp(RemoteConnection* connection, const QString& path,
                    const std::atomic<int>* cancel) {
    FtpLookUp result;
    if (!connection)
        return result;
    try {
        result.entry = RunHere([&] { return connection->Stat(path); }, cancel);
        result.failed = false;
    } catch (const std::exception&) {
        result.entry.reset();
    }
    return result;
}

Task<FtpLookUp> LookUpFtpJob(RemoteConnection* connection, QString path) {
    try {
        co_return co_await Job([&] { return LookUpFtp(connection, path); });
    } catch (const JobBusy&) {
    }
    co_return FtpLookUp{};
}

Task<OpResult> RenameFtpJob(RemoteConnection* connection, QString from, QString to) {
    co_return co_await OpJob(
        FileOp::Rename, [&] { return RenameFtp(connection, from, to); }, to);
}

} // namespace core
