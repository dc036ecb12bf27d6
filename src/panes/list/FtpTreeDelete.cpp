#include "FtpTreeDelete.h"

#include <vector>

#include "FtpConnection.h"
#include "FtpFileFind.h"
#include "InternetException.h"
#include "Messages.h"
#include "PathRules.h"

using pathrules::WithoutTrailingSlash;

bool FtpTreeDelete::Run(const QString& path) {
    m_root = path;
    m_current = path;
    if (!m_connection)
        return Fail(QStringLiteral("There is no connection to the server."), path);
    try {
        return DeleteSelf(path);
    } catch (const CInternetException& e) {
        return Fail(ExplainServerError(e.Message()), m_current);
    } catch (const std::exception& e) {
        return Fail(QString::fromLocal8Bit(e.what()), m_current);
    }
}

bool FtpTreeDelete::DeleteSelf(const QString& path) {
    // The folder's own entry says whether it is a link (a link chosen for a
    // delete or standing where a copy goes), and gives its unique fact.
    CFtpFileFind find(m_connection);
    const bool found = find.FindFile(WithoutTrailingSlash(path));
    if (find.Failed())
        return Fail(ExplainServerError(find.ErrorText()), path);
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
            return Fail(QStringLiteral("The folder could not be read: ") +
                            ExplainServerError(find.ErrorText()),
                        path);
        entries = find.Entries();
    }
    for (const FtpListEntry& entry : entries)
        if (!DeleteEntry(path, entry, depth))
            return false;
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
    if (!m_connection->Remove(path))
        return Fail(QStringLiteral("The server refused to delete the file."), path);
    ++m_deleted;
    return true;
}

bool FtpTreeDelete::DeleteLink(const QString& path) {
    m_current = path;
    // Some servers refuse DELE for a link to a folder and take RMD, which
    // removes a link and never a folder it points to.
    if (!m_connection->Remove(path) && !m_connection->RemoveDirectory(path))
        return Fail(QStringLiteral("The server refused to delete the link."), path);
    ++m_deleted;
    return true;
}

bool FtpTreeDelete::RemoveFolder(const QString& path) {
    m_current = path;
    if (!m_connection->RemoveDirectory(WithoutTrailingSlash(path)))
        return Fail(QStringLiteral("The server refused to remove the folder; it may still "
                                   "hold items that were not deleted."),
                    path);
    ++m_deleted;
    return true;
}

bool FtpTreeDelete::Fail(const QString& reason, const QString& where) {
    m_reason = reason;
    m_where = where;
    return false;
}

QString FtpTreeDelete::Report() const {
    QString text = m_reason.isEmpty() ? QStringLiteral("The delete failed.") : m_reason;
    text += QStringLiteral("\n\nThe delete stopped at ") + m_where + QStringLiteral(".\n");
    if (m_deleted == 0)
        return text + QStringLiteral("Nothing was deleted.");
    return text + QStringLiteral("%1 item(s) were deleted; %2 remains on the server with "
                                 "everything that was not deleted yet.")
                      .arg(m_deleted)
                      .arg(m_root);
}
