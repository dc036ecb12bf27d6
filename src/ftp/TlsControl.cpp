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

QString HostText(const std::string& host) {
    return QString::fromStdString(host);
}

// Whether host and port showed TLS before, in the session's trust or, for a
// connection made without one, in the user's files as they are now.
bool TlsExpected(CertificateTrust* trust, const std::string& host, unsigned short port) {
    return trust ? trust->TlsExpected(HostText(host), port)
                 : CertificateTrust().TlsExpected(HostText(host), port);
}

} // namespace

void FtpControl::StartTls() {
    if (m_tlsMode == TlsMode::Off)
        return;
    if (m_tlsMode != TlsMode::Implicit) {
        const FtpReply reply = Command("AUTH TLS");
        if (reply.code != 234) {
            if (m_tlsMode == TlsMode::Auto && !m_tlsSeen && !TlsExpected(m_trust, m_host, m_port))
                return; // a plain server, as it always was: the session goes on in clear
            TlsRefused(reply);
        }
        // Anything that came in clear behind the 234 is dropped, never taken for a
        // reply from inside the secure channel.
        m_parser.Reset();
        SecureChannel();
    }
    // From here on there is no way back to plain: a refusal ends the connection.
    for (const char* command : {"PBSZ 0", "PROT P"}) {
        const FtpReply answer = Command(command);
        if (!answer.Is(2))
            Fail(ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
                 QStringLiteral("The server refused to protect the data connections: ") +
                     ReplyWords(answer));
    }
}

// Asked for TLS, or the server had shown it before: not one more word in clear,
// so no login and no QUIT.
void FtpControl::TlsRefused(const FtpReply& reply) {
    if (m_tlsMode == TlsMode::Auto)
        Fail(ERROR_INTERNET_TLS_WITHDRAWN,
             QStringLiteral("The server no longer offers the encryption (TLS) that it offered "
                            "before, so neither your user name nor your password was sent to "
                            "it. Someone may be intercepting the connection. If you know that the "
                            "server dropped its encryption, write ftp:// before its address to "
                            "connect without. The server said: ") +
                 ReplyWords(reply));
    Fail(ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
         QStringLiteral("The server does not offer a secure connection (TLS), so nothing "
                        "more was sent to it. The server said: ") +
             ReplyWords(reply));
}

// The handshake and the certificate checks over the control connection as it
// stands: right after the connect (implicit FTPS) or after the server's 234.
void FtpControl::SecureChannel() {
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
}

void FtpControl::TlsLoggedIn() {
    m_tlsSeen = true;
    CertificateTrust fallback;
    (m_trust ? *m_trust : fallback).TlsLoggedIn(HostText(m_host), m_port);
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
