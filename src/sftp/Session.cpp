#include "Session.h"

#include "File.h"
#include "InternetException.h"
#include "Interrupt.h"
#include "SessionWait.h"
#include "SocketWait.h"
#include "Wire.h"

#include <Poco/Exception.h>
#include <Poco/Net/StreamSocket.h>
#include <QFile>
#include <algorithm>
#include <libssh/libssh.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
    std::call_once(once, [] { ssh_init(); });
}

// AES-GCM first: OpenSSL runs it on the processor's AES instructions, and it
// needs no separate MAC. ChaCha20 next, for processors without them.
constexpr char kCiphers[] = "aes128-gcm@openssh.com,aes256-gcm@openssh.com,"
                            "chacha20-poly1305@openssh.com,aes128-ctr,aes192-ctr,aes256-ctr";

} // namespace

Session::Session(Timeouts timeouts) : m_timeouts(timeouts) {
    InitOnce();
}

Session::~Session() {
    if (!m_session)
        return;
    // A goodbye that a dead or stalled server cannot hold up: the channel's
    // close and the disconnect go out without waiting for an answer. A broken
    // session's socket is shut (MarkBroken): they fail at once.
    if (m_channel)
        ssh_channel_free(m_channel);
    if (!m_broken)
        ssh_disconnect(m_session);
    ssh_free(m_session);
}

void Session::WaitSocket(Clock::time_point deadline) {
    short events = POLLIN;
    if (ssh_get_poll_flags(m_session) & SSH_WRITE_PENDING)
        events |= POLLOUT;
    switch (ftp::WaitFor(m_fd, events, deadline)) {
    case ftp::WaitResult::Ready:
        return;
    case ftp::WaitResult::TimedOut:
        // A request is left without its reply: the session cannot go on.
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
    // libssh would still send fails at once instead of waiting.
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR);
}

void Session::EnsureUsable() const {
    if (m_broken || !m_session)
        throw Error(Error::Kind::Lost, QStringLiteral("The connection to the server was lost."));
}

HostKey Session::Connect(const QString& host, int port, const QString& knownHosts) {
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
    m_session = ssh_new();
    if (!m_session)
        throw Error(Error::Kind::Lost, QStringLiteral("Cannot start an SSH session."));
    // libssh closes the socket it is given; the connect's own stays with it.
    socket_t fd = ::dup(m_fd);
    const std::string name = host.toStdString();
    const unsigned int portNumber = unsigned(port);
    const bool no = false;
    const QByteArray knownPath =
        knownHosts.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(knownHosts);
    // No ssh_config of the user's changes the session, and the system's
    // known_hosts orders nothing: KnownHosts reads only the user's.
    ssh_options_set(m_session, SSH_OPTIONS_FD, &fd);
    ssh_options_set(m_session, SSH_OPTIONS_HOST, name.c_str());
    ssh_options_set(m_session, SSH_OPTIONS_PORT, &portNumber);
    ssh_options_set(m_session, SSH_OPTIONS_PROCESS_CONFIG, &no);
    ssh_options_set(m_session, SSH_OPTIONS_KNOWNHOSTS, knownPath.constData());
    ssh_options_set(m_session, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, "/dev/null");
    ssh_options_set(m_session, SSH_OPTIONS_CIPHERS_C_S, kCiphers);
    ssh_options_set(m_session, SSH_OPTIONS_CIPHERS_S_C, kCiphers);
    ssh_set_blocking(m_session, 0);
    if (AwaitSsh([&] { return ssh_connect(m_session); }, m_timeouts.connectMs) != SSH_OK)
        FailSsh(QStringLiteral("The SSH handshake with %1 failed").arg(where));
    ssh_key key = nullptr;
    char* base64 = nullptr;
    HostKey hostKey;
    // The blob as the server sent it; libssh 0.10 gives it out only in base64.
    if (ssh_get_server_publickey(m_session, &key) == SSH_OK &&
        ssh_pki_export_pubkey_base64(key, &base64) == SSH_OK)
        hostKey.blob = QByteArray::fromBase64(QByteArray(base64));
    ssh_string_free_char(base64);
    ssh_key_free(key);
    if (hostKey.blob.isEmpty())
        FailSsh(QStringLiteral("The SSH handshake with %1 failed").arg(where));
    hostKey.name = KeyName(hostKey.blob);
    return hostKey;
}

void Session::StartSftp() {
    const QString what = QStringLiteral("The server offers no SFTP");
    m_channel = ssh_channel_new(m_session);
    if (!m_channel ||
        AwaitSsh([&] { return ssh_channel_open_session(m_channel); }, m_timeouts.replyMs) !=
            SSH_OK ||
        AwaitSsh([&] { return ssh_channel_request_subsystem(m_channel, "sftp"); },
                 m_timeouts.replyMs) != SSH_OK)
        FailSsh(what);
    wire::Packet init(wire::kInit);
    init.U32(3);
    Send(init);
    // The version has no id: it is kept as the reply to id 0.
    const Reply version = Receive(0);
    if (version.type != wire::kVersion)
        FailSsh(what);
    wire::Reader in(version.body);
    try {
        in.U32();
        while (!in.AtEnd()) {
            const std::string_view name = in.Str();
            const std::string_view data = in.Str();
            if (name == "posix-rename@openssh.com" && data == "1")
                m_posixRename = true;
        }
    } catch (const Error&) {
        // Extensions that do not parse are extensions not offered.
    }
}

void Session::FailSsh(const QString& what) {
    const QString why = QString::fromUtf8(ssh_get_error(m_session));
    MarkBroken();
    throw Error(Error::Kind::Lost,
                QStringLiteral("%1: the connection to the server was lost (%2).").arg(what, why));
}

} // namespace sftp
