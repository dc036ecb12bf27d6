#include "Wire.h"

#include <cstring>

namespace sftp::wire {

namespace {

void PutU32(char* at, std::uint32_t value) {
    for (int i = 3; i >= 0; --i, value >>= 8)
        at[i] = char(value & 0xff);
}

} // namespace

Packet::Packet(Type type) {
    m_bytes.reserve(64);
    m_bytes.append(4, '\0'); // the length
    m_bytes.push_back(char(type));
    if (type != kInit)
        m_bytes.append(4, '\0'); // the id
}

Packet& Packet::U32(std::uint32_t value) {
    PutU32(Grow(4), value);
    return *this;
}

Packet& Packet::U64(std::uint64_t value) {
    U32(std::uint32_t(value >> 32));
    return U32(std::uint32_t(value));
}

Packet& Packet::Str(std::string_view bytes) {
    U32(std::uint32_t(bytes.size()));
    if (!bytes.empty())
        std::memcpy(Grow(bytes.size()), bytes.data(), bytes.size());
    return *this;
}

char* Packet::Grow(std::size_t count) {
    const std::size_t at = m_bytes.size();
    m_bytes.resize(at + count);
    return m_bytes.data() + at;
}

void Packet::SetU32(std::size_t at, std::uint32_t value) {
    PutU32(m_bytes.data() + at, value);
}

std::string Packet::Finish(std::uint32_t id) {
    PutU32(m_bytes.data(), std::uint32_t(m_bytes.size() - 4));
    if (m_bytes[4] != char(kInit))
        PutU32(m_bytes.data() + 5, id);
    return std::move(m_bytes);
}

std::string_view Reader::Take(std::size_t count) {
    if (count > m_rest.size())
        throw Malformed();
    const std::string_view part = m_rest.substr(0, count);
    m_rest.remove_prefix(count);
    return part;
}

std::uint8_t Reader::U8() {
    return std::uint8_t(Take(1)[0]);
}

std::uint32_t Reader::U32() {
    const auto* b = reinterpret_cast<const unsigned char*>(Take(4).data());
    return (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) | (std::uint32_t(b[2]) << 8) |
           b[3];
}

std::uint64_t Reader::U64() {
    const std::uint64_t high = U32();
    return (high << 32) | U32();
}

std::string_view Reader::Str() {
    return Take(U32());
}

Attrs ReadAttrs(Reader& in) {
    Attrs a;
    a.flags = in.U32();
    if (a.flags & kSize)
        a.size = in.U64();
    if (a.flags & kUidGid) {
        in.U32();
        in.U32();
    }
    if (a.flags & kPermissions)
        a.permissions = in.U32();
    if (a.flags & kTimes) {
        in.U32(); // the access time
        a.mtime = in.U32();
    }
    if (a.flags & kExtendedAttrs)
        for (std::uint32_t n = in.U32(); n > 0; --n) {
            in.Str();
            in.Str();
        }
    return a;
}

Error Malformed() {
    return Error(Error::Kind::Refused, QStringLiteral("The server's reply does not parse."));
}

} // namespace sftp::wire
