#include "TlsLayer.h"

#include <Poco/Exception.h>
#include <Poco/Net/NetSSL.h>
#include <Poco/Net/SSLException.h>
#include <Poco/Net/SecureStreamSocketImpl.h>
#include <Poco/Net/X509Certificate.h>
#include <QDateTime>
#include <arpa/inet.h>
#include <mutex>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include "InternetException.h"
#include "InternetSession.h"
#include "Interrupt.h"
#include "SocketWait.h"

using Poco::Net::SecureStreamSocket;
using Poco::Net::StreamSocket;

namespace {

bool IsAddressLiteral(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// What the chain check found during the handshake running on this thread. The
// handshake is never failed for it: the user may still choose to go on, and the
// choice is made before anything is sent over the channel.
thread_local unsigned t_chainProblems = 0;

unsigned ProblemOf(int error) {
    switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return CERT_SELF_SIGNED;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_CHAIN_TOO_LONG:
        return CERT_UNTRUSTED;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return CERT_EXPIRED;
    default:
        return CERT_INVALID;
    }
}

int RecordChainProblem(int ok, X509_STORE_CTX* store) {
    if (!ok)
        t_chainProblems |= ProblemOf(X509_STORE_CTX_get_error(store));
    return 1;
}

QString NameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio)
        return {};
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    QString text = QString::fromUtf8(data, qsizetype(size));
    BIO_free(bio);
    return text;
}

QString TimeText(const ASN1_TIME* time) {
    tm parts{};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return QStringLiteral("unknown");
    const QDateTime when(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                         QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
    return when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) + QStringLiteral(" UTC");
}

QString Fingerprint(const X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &size) != 1)
        return {};
    QString text;
    for (unsigned i = 0; i < size; ++i) {
        if (i)
            text += QLatin1Char(':');
        text += QStringLiteral("%1").arg(digest[i], 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

// Ends the connection at once, without a goodbye. Shut down, not closed: the
// descriptor stays its owner's until the socket object goes.
void Cut(SecureStreamSocket& socket) {
    ::shutdown(socket.impl()->sockfd(), SHUT_RDWR);
}

[[noreturn]] void ChannelFailed(const QString& what) {
    throw CInternetException(ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
                             QStringLiteral("The secure connection failed: ") + what);
}

// Drives the handshake on a non-blocking socket, waiting in short steps, so
// that a stop request ends it as quickly as any other wait.
void CompleteHandshake(SecureStreamSocket& secure, int fd, int timeoutMs) {
    const auto deadline = ftp::Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int rc = secure.completeHandshake();
        if (rc == 1)
            return;
        short events = POLLIN;
        if (rc == SecureStreamSocket::ERR_SSL_WANT_WRITE)
            events = POLLOUT;
        else if (rc != SecureStreamSocket::ERR_SSL_WANT_READ)
            ChannelFailed(QStringLiteral("the server ended the connection."));
        switch (ftp::WaitFor(fd, events, deadline)) {
        case ftp::WaitResult::Ready:
            break;
        case ftp::WaitResult::TimedOut:
            throw Poco::TimeoutException();
        case ftp::WaitResult::Stopped:
            ftp::ThrowCancelled();
        }
    }
}

// The handshake; POCO's own errors become ours.
SecureStreamSocket Handshake(const StreamSocket& plain, const std::string& host,
                             Poco::Net::Session::Ptr session, int timeoutMs) {
    t_chainProblems = 0;
    StreamSocket socket = plain; // the same connection
    try {
        // The name goes along for SNI; an address literal must not.
        const bool literal = IsAddressLiteral(host);
        socket.setBlocking(false);
        SecureStreamSocket secure = SecureStreamSocket::attach(
            socket, literal ? std::string() : host, Tls::ClientContext(), session);
        CompleteHandshake(secure, socket.impl()->sockfd(), timeoutMs);
        // The socket stays non-blocking: the library asks the plain socket under
        // it whether to wait inside a call, and every wait is ours (SocketWait.h).
        ftp::UseNonBlocking(secure);
        return secure;
    } catch (const CInternetException&) {
        throw;
    } catch (const Poco::TimeoutException&) {
        ChannelFailed(QStringLiteral("the server did not answer in time."));
    } catch (const Poco::Exception& e) {
        ChannelFailed(QString::fromStdString(e.displayText()));
    } catch (const std::exception& e) {
        ChannelFailed(QString::fromLocal8Bit(e.what()));
    }
}

} // namespace

