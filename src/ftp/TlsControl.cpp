// The TLS steps of the control connection: kept apart from the plain FTP
// dialogue in FtpControl.cpp, which calls them at a few places only.
#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <poll.h>

#include "FtpControl.h"
#include "Interrupt.h"
#include "SocketWait.h"

namespace {
QString ReplyWords(const FtpReply& reply) {
    return QString::fromUtf8(reply.text.data(), qsizetype(reply.text.size()));
}

const QString kTimedOut = QStringLiteral("The server did not answer in time.");
const QString kCancelled = QStringLiteral("The operation was cancelled.");

// One step of a wait inside TLS: POCO waits up to twice the socket time-out for
// a record that arrives in pieces, so half a step, and never past the deadline.
Poco::Timespan Step(std::chrono::steady_clock::time_point deadline) {
    const int ms = std::clamp(ftp::MsLeft(deadline), 1, ftp::kInterruptStepMs / 2);
    return Poco::Timespan(std::int64_t(ms) * 1000);
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
    CertificateTrust fallback; // nobody to ask: only trusted certificates pass
    try {
        m_secure = std::make_unique<Poco::Net::SecureStreamSocket>(
            Tls::SecureControl(m_socket, m_host, m_port, m_trust ? *m_trust : fallback,
                               &m_fingerprint, m_timeouts.replyMs));
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
        try {
            // Bytes already decrypted need no wait; new ones arrive on the socket.
            if (m_secure->available() == 0)
                AwaitSocket(POLLIN, deadline);
            // A record that arrives in pieces is waited for in steps until the deadline.
            m_secure->setReceiveTimeout(Step(deadline));
            const int n = m_secure->receiveBytes(buffer, sizeof buffer);
            if (n <= 0)
                return false;
            m_parser.Feed(buffer, std::size_t(n));
            return true;
        } catch (const CInternetException&) {
            throw;
        } catch (const Poco::TimeoutException&) {
            if (ftp::Interrupted())
                Fail(ERROR_INTERNET_OPERATION_CANCELLED, kCancelled);
            if (Clock::now() >= deadline)
                Fail(ERROR_INTERNET_TIMEOUT, kTimedOut);
        } catch (const Poco::Exception& e) {
            Fail(ERROR_INTERNET_CONNECTION_ABORTED,
                 QStringLiteral("The secure connection failed: ") +
                     QString::fromStdString(e.displayText()));
        }
    }
}

void FtpControl::SendSecure(const std::string& bytes, Clock::time_point deadline) {
    std::size_t sent = 0;
    // A write cut short by a step is repeated with the same bytes, as TLS demands.
    while (sent < bytes.size()) {
        try {
            if (ftp::Interrupted())
                Fail(ERROR_INTERNET_OPERATION_CANCELLED, kCancelled);
            m_secure->setSendTimeout(Step(deadline));
            const int n = m_secure->sendBytes(bytes.data() + sent, int(bytes.size() - sent));
            if (n <= 0)
                Fail(ERROR_FTP_DROPPED, QStringLiteral("The connection to the server is closed."));
            sent += std::size_t(n);
        } catch (const CInternetException&) {
            throw;
        } catch (const Poco::TimeoutException&) {
            if (Clock::now() >= deadline)
                Fail(ERROR_INTERNET_TIMEOUT, kTimedOut);
        } catch (const Poco::Exception&) {
            Fail(ERROR_FTP_DROPPED, QStringLiteral("The connection to the server is closed."));
        }
    }
}

Poco::Net::StreamSocket FtpControl::SecureDataSocket(const Poco::Net::StreamSocket& data) {
    try {
        return Tls::SecureData(data, m_host, *m_secure, m_fingerprint, m_timeouts.dataMs);
    } catch (...) {
        // The server is left with a broken data connection and a reply to give.
        AbortTransfer();
        throw;
    }
}
