#include "Session.h"
#include "Wire.h"

#include <algorithm>
#include <libssh/libssh.h>

// Requests and their replies on the SFTP channel. Requests go out in order and
// as fast as the channel's window takes them; replies are kept by id until
// asked for, so many can be in flight at once.
namespace sftp {

namespace {

using Clock = std::chrono::steady_clock;

// A reply longer than this is a stream gone wrong, not a reply: the longest
// this client asks for is a read of File::kChunk, or a folder's page of names.
constexpr std::uint32_t kMaxReply = 4 << 20;

} // namespace

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
        if (n == 0 || n == SSH_AGAIN)
            break;
        if (n < 0)
            FailSsh(QStringLiteral("Sending to the server failed"));
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
            throw Error(Error::Kind::Lost, QStringLiteral("The server ended the SFTP session."));
        }
        if (n == 0 || n == SSH_AGAIN)
            break;
        if (n < 0)
            FailSsh(QStringLiteral("Receiving from the server failed"));
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

} // namespace sftp
