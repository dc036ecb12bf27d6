#include "File.h"

#include "Interrupt.h"
#include "SessionWait.h"

#include <algorithm>
#include <cstring>
#include <libssh2_sftp.h>

namespace sftp {

File::File(Session& session, LIBSSH2_SFTP_HANDLE* handle, bool cutAtClose)
    : m_session(session), m_handle(handle), m_cutAtClose(cutAtClose) {}

File::~File() {
    Abandon();
}

std::size_t File::Read(void* buffer, std::size_t count) {
    if (m_begin == m_end && !m_eof) {
        // One big read: libssh2 keeps a request in flight for each part of it.
        m_buffer.resize(kBufferSize);
        const ssize_t n = m_session.Await(
            [&] { return libssh2_sftp_read(m_handle, m_buffer.data(), m_buffer.size()); },
            m_session.m_timeouts.replyMs);
        if (n < 0)
            m_session.Fail(int(n), QStringLiteral("Reading the file failed"));
        m_begin = 0;
        m_end = std::size_t(n);
        m_eof = n == 0;
    }
    const std::size_t n = std::min(count, m_end - m_begin);
    std::memcpy(buffer, m_buffer.data() + m_begin, n);
    m_begin += n;
    return n;
}

void File::Write(const void* buffer, std::size_t count) {
    const char* p = static_cast<const char*>(buffer);
    m_writing = true;
    m_buffer.resize(kBufferSize);
    while (count > 0) {
        const std::size_t n = std::min(count, kBufferSize - m_end);
        std::memcpy(m_buffer.data() + m_end, p, n);
        m_end += n;
        p += n;
        count -= n;
        if (m_end == kBufferSize)
            Flush();
    }
}

void File::Push() {
    // Returns what the server has acknowledged; the rest is in flight and is
    // passed again unchanged, as libssh2 expects. Nothing acknowledged while the
    // socket is full reads as 0, not as "would block": wait for the socket then.
    const int timeoutMs = m_session.m_timeouts.replyMs;
    for (;;) {
        const ssize_t n = m_session.Await(
            [&] {
                return libssh2_sftp_write(m_handle, m_buffer.data() + m_begin, m_end - m_begin);
            },
            timeoutMs);
        if (n < 0)
            m_session.Fail(int(n), QStringLiteral("Writing the file failed"));
        if (n > 0) {
            m_begin += std::size_t(n);
            m_written += std::uint64_t(n);
            return;
        }
        m_session.WaitSocket(std::chrono::steady_clock::now() +
                             std::chrono::milliseconds(timeoutMs));
    }
}

void File::Flush() {
    while (m_begin < m_end)
        Push();
    m_begin = m_end = 0;
}

void File::Close() {
    if (!m_handle)
        return;
    // What a read left in the buffer is not to be sent anywhere.
    if (m_writing)
        Flush();
    if (m_cutAtClose) {
        // Bytes of an older, longer file past what was written are not this file's.
        LIBSSH2_SFTP_ATTRIBUTES attrs{};
        attrs.flags = LIBSSH2_SFTP_ATTR_SIZE;
        attrs.filesize = m_offset + m_written;
        m_session.Check(m_session.Await([&] { return libssh2_sftp_fsetstat(m_handle, &attrs); },
                                        m_session.m_timeouts.replyMs),
                        QStringLiteral("Cannot set the file's size"));
    }
    LIBSSH2_SFTP_HANDLE* handle = m_handle;
    const int rc = m_session.Await([&] { return libssh2_sftp_close_handle(handle); },
                                   m_session.m_timeouts.replyMs);
    m_handle = nullptr;
    m_session.Check(rc, QStringLiteral("The server did not store the file"));
}

void File::Abandon() noexcept {
    if (!m_handle)
        return;
    LIBSSH2_SFTP_HANDLE* handle = m_handle;
    m_handle = nullptr;
    if (m_session.Broken()) {
        // Its socket is shut: the close fails at once and frees the requests
        // still queued for the handle.
        libssh2_sftp_close_handle(handle);
        return;
    }
    // A short grace of its own: a stalled server must not hold up a Cancel.
    ftp::InterruptScope grace(std::chrono::milliseconds(500));
    try {
        m_session.Await([&] { return libssh2_sftp_close_handle(handle); }, 500);
    } catch (const Error&) {
    }
}

} // namespace sftp
