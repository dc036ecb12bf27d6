#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "FtpTypes.h"

class CFtpConnection;

// One entry of an FTP listing as the listing parser delivers it.
struct FtpListEntry {
    QString name;
    bool isFolder = false;
    std::uint64_t size = 0;
    std::int64_t lastWriteTime = 0; // seconds since 1970-01-01 00:00 UTC
    // The server says this entry is a symbolic link (LIST type "l", MLSD
    // "OS.unix=slink"/"symlink", or found out by a cross-check). A link is never
    // followed by a delete or a recursive copy. isFolder then says what the target
    // is, where that is known.
    bool isLink = false;
    QString linkTarget;    // the text after " -> " of a LIST line, when given
    bool dateOnly = false; // the listing gave a calendar date without a time of day
    std::string unique;    // MLSD "unique" fact, when given (cycle detection)
    // The name's bytes as the server sent them, where they are not UTF-8 (name then
    // shows them in Windows-1252); empty for a UTF-8 name.
    std::string rawName;
    // A link whose target kind the listing itself told (a server that answers MLSD
    // through links, a Windows junction): it needs no probe.
    bool targetKnown = false;
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
    // False when nothing matches or the listing fails; Failed() tells the two apart. Names that are
    // empty or hold "/" or NUL are never delivered; "." and ".." and other names beginning with "."
    // are, when the server lists them (the callers skip them). Where an MLSD or MLST answer
    // shows folders that nothing marks as links, a LIST of the same folder is asked which of
    // them are links: some servers answer MLSD through links.
    bool FindFile(const QString& pattern = QString(), unsigned flags = INTERNET_FLAG_RELOAD);
    // Makes the next entry current; false when the entry it made current is the last.
    bool FindNextFile();
    QString GetFileName() const;
    std::uint64_t GetLength() const;
    bool GetLastWriteTime(std::int64_t& time) const;
    bool MatchesMask(unsigned mask) const;
    bool IsDirectory() const { return MatchesMask(FILE_ATTRIBUTE_DIRECTORY); }
    void Close();

    // True when the last FindFile failed (a refused change of folder or listing, a
    // broken data connection, a dropped connection) rather than found nothing: an
    // empty result must never stand for a failure.
    bool Failed() const { return m_failed; }
    // The server's or the system's words for that failure.
    const QString& ErrorText() const { return m_errorText; }
    // The failure was the connection to the server, lost and not made afresh
    // (never a stop): not the server's answer about the path.
    bool ConnectionLost() const { return m_lost; }
    // True when the current entry is a symbolic link.
    bool IsLink() const;

    // The whole listing, for callers that take it at once.
    const std::vector<FtpListEntry>& Entries() const { return m_entries; }
    // After a folder's listing: its lines that should have been entries and could
    // not be read, and its text as the server sent it (for a bug report).
    std::size_t UnreadableLines() const { return m_unreadableLines; }
    const std::string& RawListing() const { return m_rawListing; }

private:
    bool FindOnce(const QString& pattern);
    bool FindOwnEntry(const QString& path);
    bool Fail(const QString& text);

    CFtpConnection* m_connection;
    std::vector<FtpListEntry> m_entries;
    std::ptrdiff_t m_current = -1;
    bool m_failed = false;
    bool m_lost = false;
    QString m_errorText;
    std::string m_rawListing;
    std::size_t m_unreadableLines = 0;
};
