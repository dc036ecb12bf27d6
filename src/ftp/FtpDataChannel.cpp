#include "FtpDataChannel.h"

#include <cstring>
#include <poll.h>
#include <sys/socket.h>

#include "FtpControl.h"
#include "Interrupt.h"
#include "SocketWait.h"
#include "TlsLayer.h"

namespace {
QString ReplyText(const FtpReply& reply) {
    return reply.code == 0 ? QStringLiteral("no reply")
                           : QString::fromUtf8(reply.text.data(), qsizetype(reply.text.size()));
}
} // namespace

FtpDataChannel::FtpDataChannel(FtpControl* control, const Poco::Net::StreamSocket& socket,
                               Direction direction)
    : m_control(control), m_socket(socket), m_direction(direction),
      m_dataMs(control->Timeouts().dataMs), m_buffer(kBufferSize) {
    m_control->m_openFile = this;
}

FtpDataChannel::~FtpDataChannel() {
    if (!m_finished) {
        try {
            Abandon();
        } catch (...) {
            // A destructor must not throw; the connection is marked unusable by then.
        }
    }
    Release();
}

void FtpDataChannel::Release() {
    if (m_control && m_control->m_openFile == this)
        m_control->m_openFile = nullptr;
}

void FtpDataChannel::Broken(int fallbackError) {
    m_broken = true;
    try {
        m_socket.close();
    } catch (...) {
    }
    if (m_control)
        m_control->AbortTransfer();
    m_finished = true;
    Release();
    RethrowAsInternetException(fallbackError);
}

unsigned FtpDataChannel::Read(void* buffer, unsigned count) {
    if (m_direction != Direction::Download)
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR,
                                 QStringLiteral("The file is open for writing."));
    if (count == 0)
        return 0;
    if (m_begin == m_end) {
        if (m_finished) {
            if (m_broken)
                throw CInternetException(ERROR_INTERNET_CONNECTION_ABORTED,
                                         QStringLiteral("The transfer has failed."));
            return 0;
        }
        int n = 0;
        try {
            if (count >= kDirectReadSize) {
                const int room = int(std::min<unsigned>(count, 1u << 30));
                n = ftp::ReceiveSome(m_socket, buffer, room, m_dataMs);
                if (n > 0 && Tls::IsSecure(m_socket))
                    n += Tls::ReceiveMore(m_socket, static_cast<char*>(buffer) + n, room - n);
                if (n > 0) {
                    m_transferred += unsigned(n);
                    return unsigned(n);
                }
            } else {
                n = ftp::ReceiveSome(m_socket, m_buffer.data(), int(m_buffer.size()), m_dataMs);
                if (n > 0 && Tls::IsSecure(m_socket))
                    n += Tls::ReceiveMore(m_socket, m_buffer.data() + n, int(m_buffer.size()) - n);
            }
        } catch (...) {
            Broken(ERROR_INTERNET_CONNECTION_ABORTED);
        }
        if (n <= 0) {
            ReachedEnd();
            return 0;
        }
        m_begin = 0;
        m_end = std::size_t(n);
    }
    const std::size_t n = std::min<std::size_t>(count, m_end - m_begin);
    std::memcpy(buffer, m_buffer.data() + m_begin, n);
    m_begin += n;
    m_transferred += n;
    return unsigned(n);
}

// The reply that ends a transfer, read once the data connection is closed.
FtpReply FtpDataChannel::FinalReply() {
    if (!m_control)
        throw CInternetException(ERROR_FTP_DROPPED,
                                 QStringLiteral("The connection to the server is closed."));
    try {
        return m_control->ReadTransferEnd();
    } catch (...) {
        RethrowAsInternetException(ERROR_INTERNET_CONNECTION_ABORTED);
    }
}

// The data connection closed: only the server's final reply tells a complete
// file from one cut short, so it is read now and a failure is thrown from Read.
void FtpDataChannel::ReachedEnd() {
    m_socket.close();
    m_finished = true;
    Release();
    if (m_control)
        m_control->AskPassiveAhead();
    FtpReply reply;
    try {
        reply = FinalReply();
    } catch (...) {
        m_broken = true;
        throw;
    }
    if (!reply.Is(2)) {
        m_broken = true;
        throw CInternetException(ERROR_INTERNET_CONNECTION_ABORTED,
                                 QStringLiteral("The transfer was not completed: ") +
                                     ReplyText(reply));
    }
}

