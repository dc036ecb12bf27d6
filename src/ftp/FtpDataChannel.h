#pragma once

// The data connection of one RETR or STOR. Callers move small blocks; the socket
// sees large ones: reads fill a 256 KiB buffer (or go straight into a large caller
// buffer), writes are gathered into one and sent when it is full.

#include <Poco/Net/StreamSocket.h>
#include <cstdint>
#include <vector>

#include "InternetException.h"

class FtpControl;
struct FtpReply;

class FtpDataChannel {
public:
    enum class Direction { Download, Upload };
    FtpDataChannel(FtpControl* control, const Poco::Net::StreamSocket& socket, Direction direction);
    ~FtpDataChannel();
    FtpDataChannel(const FtpDataChannel&) = delete;
    FtpDataChannel& operator=(const FtpDataChannel&) = delete;

    unsigned Read(void* buffer, unsigned count);
    void Write(const void* buffer, unsigned count);
    void Close();
    std::uint64_t Transferred() const { return m_transferred; }

    // The connection is going away: nothing more may be said on it.
    void Detach() { m_control = nullptr; }

    static constexpr std::size_t kBufferSize = 256 * 1024;
    static constexpr unsigned kDirectReadSize = 64 * 1024;

private:
    void ReachedEnd();
    FtpReply FinalReply();
    void Flush();
    void SendAll(const char* data, std::size_t size);
    void Abandon();
    void Release();
    [[noreturn]] void Broken(int fallbackError);
    bool PeerFinished();

    FtpControl* m_control;
    Poco::Net::StreamSocket m_socket;
    Direction m_direction;
    int m_dataMs; // how long a read or write may wait for the first byte to move
    std::vector<char> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::uint64_t m_transferred = 0;
    bool m_finished = false; // the final reply has been read (or given up on)
    bool m_broken = false;   // the transfer failed; the error has been thrown
};
