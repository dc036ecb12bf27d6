#pragma once

#include <QString>
#include <set>
#include <string>

class CFtpConnection;
struct FtpListEntry;

// Deletes an FTP folder with everything in it, depth first, over the one
// connection it is given: a server that allows few connections per address is
// never asked for another. Links are removed as links and never walked into; the
// walk stops at kMaxDepth levels and at a folder it has already been in (where
// the server offers "unique" facts). It cannot be cancelled.
class FtpTreeDelete {
public:
    static constexpr int kMaxDepth = 64;

    explicit FtpTreeDelete(CFtpConnection* connection) : m_connection(connection) {}

    // path: the folder, ending in "/". True when it is gone.
    bool Run(const QString& path);
    // After a failure: what went wrong, where the walk stopped and what is left.
    QString Report() const;

private:
    bool DeleteSelf(const QString& path);
    bool DeleteFolder(const QString& path, const std::string& unique, int depth);
    bool DeleteEntry(const QString& folder, const FtpListEntry& entry, int depth);
    bool DeleteFile(const QString& path);
    bool DeleteLink(const QString& path);
    bool RemoveFolder(const QString& path);
    bool Fail(const QString& reason, const QString& where);

    CFtpConnection* m_connection;
    std::set<std::string> m_seen;
    QString m_root;
    QString m_current;
    QString m_reason;
    QString m_where;
    int m_deleted = 0;
};