bool SplitFtpScheme(const QString& address, QString* rest, TlsMode* mode) {
    QString text = address.trimmed();
    TlsMode m = TlsMode::Auto;
    const qsizetype sep = text.indexOf(QLatin1String("://"));
    if (sep >= 0) {
        const QString scheme = text.left(sep).toLower();
        if (scheme == QLatin1String("ftps") || scheme == QLatin1String("ftpes"))
            m = TlsMode::Required;
        else if (scheme == QLatin1String("ftp"))
            m = TlsMode::Off;
        else
            return false;
        text = text.mid(sep + 3);
        if (text.endsWith(QLatin1Char('/')))
            text.chop(1);
        if (text.contains(QLatin1Char('/')))
            return false;
        // Only a port written out makes "ftps://" implicit: "ftps://host" has
        // always meant AUTH TLS on port 21, and such profiles must not change.
        unsigned short port = 0;
        if (scheme == QLatin1String("ftps") &&
            CInternetSession::ParseAddress(text, 1, nullptr, &port) && port == kImplicitFtpsPort)
            m = TlsMode::Implicit;
    }
    *rest = text;
    *mode = m;
    return true;
}

namespace Tls {

Poco::Net::Context::Ptr ClientContext() {
    static std::once_flag once;
    static Poco::Net::Context::Ptr context;
    std::call_once(once, [] {
        Poco::Net::initializeSSL();
        Poco::Net::Context::Params params;
        params.verificationMode = Poco::Net::Context::VERIFY_RELAXED;
        params.loadDefaultCAs = true;
        params.cipherList = "DEFAULT";
        context = new Poco::Net::Context(Poco::Net::Context::TLS_CLIENT_USE, params);
        context->requireMinimumProtocol(Poco::Net::Context::PROTO_TLSV1_2);
        // TLS 1.2 at most: servers that demand session reuse on data connections
        // (vsftpd) take each TLS 1.3 session only once, so the second transfer
        // of a connection would be refused.
        SSL_CTX_set_max_proto_version(context->sslContext(), TLS1_2_VERSION);
        // A write returns once a record is out, so a stalled upload shows how far
        // it got and its time-out counts from the last progress, as for plain ones.
        SSL_CTX_set_mode(context->sslContext(), SSL_MODE_ENABLE_PARTIAL_WRITE);
        context->enableSessionCache(true);
        // Our checks replace POCO's, which would ask a process-wide handler.
        context->enableExtendedCertificateVerification(false);
        SSL_CTX_set_verify(context->sslContext(), SSL_VERIFY_PEER, RecordChainProblem);
    });
    return context;
}

bool IsSecure(const StreamSocket& socket) {
    return dynamic_cast<Poco::Net::SecureStreamSocketImpl*>(socket.impl()) != nullptr;
}

int ReceiveMore(StreamSocket& socket, char* buffer, int room) {
    constexpr int kRecord = 16 * 1024;
    int total = 0;
    try {
        while (room - total >= kRecord) {
            if (socket.available() == 0) {
                pollfd fd{socket.impl()->sockfd(), POLLIN, 0};
                if (::poll(&fd, 1, 0) <= 0)
                    break;
            }
            const int n = socket.receiveBytes(buffer + total, room - total);
            if (n <= 0)
                break; // the end: the next read sees it again
            total += n;
        }
    } catch (const Poco::Exception&) {
        // The next read meets the same error and reports it.
    }
    return total;
}

bool PeerFinished(StreamSocket& socket, int waitMs) {
    // The server's close_notify reads as the end; a byte means the caller
    // stopped before the end.
    try {
        char probe = 0;
        return ftp::ReceiveUntil(socket, &probe, 1,
                                 ftp::Clock::now() + std::chrono::milliseconds(waitMs)) == 0;
    } catch (const Poco::Exception&) {
        return false;
    }
}

void EndSending(StreamSocket& socket, int waitMs) {
    // The close_notify must find room in the send buffer, or it would be
    // dropped and the server could take the upload for one cut short.
    const int fd = socket.impl()->sockfd();
    if (ftp::WaitFor(fd, POLLOUT, ftp::Clock::now() + std::chrono::milliseconds(waitMs)) !=
        ftp::WaitResult::Ready)
        return;
    try {
        socket.shutdown(); // non-blocking TLS: the close_notify only
    } catch (const Poco::Exception&) {
    }
}

bool MatchesHost(const SecureStreamSocket& socket, const std::string& host) {
    const Poco::Net::X509Certificate cert = socket.peerCertificate();
    X509* x = const_cast<X509*>(cert.certificate());
    if (IsAddressLiteral(host))
        return X509_check_ip_asc(x, host.c_str(), 0) == 1;
    return X509_check_host(x, host.data(), host.size(), 0, nullptr) == 1;
}

CertificateVerdict Inspect(const SecureStreamSocket& socket, const std::string& host,
                           unsigned short port, unsigned chainProblems) {
    const Poco::Net::X509Certificate cert = socket.peerCertificate();
    const X509* x = cert.certificate();
    CertificateVerdict verdict;
    verdict.host = QString::fromStdString(host);
    verdict.port = port;
    verdict.problems = chainProblems;
    if (!MatchesHost(socket, host))
        verdict.problems |= CERT_NAME_MISMATCH;
    verdict.subject = NameText(X509_get_subject_name(x));
    verdict.issuer = NameText(X509_get_issuer_name(x));
    verdict.validFrom = TimeText(X509_get0_notBefore(x));
    verdict.validUntil = TimeText(X509_get0_notAfter(x));
    verdict.fingerprint = Fingerprint(x);
    if (verdict.fingerprint.isEmpty())
        verdict.problems |= CERT_INVALID;
    return verdict;
}

SecureStreamSocket SecureControl(const StreamSocket& plain, const std::string& host,
                                 unsigned short port, CertificateTrust& trust, QString* fingerprint,
                                 int timeoutMs) {
    SecureStreamSocket secure = Handshake(plain, host, nullptr, timeoutMs);
    const unsigned chain = t_chainProblems;
    CertificateVerdict verdict;
    try {
        verdict = Inspect(secure, host, port, chain);
    } catch (const Poco::Exception& e) {
        Cut(secure);
        ChannelFailed(QStringLiteral("the server sent no usable certificate."));
    }
    try {
        trust.Approve(verdict);
    } catch (...) {
        // Not a byte more for a server we do not trust, not even a goodbye.
        Cut(secure);
        throw;
    }
    *fingerprint = verdict.fingerprint;
    return secure;
}

SecureStreamSocket SecureData(const StreamSocket& plain, const std::string& host,
                              SecureStreamSocket& control, const QString& controlFingerprint,
                              int timeoutMs) {
    SecureStreamSocket secure = Handshake(plain, host, control.currentSession(), timeoutMs);
    if (secure.sessionWasReused())
        return secure;
    // A fresh handshake: it must be the same server that we accepted on the
    // control connection, or one whose certificate needs no question at all.
    QString seen;
    try {
        const Poco::Net::X509Certificate cert = secure.peerCertificate();
        seen = Fingerprint(cert.certificate());
    } catch (const Poco::Exception&) {
    }
    if (seen.isEmpty() || seen != controlFingerprint) {
        Cut(secure);
        ChannelFailed(QStringLiteral("the data connection showed another certificate."));
    }
    return secure;
}

} // namespace Tls
