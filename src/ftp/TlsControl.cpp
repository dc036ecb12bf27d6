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
    ftp::UseNonBlocking(m_socket);
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

Poco::Net::StreamSocket FtpControl::SecureDataSocket(const Poco::Net::StreamSocket& data) {
    try {
        return Tls::SecureData(data, m_host, *m_secure, m_fingerprint, m_timeouts.dataMs);
    } catch (...) {
        // The server is left with a broken data connection and a reply to give.
        AbortTransfer();
        throw;
    }
}
