#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <sys/types.h>

// A failed read or write of a local file (disk full, I/O error).
class LocalFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace localfile {
// What a local path names. Special: a named pipe, a socket or a device, which a
// copy never opens (a pipe's open or read may wait for good).
enum class Kind { Missing, Regular, Folder, Link, Special, Other };
// With followLink, what a link leads to (Missing when it leads nowhere).
Kind KindOf(const QString& path, bool followLink);
} // namespace localfile

// A local file opened for one copy, closed by its destructor on every path. A file
// opened with OpenTempBeside is a replacement in the making: it takes the target's
// name only through CommitOver, and is removed on every other path.
class LocalFile {
public:
    LocalFile() = default;
    ~LocalFile();
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    // Opens an existing regular file (or a link to one) for reading; false when
    // it cannot be. Never waits, whatever is at path.
    bool OpenRead(const QString& path);
    // Creates the file, or empties an existing regular one, for writing; false,
    // without touching it, for anything else at path (a link, a pipe, a folder).
    bool OpenCreate(const QString& path);
    // Creates a new, empty file in target's folder under a temporary name that
    // only this user can read until it is committed.
    bool OpenTempBeside(const QString& target);
    const QString& TempPath() const { return m_tempPath; }
    // Gives the temporary file the permissions (and, where allowed, the owner) of
    // the file it replaces, flushes it to the disk and renames it over target.
    // Throws LocalFileError; the temporary file is then removed.
    void CommitOver(const QString& target, mode_t mode, uid_t owner, gid_t group);
    // Closes and removes the temporary file; the target is not touched.
    void DiscardTemp();

    std::uint64_t Length() const;
    // Reads and writes go on from offset; a file being written is cut there
    // (a resumed download drops what it cannot be sure of). Throws LocalFileError.
    void ContinueAt(std::uint64_t offset, bool cut);
    // The size and modification time of the open file, to tell that it has not
    // changed since a copy of it began.
    std::pair<std::uint64_t, std::int64_t> Stamp() const;
    // Returns 0 only at the end of the file; throws LocalFileError.
    std::size_t Read(char* buffer, std::size_t count);
    // Writes all count bytes; throws LocalFileError.
    void Write(const char* buffer, std::size_t count);
    // Throws LocalFileError when the system reports the written data lost.
    void Close();

private:
    int m_fd = -1;
    QString m_tempPath;
};
