#pragma once

#include <QString>
#include <cstdint>
#include <memory>

class CFtpConnection;
class FtpDataChannel; // defined in the implementation

// An open remote file: the data connection of one RETR or STOR. The data moves
// through large buffers, whatever the callers' block size.
class CInternetFile {
public:
    ~CInternetFile();
    CInternetFile(const CInternetFile&) = delete;
    CInternetFile& operator=(const CInternetFile&) = delete;

    // Reads up to count bytes; returns 0 only at the end of the data. Throws
    // CInternetException when the transfer breaks.
    unsigned Read(void* buffer, unsigned count);
    // Writes all count bytes; throws CInternetException when the transfer breaks.
    void Write(const void* buffer, unsigned count);
    // Ends the transfer and reads the server's final reply; throws
    // CInternetException when the server reports the transfer failed (for a
    // download cut short, for an upload not stored). Safe to call twice.
    void Close();

    // Total bytes moved so far.
    std::uint64_t BytesTransferred() const;

private:
    friend class CFtpConnection;
    explicit CInternetFile(std::unique_ptr<FtpDataChannel> channel);
    std::unique_ptr<FtpDataChannel> m_channel;
};
