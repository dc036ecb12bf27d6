#pragma once

#include <cstddef>
#include <stdexcept>

#include <cstdint>

class LocalFile;
namespace core {
class RemoteReader;
class RemoteWriter;
} // namespace core

// The two ends of one copy. A source returns 0 only at the end of its data; both
// throw (std::exception) when the transfer breaks.
class TransferSource {
public:
    virtual ~TransferSource() = default;
    virtual std::size_t Read(char* buffer, std::size_t count) = 0;
};

class TransferSink {
public:
    virtual ~TransferSink() = default;
    virtual void Write(const char* buffer, std::size_t count) = 0;
};

// A remote file being read; it counts what has arrived.
class RemoteSource : public TransferSource {
public:
    explicit RemoteSource(core::RemoteReader& file) : m_file(file) {}
    std::size_t Read(char* buffer, std::size_t count) override;
    std::uint64_t Received() const { return m_received; }

private:
    core::RemoteReader& m_file;
    std::uint64_t m_received = 0;
};

class RemoteSink : public TransferSink {
public:
    explicit RemoteSink(core::RemoteWriter& file) : m_file(file) {}
    void Write(const char* buffer, std::size_t count) override;

private:
    core::RemoteWriter& m_file;
};

class LocalFileSource : public TransferSource {
public:
    explicit LocalFileSource(LocalFile& file) : m_file(file) {}
    std::size_t Read(char* buffer, std::size_t count) override;

private:
    LocalFile& m_file;
};

class LocalFileSink : public TransferSink {
public:
    explicit LocalFileSink(LocalFile& file) : m_file(file) {}
    void Write(const char* buffer, std::size_t count) override;

private:
    LocalFile& m_file;
};

// A source that ended before the length it was opened with.
class TransferCutShort : public std::runtime_error {
public:
    TransferCutShort() : std::runtime_error("the source ended before its length") {}
};
