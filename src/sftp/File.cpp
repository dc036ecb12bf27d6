#include "File.h"

#include "Interrupt.h"
#include "Session.h"

#include <algorithm>
#include <cstring>

namespace sftp {

File::File(Session& session, std::string handle, std::uint64_t offset, bool cutAtClose)
    : m_session(session), m_handle(std::move(handle)), m_cutAtClose(cutAtClose), m_next(offset) {}

File::~File() {
    Abandon();
}

void File::SendRead(std::uint64_t offset, std::uint32_t length, bool first) {
    wire::Packet read(wire::kRead);
    read.Str(m_handle).U64(offset).U32(length);
    const Request request{m_session.Send(read), offset, length};
    if (first)
        m_pending.push_front(request);
    else
        m_pending.push_back(request);
}

void File::RequestReads() {
    while (!m_eof && m_pending.size() < m_window) {
        SendRead(m_next, std::uint32_t(kChunk), false);
        m_next += kChunk;
    }
}

// The oldest reply becomes the data handed out. A short one is not the end: the
// rest of its part is asked for again, ahead of the parts already asked for.
void File::NextData() {
    const Request request = m_pending.front();
    m_pending.pop_front();
    Session::Reply reply = m_session.Receive(request.id);
    if (reply.type == wire::kStatus && Session::StatusOf(reply) == wire::kEof) {
        m_eof = true;
        return;
    }
    if (reply.type != wire::kData)
        m_session.Refuse(reply, QStringLiteral("Reading the file failed"));
    wire::Reader in(reply.body);
    const std::size_t n = in.Str().size();
    if (n > request.length)
        throw wire::Malformed();
    if (n == 0) {
        m_eof = true;
        return;
    }
    m_data = std::move(reply.body);
    m_dataAt = 4;
    if (n < request.length)
        SendRead(request.offset + n, request.length - std::uint32_t(n), true);
    else
        m_window = std::min(m_window * 2, kInFlight);
}

std::size_t File::Read(void* buffer, std::size_t count) {
    while (m_dataAt == m_data.size()) {
        m_data.clear();
        m_dataAt = 0;
        if (m_eof)
            return 0;
        RequestReads();
        NextData();
    }
    const std::size_t n = std::min(count, m_data.size() - m_dataAt);
    std::memcpy(buffer, m_data.data() + m_dataAt, n);
    m_dataAt += n;
    return n;
}

void File::Write(const void* buffer, std::size_t count) {
    const char* p = static_cast<const char*>(buffer);
    m_writing = true;
    while (count > 0) {
        if (!m_packet) {
            m_packet.emplace(wire::kWrite);
            m_packet->Str(m_handle).U64(m_next);
            m_lengthAt = m_packet->Size();
            m_packet->U32(0);
            m_packetData = 0;
        }
        const std::size_t n = std::min(count, kChunk - m_packetData);
        std::memcpy(m_packet->Grow(n), p, n);
        m_packetData += n;
        p += n;
        count -= n;
        if (m_packetData == kChunk)
            SendWrite();
    }
}

void File::SendWrite() {
    if (m_pending.size() >= kInFlight)
        AwaitWrite();
    m_packet->SetU32(m_lengthAt, std::uint32_t(m_packetData));
    m_pending.push_back({m_session.Send(*m_packet), m_next, std::uint32_t(m_packetData)});
    m_next += m_packetData;
    m_packet.reset();
}

void File::AwaitWrite() {
    const Request request = m_pending.front();
    m_pending.pop_front();
    m_session.ExpectOk(m_session.Receive(request.id), QStringLiteral("Writing the file failed"));
}

void File::DrainReads() {
    // Replies asked for ahead and not needed: taken and dropped, so that the
    // close's reply is the next one.
    while (!m_pending.empty()) {
        const Request request = m_pending.front();
        m_pending.pop_front();
        m_session.Receive(request.id);
    }
}

void File::Close() {
    if (!m_open)
        return;
    if (m_packet)
        SendWrite();
    if (m_writing) {
        while (!m_pending.empty())
            AwaitWrite();
    } else {
        DrainReads();
    }
    m_open = false;
    if (m_cutAtClose) {
        // Bytes of an older, longer file past what was written are not this file's.
        wire::Packet cut(wire::kFsetstat);
        cut.Str(m_handle).U32(wire::kSize).U64(m_next);
        m_session.ExpectOk(m_session.Call(cut), QStringLiteral("Cannot set the file's size"));
    }
    wire::Packet close(wire::kClose);
    close.Str(m_handle);
    m_session.ExpectOk(m_session.Call(close), QStringLiteral("The server did not store the file"));
}

void File::Abandon() noexcept {
    if (!m_open)
        return;
    m_open = false;
    // A broken session ends its requests with it.
    if (m_session.Broken())
        return;
    // A short grace of its own: a stalled server must not hold up a Cancel.
    ftp::InterruptScope grace(std::chrono::milliseconds(500));
    try {
        DrainReads();
        wire::Packet close(wire::kClose);
        close.Str(m_handle);
        m_session.Call(close);
    } catch (const Error&) {
    }
}

} // namespace sftp
