#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "FtpTypes.h"

class CFtpConnection;

// One entry of an FTP listing as the listing parser delivers it.
struct FtpListEntry {
    QString name;
    bool isFolder = false;
    std::uint64_t size = 0;
    std::int64_t lastWriteTime = 0; // seconds since 1970-01-01 00:00 UTC
};

// Lists an FTP directory, or finds one file or folder, on a connection.
class CFtpFileFind {
public:
    explicit CFtpFileFind(CFtpConnection* connection, int context = 1);
    ~CFtpFileFind();
    CFtpFileFind(const CFtpFileFind&) = delete;
    CFtpFileFind& operator=(const CFtpFileFind&) = delete;

    // pattern: empty (the current directory), a folder followed by "/*.*" or "*.*"
    // (that folder's entries), or a path (that file's or folder's own entry).
    // False when nothing matches or the listing fails. Names that are empty or
    // hold "/" or NUL are never delivered; "." and ".." and other names beginning
    // with "." are, when the server lists them (the callers skip them).
    bool FindFile(const QString& pattern = QString(), unsigned flags = INTERNET_FLAG_RELOAD);
    // Makes the next entry current; false when the entry it made current is the last.
    bool FindNextFile();
    QString GetFileName() const;
    std::uint64_t GetLength() const;
    bool GetLastWriteTime(std::int64_t& time) const;
    bool MatchesMask(unsigned mask) const;
    bool IsDirectory() const { return MatchesMask(FILE_ATTRIBUTE_DIRECTORY); }
    void Close();

    // The whole listing, for callers that take it at once.
    const std::vector<FtpListEntry>& Entries() const { return m_entries; }

private:
    bool FindOwnEntry(const QString& path);

    CFtpConnection* m_connection;
    std::vector<FtpListEntry> m_entries;
    std::ptrdiff_t m_current = -1;
};
