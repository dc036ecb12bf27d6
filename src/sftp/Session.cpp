#include "Session.h"

#include "File.h"
#include "InternetException.h"
#include "Interrupt.h"
#include "SessionWait.h"
#include "SocketWait.h"

#include <Poco/Exception.h>
#include <Poco/Net/StreamSocket.h>
#include <libssh2.h>
#include <libssh2_sftp.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>

namespace sftp {

namespace {

using Clock = std::chrono::steady_clock;

// The key type's name is the first string of the key blob.
QString KeyName(const QByteArray& blob) {
    if (blob.size() < 4)
        return QString();
    const auto* b = reinterpret_cast<const unsigned char*>(blob.constData());
    const quint32 length = (quint32(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
    return length <= quint32(blob.size() - 4) ? QString::fromLatin1(blob.mid(4, length))
                                              : QString();
}

void InitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { libssh2_init(0); });
}

} // namespace

Session::Session(Timeouts timeouts) : m_timeouts(timeouts) {
    InitOnce();
}

Session::~Session() {
    // A goodbye that a dead or stalled server cannot hold up for long.
    ftp::InterruptScope grace(std::chrono::milliseconds(300));
    try {
        if (m_sftp && !m_broken)
            Await([&] { return libssh2_sftp_shutdown(m_sftp); }, 300);
        if (m_session && !m_broken)
            Await([&] { return libssh2_session_disconnect(m_session, "bye"); }, 300);
    } catch (const Error&) {
    }
    if (!m_session)
        return;
    // A broken session's socket is shut (MarkBroken): these fail at once, and
    // free what they hold rather than wait for the server.
    if (m_sftp && m_broken)
        libssh2_sftp_shutdown(m_sftp);
    for (int tries = 0; tries < 50; ++tries) {
        if (libssh2_session_free(m_session) != LIBSSH2_ERROR_EAGAIN)
            return;
        pollfd ready{m_fd, POLLOUT, 0};
        ::poll(&ready, 1, 10);
    }
}

void Session::WaitSocket(Clock::time_point deadline) {
    const int directions = libssh2_session_block_directions(m_session);
    short events = 0;
    if (directions & LIBSSH2_SESSION_BLOCK_INBOUND)
        events |= POLLIN;
    if (directions & LIBSSH2_SESSION_BLOCK_OUTBOUND)
        events |= POLLOUT;
    switch (ftp::WaitFor(m_fd, events ? events : short(POLLIN), deadline)) {
    case ftp::WaitResult::Ready:
        return;
    case ftp::WaitResult::TimedOut:
        // libssh2 is left in the middle of a step: the session cannot go on.
        MarkBroken();
        throw Error(Error::Kind::TimedOut, QStringLiteral("The server did not answer in time."));
    case ftp::WaitResult::Stopped:
        MarkBroken();
        throw Error(Error::Kind::Cancelled, QStringLiteral("The operation was cancelled."));
    }
}

void Session::MarkBroken() {
    m_broken = true;
    // Nothing more is owed to a broken session: with its socket shut, whatever
    // libssh2 would still send to free its state fails at once instead of
    // asking to be tried again.
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR);
}

void Session::EnsureUsable() const {
    if (m_broken || !m_session)
        throw Error(Error::Kind::Lost, QStringLiteral("The connection to the server was lost."));
}

HostKey Session::Connect(const QString& host, int port) {
    m_socket = std::make_unique<Poco::Net::StreamSocket>();
    const QString where = QStringLiteral("%1:%2").arg(host).arg(port);
    try {
        ftp::Connect(*m_socket, ftp::Resolve(host.toStdString(), static_cast<unsigned short>(port)),
                     m_timeouts.connectMs);
        m_socket->setBlocking(false);
        m_socket->setNoDelay(true);
    } catch (const CInternetException& e) {
        throw Error(ftp::Interrupted() ? Error::Kind::Cancelled : Error::Kind::Lost,
                    QString::fromUtf8(e.what()));
    } catch (const Poco::TimeoutException&) {
        throw Error(Error::Kind::TimedOut, QStringLiteral("%1 did not answer in time.").arg(where));
    } catch (const Poco::Exception& e) {
        throw Error(Error::Kind::Lost, QStringLiteral("Cannot connect to %1: %2")
                                           .arg(where, QString::fromStdString(e.displayText())));
    }
    m_fd = m_socket->impl()->sockfd();
    m_session = libssh2_session_init_ex(nullptr, nullptr, nullptr, this);
    if (!m_session)
        throw Error(Error::Kind::Lost, QStringLiteral("Cannot start an SSH session."));
    libssh2_session_set_blocking(m_session, 0);
    Check(Await([&] { return libssh2_session_handshake(m_session, m_fd); }, m_timeouts.connectMs),
          QStringLiteral("The SSH handshake with %1 failed").arg(where));
    std::size_t length = 0;
    int type = 0;
    const char* key = libssh2_session_hostkey(m_session, &length, &type);
    HostKey hostKey;
    hostKey.blob = QByteArray(key, qsizetype(length));
    hostKey.name = KeyName(hostKey.blob);
    return hostKey;
}

void Session::StartSftp() {
    m_sftp = AwaitPtr([&] { return libssh2_sftp_init(m_session); }, m_timeouts.replyMs);
    if (!m_sftp)
        Fail(libssh2_session_last_errno(m_session), QStringLiteral("The server offers no SFTP"));
}

void Session::Check(int rc, const QString& what) {
    if (rc < 0)
        Fail(rc, what);
}

namespace {

QString StatusText(unsigned long code) {
    switch (code) {
    case LIBSSH2_FX_NO_SUCH_FILE:
    case LIBSSH2_FX_NO_SUCH_PATH:
        return QStringLiteral("no such file or folder");
    case LIBSSH2_FX_PERMISSION_DENIED:
        return QStringLiteral("permission denied");
    case LIBSSH2_FX_FILE_ALREADY_EXISTS:
        return QStringLiteral("the name exists already");
    case LIBSSH2_FX_DIR_NOT_EMPTY:
        return QStringLiteral("the folder is not empty");
    case LIBSSH2_FX_NOT_A_DIRECTORY:
        return QStringLiteral("not a folder");
    case LIBSSH2_FX_NO_SPACE_ON_FILESYSTEM:
    case LIBSSH2_FX_QUOTA_EXCEEDED:
        return QStringLiteral("no space left on the server");
    case LIBSSH2_FX_WRITE_PROTECT:
        return QStringLiteral("the server's disk is read-only");
    case LIBSSH2_FX_OP_UNSUPPORTED:
        return QStringLiteral("the server does not support this");
    default:
        return QStringLiteral("the server refused it (SFTP status %1)").arg(code);
    }
}

} // namespace

void Session::Fail(int rc, const QString& what) {
    if (rc == LIBSSH2_ERROR_SFTP_PROTOCOL && m_sftp)
        throw Error(Error::Kind::Refused, QStringLiteral("%1: %2.").arg(
                                              what, StatusText(libssh2_sftp_last_error(m_sftp))));
    MarkBroken();
    char* message = nullptr;
    libssh2_session_last_error(m_session, &message, nullptr, 0);
    const QString why = message ? QString::fromUtf8(message) : QString::number(rc);
    if (rc == LIBSSH2_ERROR_TIMEOUT)
        throw Error(Error::Kind::TimedOut,
                    QStringLiteral("%1: the server did not answer in time.").arg(what));
    throw Error(Error::Kind::Lost,
                QStringLiteral("%1: the connection to the server was lost (%2).").arg(what, why));
}

} // namespace sftp