void FtpDataChannel::Write(const void* buffer, unsigned count) {
    if (m_direction != Direction::Upload)
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR,
                                 QStringLiteral("The file is open for reading."));
    if (m_finished)
        throw CInternetException(ERROR_INTERNET_CONNECTION_ABORTED,
                                 QStringLiteral("The transfer has ended."));
    const char* p = static_cast<const char*>(buffer);
    // A large write with nothing buffered goes straight to the socket: copying it
    // through our buffer first only costs time.
    if (m_end == 0 && count >= m_buffer.size()) {
        SendAll(p, count);
        m_transferred += count;
        return;
    }
    while (count > 0) {
        const std::size_t n = std::min<std::size_t>(count, m_buffer.size() - m_end);
        std::memcpy(m_buffer.data() + m_end, p, n);
        m_end += n;
        p += n;
        count -= unsigned(n);
        m_transferred += n;
        if (m_end == m_buffer.size())
            Flush();
    }
}

void FtpDataChannel::SendAll(const char* data, std::size_t size) {
    try {
        while (size > 0) {
            const int chunk = int(std::min<std::size_t>(size, 1u << 30));
            const int n = ftp::SendSome(m_socket, data, chunk, m_dataMs);
            if (n <= 0)
                throw CInternetException(ERROR_INTERNET_CONNECTION_ABORTED,
                                         QStringLiteral("The server stopped taking data."));
            data += n;
            size -= std::size_t(n);
        }
    } catch (...) {
        Broken(ERROR_INTERNET_CONNECTION_ABORTED);
    }
}

void FtpDataChannel::Flush() {
    if (m_begin < m_end)
        SendAll(m_buffer.data() + m_begin, m_end - m_begin);
    m_begin = m_end = 0;
}

// True when the server has sent everything: no byte left, the connection closed.
bool FtpDataChannel::PeerFinished() {
    if (Tls::IsSecure(m_socket))
        return Tls::PeerFinished(m_socket, 200);
    const int fd = m_socket.impl()->sockfd();
    if (ftp::WaitFor(fd, POLLIN, ftp::Clock::now() + std::chrono::milliseconds(200)) !=
        ftp::WaitResult::Ready)
        return false;
    char probe = 0;
    return ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

void FtpDataChannel::Abandon() {
    m_finished = true;
    try {
        // What waits in the send buffer is not wanted: on a slow link it would
        // go on taking the bandwidth that the abort and the clean-up need.
        m_socket.setLinger(true, 0);
        m_socket.close();
    } catch (...) {
    }
    Release();
    if (m_control)
        m_control->AbortTransfer();
}

void FtpDataChannel::Close() {
    if (m_finished)
        return;
    // Asked to stop: the transfer is not wanted any more, and the user waits. No
    // more data goes out and the final reply is not waited for; the abort keeps
    // the connection if the server answers it at once, and closes it if not.
    if (ftp::Interrupted()) {
        Abandon();
        return;
    }
    if (m_direction == Direction::Download) {
        // All data read but the end not seen yet: finish normally, so that the
        // server's verdict on the transfer is heard.
        if (m_begin == m_end && PeerFinished()) {
            ReachedEnd();
            return;
        }
        // The caller stops early (a cancel): the file is not wanted, the connection is.
        Abandon();
        return;
    }
    Flush();
    m_finished = true;
    if (Tls::IsSecure(m_socket))
        Tls::EndSending(m_socket, m_dataMs);
    ::shutdown(m_socket.impl()->sockfd(), SHUT_WR);
    m_socket.close();
    Release();
    const FtpReply reply = FinalReply();
    if (!reply.Is(2))
        throw CInternetException(ERROR_INTERNET_EXTENDED_ERROR,
                                 QStringLiteral("The server did not store the file: ") +
                                     ReplyText(reply));
    if (m_control)
        m_control->NoteStored();
}
