#include "Session.h"

#include "File.h"
#include "InternetException.h"
#include "Interrupt.h"
#include "SessionWait.h"
#include "SocketWait.h"
#include "Wire.h"

#include <Poco/Exception.h>
#include <Poco/Net/StreamSocket.h>
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

// A reply longer than this is a stream gone wrong, not a reply: the longest
// this client asks for is a read of File::kChunk, or a folder's page of names.
constexpr std::uint32_t kMaxReply = 4 << 20;

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
    m_session = ssh_new();
    if (!m_session)
        throw Error(Error::Kind::Lost, QStringLiteral("Cannot start an SSH session."));
    // libssh closes the socket it is given; the connect's own stays with it.
    socket_t fd = ::dup(m_fd);
    const std::string name = host.toStdString();
    const unsigned int portNumber = unsigned(port);
    const bool no = false;
    // The host key is checked by KnownHosts, and no ssh_config of the user's
    // changes the session: libssh reads neither.
    ssh_options_set(m_session, SSH_OPTIONS_FD, &fd);
    ssh_options_set(m_session, SSH_OPTIONS_HOST, name.c_str());
    ssh_options_set(m_session, SSH_OPTIONS_PORT, &portNumber);
    ssh_options_set(m_session, SSH_OPTIONS_PROCESS_CONFIG, &no);
    ssh_options_set(m_session, SSH_OPTIONS_KNOWNHOSTS, "/dev/null");
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

std::uint32_t Session::Send(wire::Packet& packet) {
    EnsureUsable();
    const std::uint32_t id = m_nextId++;
    if (m_outAt == m_out.size()) {
        m_out = packet.Finish(id);
        m_outAt = 0;
    } else {
        m_out += packet.Finish(id);
    }
    Pump();
    return id;
}

Session::Reply Session::Receive(std::uint32_t id) {
    EnsureUsable();
    auto deadline = Clock::now() + std::chrono::milliseconds(m_timeouts.replyMs);
    for (;;) {
        const auto found = m_replies.find(id);
        if (found != m_replies.end()) {
            Reply reply = std::move(found->second);
            m_replies.erase(found);
            return reply;
        }
        if (Pump()) {
            deadline = Clock::now() + std::chrono::milliseconds(m_timeouts.replyMs);
            continue;
        }
        WaitSocket(deadline);
    }
}

bool Session::Pump() {
    bool moved = false;
    while (m_outAt < m_out.size()) {
        // As much as the channel's window takes; the rest waits for it to open.
        const std::size_t left = std::min<std::size_t>(m_out.size() - m_outAt, 1 << 20);
        const int n = ssh_channel_write(m_channel, m_out.data() + m_outAt, std::uint32_t(left));
        if (n < 0)
            FailSsh(QStringLiteral("Sending to the server failed"));
        if (n == 0)
            break;
        m_outAt += std::size_t(n);
        moved = true;
    }
    if (m_outAt == m_out.size()) {
        m_out.clear();
        m_outAt = 0;
    }
    char buffer[64 << 10];
    for (;;) {
        const int n = ssh_channel_read_nonblocking(m_channel, buffer, sizeof buffer, 0);
        if (n == SSH_EOF) {
            MarkBroken();
            throw Error(Error::Kind::Lost,
                        QStringLiteral("The server ended the SFTP session."));
        }
        if (n < 0)
            FailSsh(QStringLiteral("Receiving from the server failed"));
        if (n == 0)
            break;
        m_in.append(buffer, std::size_t(n));
        moved = true;
    }
    if (moved)
        TakePackets();
    return moved;
}

void Session::TakePackets() {
    std::size_t at = 0;
    while (m_in.size() - at >= 4) {
        wire::Reader head(std::string_view(m_in).substr(at, 4));
        const std::uint32_t length = head.U32();
        if (length < 1 || length > kMaxReply) {
            MarkBroken();
            throw Error(Error::Kind::Lost,
                        QStringLiteral("The server sent something that is not SFTP."));
        }
        if (m_in.size() - at - 4 < length)
            break;
        wire::Reader packet(std::string_view(m_in).substr(at + 4, length));
        at += 4 + std::size_t(length);
        Reply reply;
        reply.type = packet.U8();
        std::uint32_t id = 0;
        if (reply.type != wire::kVersion) {
            if (length < 5) {
                MarkBroken();
                throw Error(Error::Kind::Lost,
                            QStringLiteral("The server sent something that is not SFTP."));
            }
            id = packet.U32();
        }
        reply.body = packet.Rest();
        m_replies[id] = std::move(reply);
    }
    m_in.erase(0, at);
}

namespace {

QString StatusText(std::uint32_t code) {
    switch (code) {
    case 2:  // no such file
    case 10: // no such path
        return QStringLiteral("no such file or folder");
    case 3:
        return QStringLiteral("permission denied");
    case 11:
        return QStringLiteral("the name exists already");
    case 18:
        return QStringLiteral("the folder is not empty");
    case 19:
        return QStringLiteral("not a folder");
    case 14: // no space on the file system
    case 15: // quota exceeded
        return QStringLiteral("no space left on the server");
    case 12:
        return QStringLiteral("the server's disk is read-only");
    case 8:
        return QStringLiteral("the server does not support this");
    default:
        return QStringLiteral("the server refused it (SFTP status %1)").arg(code);
    }
}

} // namespace

std::uint32_t Session::StatusOf(const Reply& reply) {
    wire::Reader in(reply.body);
    return in.U32();
}

void Session::Refuse(const Reply& reply, const QString& what) {
    if (reply.type != wire::kStatus)
        throw wire::Malformed();
    throw Error(Error::Kind::Refused,
                QStringLiteral("%1: %2.").arg(what, StatusText(StatusOf(reply))));
}

void Session::ExpectOk(const Reply& reply, const QString& what) {
    if (reply.type != wire::kStatus || StatusOf(reply) != wire::kOk)
        Refuse(reply, what);
}

std::string Session::ExpectHandle(const Reply& reply, const QString& what) {
    if (reply.type != wire::kHandle)
        Refuse(reply, what);
    wire::Reader in(reply.body);
    return std::string(in.Str());
}

std::string Session::ExpectName(const Reply& reply, const QString& what) {
    if (reply.type != wire::kName)
        Refuse(reply, what);
    wire::Reader in(reply.body);
    if (in.U32() < 1)
        throw wire::Malformed();
    return std::string(in.Str());
}

void Session::FailSsh(const QString& what) {
    const QString why = QString::fromUtf8(ssh_get_error(m_session));
    MarkBroken();
    throw Error(Error::Kind::Lost,
                QStringLiteral("%1: the connection to the server was lost (%2).").arg(what, why));
}

} // namespace sftp
