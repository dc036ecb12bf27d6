// The TLS steps of the control connection: kept apart from the plain FTP
// dialogue in FtpControl.cpp, which calls them at a few places only.
#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <poll.h>

#include "FtpControl.h"

namespace {
QString ReplyWords(const FtpReply& reply) {
    return QString::fromUtf8(reply.text.data(), qsizetype(reply.text.size()));
}

// Whole milliseconds until deadline, at least 1 so that a socket time-out is set.
Poco::Timespan Left(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return Poco::Timespan(std::int64_t(std::max<std::int64_t>(left.count(), 1)) * 1000);
}
} // namespace

void FtpControl::StartTls() {
    if (m_tlsMode == TlsMode::Off)
        return;
    const FtpReply reply = Command("AUTH TLS");
    if (reply.code != 234) {
        if (m_tlsMode == TlsMode::Auto)
            return; // a plain server: the session goes on as before
        // Asked for TLS: not one more word in clear, so no login and no QUIT.
        Fail(ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
             QStringLiteral("The server does not offer a secure connection (TLS), so nothing "
                            "more was sent to it. The server said: ") +
                 ReplyWords(reply));
    }
    // Anything that came in clear behind the 234 is dropped, never taken for a
    // reply from inside the secure channel.
    m_parser.Reset();
    // The handshake reads and writes on its own; these bound its waits.
    m_socket.setReceiveTimeout(Poco::Timespan(std::int64_t(m_timeouts.replyMs) * 1000));
    m_socket.setSendTimeout(Poco::Timespan(std::int64_t(m_timeouts.replyMs) * 1000));
    CertificateTrust fallback; // nobody to ask: only trusted certificates pass
    try {
        m_secure = std::make_unique<Poco::Net::SecureStreamSocket>(Tls::SecureControl(
            m_socket, m_host, m_port, m_trust ? *m_trust : fallback, &m_fingerprint));
    } catch (...) {
        m_dead = true;
        CloseSocket();
        throw;
    }
    m_socket = *m_secure;
    m_tls = true;
    // From here on there is no way back to plain: a refusal ends the connection.
    for (const char* command : {"PBSZ 0", "PROT P"}) {
        const FtpReply answer = Command(command);
        if (!answer.Is(2))
            Fail(ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
                 QStringLiteral("The server refused to protect the data connections: ") +
                     ReplyWords(answer));
    }
}

bool FtpControl::ReceiveSecure(Clock::time_point deadline) {
    char buffer[16384];
    for (;;) {
        if (Clock::now() >= deadline)
            Fail(ERROR_INTERNET_TIMEOUT, QStringLiteral("The server did not answer in time."));
        try {
            // Bytes already decrypted need no wait; new ones arrive on the socket.
            if (m_secure->available() == 0) {
                pollfd p{m_socket.impl()->sockfd(), POLLIN, 0};
                const int ms = int(Left(deadline).totalMilliseconds());
                const int rc = ::poll(&p, 1, ms);
                if (rc < 0 && errno != EINTR)
                    Fail(ERROR_FTP_DROPPED,
                         QStringLiteral("The connection to the server is closed."));
                if (rc <= 0)
                    continue;
            }
            // A record that arrives in pieces is waited for only until the deadline.
            m_secure->setReceiveTimeout(Left(deadline));
            const int n = m_secure->receiveBytes(buffer, sizeof buffer);
            if (n <= 0)
                return false;
            m_parser.Feed(buffer, std::size_t(n));
            return true;
        } catch (const CInternetException&) {
            throw;
        } catch (const Poco::TimeoutException&) {
            Fail(ERROR_INTERNET_TIMEOUT, QStringLiteral("The server did not answer in time."));
        } catch (const Poco::Exception& e) {
            Fail(ERROR_INTERNET_CONNECTION_ABORTED,
                 QStringLiteral("The secure connection failed: ") +
                     QString::fromStdString(e.displayText()));
        }
    }
}

void FtpControl::SendSecure(const std::string& bytes, Clock::time_point deadline) {
    try {
        m_secure->setSendTimeout(Left(deadline));
        const int n = m_secure->sendBytes(bytes.data(), int(bytes.size()));
        if (n != int(bytes.size()))
            Fail(ERROR_FTP_DROPPED, QStringLiteral("The connection to the server is closed."));
    } catch (const CInternetException&) {
        throw;
    } catch (const Poco::TimeoutException&) {
        Fail(ERROR_INTERNET_TIMEOUT, QStringLiteral("The server did not answer in time."));
    } catch (const Poco::Exception&) {
        Fail(ERROR_FTP_DROPPED, QStringLiteral("The connection to the server is closed."));
    }
}

Poco::Net::StreamSocket FtpControl::SecureDataSocket(const Poco::Net::StreamSocket& data) {
    try {
        return Tls::SecureData(data, m_host, *m_secure, m_fingerprint);
    } catch (...) {
        // The server is left with a broken data connection and a reply to give.
        AbortTransfer();
        throw;
    }
}
