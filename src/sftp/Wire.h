#pragma once

#include "SftpError.h"

#include <cstdint>
#include <string>
#include <string_view>

// SFTP version 3 on the wire (draft-ietf-secsh-filexfer-02): the packets this
// client sends and the parts of the replies it reads. Every number is big-endian;
// a string is its length and its bytes.
namespace sftp::wire {

enum Type : std::uint8_t {
    kInit = 1,
    kVersion = 2,
    kOpen = 3,
    kClose = 4,
    kRead = 5,
    kWrite = 6,
    kLstat = 7,
    kFsetstat = 10,
    kOpendir = 11,
    kReaddir = 12,
    kRemove = 13,
    kMkdir = 14,
    kRmdir = 15,
    kRealpath = 16,
    kStat = 17,
    kRename = 18,
    kReadlink = 19,
    kExtended = 200,
    kStatus = 101,
    kHandle = 102,
    kData = 103,
    kName = 104,
    kAttrs = 105,
};

enum Status : std::uint32_t {
    kOk = 0,
    kEof = 1,
    kNoSuchFile = 2,
};

enum OpenFlags : std::uint32_t {
    kReadFlag = 0x01,
    kWriteFlag = 0x02,
    kCreate = 0x08,
    kTruncate = 0x10,
    kExclusive = 0x20,
};

enum AttrFlags : std::uint32_t {
    kSize = 0x01,
    kUidGid = 0x02,
    kPermissions = 0x04,
    kTimes = 0x08,
    kExtendedAttrs = 0x80000000u,
};

// A request being built: its length and id are filled in as it is sent.
class Packet {
public:
    explicit Packet(Type type);
    Packet& U32(std::uint32_t value);
    Packet& U64(std::uint64_t value);
    Packet& Str(std::string_view bytes);
    // Room for count more bytes, e.g. a write's data copied in place.
    char* Grow(std::size_t count);
    // Sets the number at byte at, e.g. a length known only once the data is in.
    void SetU32(std::size_t at, std::uint32_t value);
    // The finished bytes with id set; the packet is spent.
    std::string Finish(std::uint32_t id);
    std::size_t Size() const { return m_bytes.size(); }

private:
    std::string m_bytes;
};

// What a reply holds, read front to back; reading past its end is a
// malformed reply, which ends the session.
class Reader {
public:
    explicit Reader(std::string_view bytes) : m_rest(bytes) {}
    std::uint8_t U8();
    std::uint32_t U32();
    std::uint64_t U64();
    std::string_view Str();
    std::string_view Rest() { return Take(m_rest.size()); }
    bool AtEnd() const { return m_rest.empty(); }

private:
    std::string_view Take(std::size_t count);
    std::string_view m_rest;
};

// The attributes of a file as version 3 sends them.
struct Attrs {
    std::uint32_t flags = 0;
    std::uint64_t size = 0;
    std::uint32_t permissions = 0;
    std::uint32_t mtime = 0;
    bool IsFolder() const { return (flags & kPermissions) && (permissions & 0170000) == 0040000; }
    bool IsLink() const { return (flags & kPermissions) && (permissions & 0170000) == 0120000; }
};
Attrs ReadAttrs(Reader& in);

// The thrown word for a reply that does not parse; the packets around it still
// do, so the session goes on.
Error Malformed();

} // namespace sftp::wire
