#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// What the copy, delete and replace rules need of a remote site, whatever the
// protocol: FTP and FTPS implement it over the FTP layer, SFTP over SSH. The rules
// are written once, above it.
//
// A connection is used by one thread at a time; every call blocks until the
// server has answered, a time-out has passed or the stop request of the thread
// (ftp::InterruptScope) has come. Failures are thrown as RemoteError.
namespace core {

// One entry of a remote folder.
struct RemoteEntry {
    QString name; // without a path; never empty, ".", ".." or holding "/" or NUL
    bool isFolder = false;
    // A symbolic link, never followed by a delete or a recursive copy; isFolder
    // then tells what it points to, where that is known (targetKnown).
    bool isLink = false;
    bool targetKnown = false;
    std::uint64_t size = 0;
    std::int64_t lastWriteTime = 0; // seconds since 1970-01-01 00:00 UTC
    bool dateOnly = false;          // a calendar date without a time of day
    QString linkTarget;             // where the server says the link points, when it does
    // A stable id of the file on the server (MLSD "unique"), for cycles and for
    // telling that a source has not changed; empty when the server gives none.
    std::string unique;
    // The name's bytes as the server sent them, where they are not UTF-8.
    std::string rawName;
};

// What the server can do.
struct RemoteCaps {
    bool resume = false;     // reads and writes from an offset
    bool renameOver = false; // a rename that replaces an existing name in one step
    bool uniqueIds = false;  // entries carry a stable id
    bool links = false;      // the listing tells links apart
};

// Why a remote operation failed.
class RemoteError : public std::runtime_error {
public:
    enum class Kind {
        Refused,   // the server said no; words holds its reply
        Lost,      // the connection broke and could not be made again
        TimedOut,  // the server went silent past the time-outs
        Cancelled, // the stop request came
        Broken,    // a transfer or a data connection broke, the session itself may stand
        NoResume,  // the server will not start a transfer from an offset
    };
    RemoteError(Kind kind, const QString& words)
        : std::runtime_error(words.toStdString()), m_kind(kind), m_words(words) {}
    Kind kind() const { return m_kind; }
    const QString& words() const { return m_words; }

private:
    Kind m_kind;
    QString m_words;
};

// A file being read, from the offset it was opened at.
class RemoteReader {
public:
    virtual ~RemoteReader() = default;
    // Up to count bytes; 0 only at the end of the data.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Ends the read and takes the server's final word on it: throws when the
    // server says the transfer failed.
    virtual void Close() = 0;
    // Drops the transfer at once (a cancel or a failure); never throws. After
    // Close it does nothing.
    virtual void Abandon() noexcept = 0;
};

// A file being written, from the offset it was opened at.
class RemoteWriter {
public:
    virtual ~RemoteWriter() = default;
    // All count bytes, or a throw.
    virtual void Write(const void* buffer, std::size_t count) = 0;
    // Ends the write; throws when the server says the data was not stored.
    virtual void Close() = 0;
    // As RemoteReader's.
    virtual void Abandon() noexcept = 0;
};

// How a write opens its file.
enum class WriteStart {
    New,      // a name that nothing holds yet (a temporary name): created, never truncated
    Fresh,    // a new file, or an existing one emptied
    AtOffset, // an existing file's bytes before the offset kept, the rest written over
};

// One connection to a remote site.
class RemoteConnection {
public:
    virtual ~RemoteConnection() = default;

    virtual RemoteCaps Caps() const = 0;
    // What keeps the connection private, for the status bar: "TLS", "SSH", or
    // empty for a connection in clear.
    virtual QString Encryption() const = 0;

    // A folder's entries; a listing that fails throws, it is never shown empty.
    virtual std::vector<RemoteEntry> List(const QString& folder) = 0;
    // A path's own entry (a link itself, not its target); nothing when the
    // server has no such name.
    virtual std::optional<RemoteEntry> Stat(const QString& path) = 0;
    // The size the server stores for a file now; nothing when it does not say.
    virtual std::optional<std::uint64_t> Size(const QString& path) = 0;
    // Whether a path (a link's, mostly) leads to a folder.
    virtual bool LeadsToFolder(const QString& path) {
        const auto entry = Stat(path);
        return entry && entry->isFolder;
    }

    virtual void MakeFolder(const QString& path) = 0;
    // Never over an existing name: a name that is there already is refused.
    virtual void Rename(const QString& from, const QString& to) = 0;
    // Moves from onto to, replacing what is there in one step where the server
    // allows that, with no look first; refused where it does not.
    virtual void Replace(const QString& from, const QString& to) = 0;
    // A file or a link (the link itself).
    virtual void DeleteFile(const QString& path) = 0;
    // A link, never what it points to.
    virtual void DeleteLink(const QString& path) { DeleteFile(path); }
    // An empty folder.
    virtual void DeleteFolder(const QString& path) = 0;

    virtual std::unique_ptr<RemoteReader> OpenRead(const QString& path, std::uint64_t offset) = 0;
    virtual std::unique_ptr<RemoteWriter> OpenWrite(const QString& path, WriteStart start,
                                                    std::uint64_t offset = 0) = 0;

    // The folder a login starts in (the user's home).
    virtual QString HomeFolder() = 0;

    // After a stop: whether the last command's outcome is unknown (sent, its
    // answer not read), and whether the connection can still be used.
    virtual bool OutcomeUnknown() const { return false; }
    virtual bool Usable() const { return true; }
};

} // namespace core
