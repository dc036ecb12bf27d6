#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

// A failed read or write of a local file (disk full, I/O error).
class LocalFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A local file opened for one copy, closed by its destructor on every path.
class LocalFile {
public:
    LocalFile() = default;
    ~LocalFile();
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    // Opens an existing regular file for reading; false when it cannot be.
    bool OpenRead(const QString& path);
    // Creates the file, or empties an existing one, for writing.
    bool OpenCreate(const QString& path);

    std::uint64_t Length() const;
    // Returns 0 only at the end of the file; throws LocalFileError.
    std::size_t Read(char* buffer, std::size_t count);
    // Writes all count bytes; throws LocalFileError.
    void Write(const char* buffer, std::size_t count);
    // Throws LocalFileError when the system reports the written data lost.
    void Close();

private:
    int m_fd = -1;
};
