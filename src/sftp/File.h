#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct _LIBSSH2_SFTP_HANDLE;

namespace sftp {

class Session;

// An open remote file. Reads and writes go through a buffer of a few MiB that
// libssh2 turns into many requests in flight, so a transfer is not paced by the
// round trip.
class File {
public:
    File(Session& session, _LIBSSH2_SFTP_HANDLE* handle, bool cutAtClose);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Up to count bytes; 0 only at the end of the file.
    std::size_t Read(void* buffer, std::size_t count);
    // All count bytes, or a throw.
    void Write(const void* buffer, std::size_t count);
    // Sends what is buffered, cuts the file at the end of what was written (when
    // it was opened at an offset) and closes it; throws when the server says no.
    void Close();
    // Drops the file without waiting on the server for long; never throws.
    void Abandon() noexcept;

    static constexpr std::size_t kBufferSize = 4 << 20;

private:
    void Push();
    void Flush();

    Session& m_session;
    _LIBSSH2_SFTP_HANDLE* m_handle;
    bool m_cutAtClose;
    std::uint64_t m_written = 0; // bytes acknowledged since the open offset
    std::uint64_t m_offset = 0;  // the open offset
    std::vector<char> m_buffer;
    std::size_t m_begin = 0; // unread (read) or unsent (write) bytes: [m_begin, m_end)
    std::size_t m_end = 0;
    bool m_eof = false;
    bool m_writing = false; // the buffer holds data to send, not data read

    friend class Session;
};

} // namespace sftp
