#include "FtpTreeDelete.h"

#include <vector>

#include "Interrupt.h"
#include "Job.h"
#include "PathRules.h"
#include "RemoteSite.h"
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
    } catch (const RemoteError& e) {
        return FailOn(e);
    } catch (const std::exception& e) {
        return Fail(QString::fromLocal8Bit(e.what()), m_current);
    }
}

bool FtpTreeDelete::FailOn(const RemoteError& e, const QString& reason) {
    if (e.kind() == RemoteError::Kind::Cancelled || ftp::Interrupted()) {
        Stopped(m_current);
        // Only a stop that came between a command and its reply leaves the
        // command's outcome unknown; one before the command was sent did not.
        m_inFlight = m_connection->OutcomeUnknown();
        m_words = e.words();
        return false;
    }
    m_lost = e.kind() == RemoteError::Kind::Lost;
    return Fail(reason + ExplainServerWords(e.words()), m_current, e.words());
}

bool FtpTreeDelete::DeleteSelf(const QString& path) {
    // The folder's own entry says whether it is a link (a link chosen for a
    // delete or standing where a copy goes), and gives its unique fact.
    std::optional<RemoteEntry> self;
    try {
        self = m_connection->Stat(WithoutTrailingSlash(path));
    } catch (const RemoteError& e) {
        return FailOn(e);
    }
    if (!self)
        return Fail(QStringLiteral("The server does not list the folder."), path);
    if (self->isLink)
        return DeleteLink(WithoutTrailingSlash(path));
    return DeleteFolder(path, self->unique, 1);
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
    std::vector<RemoteEntry> entries;
    try {
        entries = m_connection->List(path);
    } catch (const RemoteError& e) {
        return FailOn(e, QStringLiteral("The folder could not be read: "));
    }
    for (const RemoteEntry& entry : entries) {
        if (ftp::Interrupted())
            return Stopped(path);
        if (!DeleteEntry(path, entry, depth))
            return false;
    }
    if (ftp::Interrupted())
        return Stopped(path);
    return RemoveFolder(path);
}

bool FtpTreeDelete::DeleteEntry(const QString& folder, const RemoteEntry& entry, int depth) {
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

namespace {
// Runs one command of the walk; a refusal is told with reason and the server's words.
template <typename Step>
bool Refusable(Step&& step, QString& words) {
    try {
        step();
        return true;
    } catch (const RemoteError& e) {
        if (e.kind() != RemoteError::Kind::Refused)
            throw;
        words = e.words();
        return false;
    }
}
} // namespace

bool FtpTreeDelete::DeleteFile(const QString& path) {
    m_current = path;
    QString words;
    if (!Refusable([&] { m_connection->DeleteFile(path); }, words))
        return Fail(QStringLiteral("The server refused to delete the file."), path, words);
    return Gone(path);
}

bool FtpTreeDelete::DeleteLink(const QString& path) {
    m_current = path;
    QString words;
    if (!Refusable([&] { m_connection->DeleteLink(path); }, words))
        return Fail(QStringLiteral("The server refused to delete the link."), path, words);
    return Gone(path);
}

bool FtpTreeDelete::RemoveFolder(const QString& path) {
    m_current = path;
    QString words;
    if (!Refusable([&] { m_connection->DeleteFolder(WithoutTrailingSlash(path)); }, words))
        return Fail(QStringLiteral("The server refused to remove the folder; it may still "
                                   "hold items that were not deleted."),
                    path, words);
    return Gone(path);
}

bool FtpTreeDelete::Stopped(const QString& where) {
    m_cancelled = true;
    m_connectionUsable = m_connection->Usable();
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

OpResult DeleteFtpTree(RemoteConnection* connection, const QString& path,
                       const std::atomic<int>* cancel, DeleteProgress progress) {
    return RunHere(
        [&] {
            FtpTreeDelete walk(connection, std::move(progress));
            walk.Run(path);
            return walk.Result();
        },
        cancel);
}

} // namespace core
