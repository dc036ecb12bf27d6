#pragma once

#include "Wire.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace sftp {

class Session;

// An open remote file. Reads and writes keep many requests in flight, so a
// transfer is not paced by the round trip; the data is handed back in order.
class File {
public:
    File(Session& session, std::string handle, std::uint64_t offset, bool cutAtClose);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Up to count bytes; 0 only at the end of the file.
    std::size_t Read(void* buffer, std::size_t count);
    // All count bytes, or a throw.
    void Write(const void* buffer, std::size_t count);
    // Waits for what is in flight, cuts the file at the end of what was written
    // (when it was opened at an offset) and closes it; throws when the server
    // says no.
    void Close();
    // Drops the file without waiting on the server for long; never throws.
    void Abandon() noexcept;

    // The size of each request and how many are in flight at most.
    static constexpr std::size_t kChunk = 32 << 10;
    static constexpr std::size_t kInFlight = 64;

private:
    struct Request {
        std::uint32_t id;
        std::uint64_t offset;
        std::uint32_t length;
    };
    void RequestReads();
    void SendRead(std::uint64_t offset, std::uint32_t length, bool first);
    void NextData();
    void SendWrite();
    void AwaitWrite();
    void DrainReads();

    Session& m_session;
    std::string m_handle;
    bool m_cutAtClose;
    bool m_open = true;
    bool m_writing = false;
    std::uint64_t m_next;          // the offset of the next request
    std::deque<Request> m_pending; // in flight, oldest first
    // Reading: the data of the oldest reply, and how much of it is handed out.
    std::string m_data;
    std::size_t m_dataAt = 0;
    bool m_eof = false;
    std::size_t m_window = 4; // reads in flight: it grows as full replies come
    // Writing: the request being filled, where its data's length goes, and how
    // much data it holds.
    std::optional<wire::Packet> m_packet;
    std::size_t m_lengthAt = 0;
    std::size_t m_packetData = 0;
};

} // namespace sftp
