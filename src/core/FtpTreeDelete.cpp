#include "FtpTreeDelete.h"

#include <vector>

#include "FtpConnection.h"
#include "FtpControl.h"
#include "FtpFileFind.h"
#include "FtpFileOps.h"
#include "InternetException.h"
#include "Interrupt.h"
#include "Job.h"
#include "PathRules.h"
#include "ServerWords.h"

namespace core {

using pathrules::WithoutTrailingSlash;

namespace {
const QString kCancelReason = QStringLiteral("The delete was cancelled.");
} // namespace

bool FtpTreeDelete::Run(const QString& path) {
    m_root = path;
    m_current = path;
    if (!m_connection)
        return Fail(QStringLiteral("There is no connection to the server."), path);
    try {
        m_done = DeleteSelf(path);
        return m_done;
    } catch (const CInternetException& e) {
        return FailOn(e);
    } catch (const std::exception& e) {
        return Fail(QString::fromLocal8Bit(e.what()), m_current);
    }
}

bool FtpTreeDelete::FailOn(const CInternetException& e) {
    if (IsCancel(e)) {
        Stopped(m_current);
        // Only a stop that came between a command and its reply leaves the
        // command's outcome unknown; one before the command was sent did not.
        m_inFlight = m_connection->Control().OutcomeUnknown();
        m_words = e.Message();
        return false;
    }
    m_lost = IsConnectionLost(*m_connection, e);
    return Fail(ExplainServerWords(e.Message()), m_current, e.Message());
}

bool FtpTreeDelete::FindFailed(const CFtpFileFind& find, const QString& reason,
                               const QString& where) {
    if (ftp::Interrupted())
        return Stopped(where);
    m_lost = find.ConnectionLost();
    return Fail(reason + ExplainServerWords(find.ErrorText()), where, find.ErrorText());
}

bool FtpTreeDelete::DeleteSelf(const QString& path) {
    // The folder's own entry says whether it is a link (a link chosen for a
    // delete or standing where a copy goes), and gives its unique fact.
    CFtpFileFind find(m_connection);
    const bool found = find.FindFile(WithoutTrailingSlash(path));
    if (find.Failed())
        return FindFailed(find, QString(), path);
    if (!found || find.Entries().empty())
        return Fail(QStringLiteral("The server does not list the folder."), path);
    const FtpListEntry self = find.Entries().front();
    if (self.isLink)
        return DeleteLink(WithoutTrailingSlash(path));
    return DeleteFolder(path, self.unique, 1);
}

bool FtpTreeDelete::DeleteFolder(const QString& path, const std::string& unique, int depth) {
    m_current = path;
    if (depth > kMaxDepth)
        return Fail(
            QStringLiteral("The folders are nested more than %1 levels deep.").arg(kMaxDepth),
            path);
    if (!unique.empty() && !m_seen.insert(unique).second)
        return Fail(QStringLiteral("The server shows this folder a second time inside itself "
                                   "(a loop)."),
                    path);
    std::vector<FtpListEntry> entries;
    {
        CFtpFileFind find(m_connection);
        find.FindFile(path + QStringLiteral("*.*"));
        if (find.Failed())
            return FindFailed(find, QStringLiteral("The folder could not be read: "), path);
        entries = find.Entries();
    }
    for (const FtpListEntry& entry : entries) {
        if (ftp::Interrupted())
            return Stopped(path);
        if (!DeleteEntry(path, entry, depth))
            return false;
    }
    if (ftp::Interrupted())
        return Stopped(path);
    return RemoveFolder(path);
}

bool FtpTreeDelete::DeleteEntry(const QString& folder, const FtpListEntry& entry, int depth) {
    if (!pathrules::IsPathElement(entry.name))
        return true;
    const QString path = folder + entry.name;
    if (entry.isLink)
        return DeleteLink(path);
    if (!entry.isFolder)
        return DeleteFile(path);
    // A folder whose name begins with "." is kept; the folder holding it then
    // cannot be removed, and that is reported.
    if (entry.name.startsWith(QLatin1Char('.')))
        return true;
    return DeleteFolder(path + QLatin1Char('/'), entry.unique, depth + 1);
}

bool FtpTreeDelete::DeleteFile(const QString& path) {
    m_current = path;
    QString words;
    if (!FtpPathCommand(*m_connection, "DELE", path, words))
        return Fail(QStringLiteral("The server refused to delete the file."), path, words);
    return Gone(path);
}

bool FtpTreeDelete::DeleteLink(const QString& path) {
    m_current = path;
    // Some servers refuse DELE for a link to a folder and take RMD, which
    // removes a link and never a folder it points to.
    QString words;
    if (!FtpPathCommand(*m_connection, "DELE", path, words) &&
        !FtpPathCommand(*m_connection, "RMD", path, words))
        return Fail(QStringLiteral("The server refused to delete the link."), path, words);
    return Gone(path);
}

bool FtpTreeDelete::RemoveFolder(const QString& path) {
    m_current = path;
    QString words;
    if (!FtpPathCommand(*m_connection, "RMD", WithoutTrailingSlash(path), words))
        return Fail(QStringLiteral("The server refused to remove the folder; it may still "
                                   "hold items that were not deleted."),
                    path, words);
    return Gone(path);
}

bool FtpTreeDelete::Stopped(const QString& where) {
    m_cancelled = true;
    const FtpControl& control = m_connection->Control();
    m_connectionUsable = control.Alive() || control.ReconnectDue();
    return Fail(kCancelReason, where);
}

bool FtpTreeDelete::Gone(const QString& path) {
    ++m_deleted;
    if (m_progress)
        m_progress(m_deleted, path);
    return true;
}

bool FtpTreeDelete::Fail(const QString& reason, const QString& where, const QString& words) {
    m_reason = reason;
    m_where = where;
    m_words = words;
    return false;
}

QString FtpTreeDelete::Report() const {
    QString text = m_reason.isEmpty() ? QStringLiteral("The delete failed.") : m_reason;
    text += QStringLiteral("\n\nThe delete stopped at ") + pathrules::Shown(m_where) +
            QStringLiteral(".\n");
    if (m_inFlight)
        text += QStringLiteral("Whether that item itself is gone is not known: the server had "
                               "not answered yet.\n");
    if (m_cancelled && !m_connectionUsable)
        text += QStringLiteral("The connection to the server was closed by the stop.\n");
    if (m_deleted == 0)
        return text + QStringLiteral("Nothing was deleted.");
    return text + QStringLiteral("%1 item(s) were deleted; %2 remains on the server with "
                                 "everything that was not deleted yet.")
                      .arg(m_deleted)
                      .arg(pathrules::Shown(m_root));
}

OpResult FtpTreeDelete::Result() const {
    if (m_done)
        return OpResult::Done(FileOp::DeleteFolder);
    const auto kind = m_cancelled ? OpErrorKind::Cancelled
                      : m_lost    ? OpErrorKind::ConnectionLost
                                  : OpErrorKind::Failed;
    return OpResult::Error(FileOp::DeleteFolder, kind, m_where, m_words, Report());
}

OpResult DeleteFtpTree(CFtpConnection* connection, const QString& path,
                       const std::atomic<int>* cancel, DeleteProgress progress) {
    try {
        return core::Run(
            [&] {
                FtpTreeDelete walk(connection, std::move(progress));
                walk.Run(path);
                return walk.Result();
            },
            cancel);
    } catch (const std::exception& e) {
        // Another operation holds the connection: nothing was deleted.
        return OpResult::Error(FileOp::DeleteFolder, OpErrorKind::Failed, path,
                               QString::fromLocal8Bit(e.what()));
    }
}

} // namespace core
