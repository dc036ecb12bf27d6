#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

struct _LIBSSH2_SFTP_HANDLE;

namespace sftp {

class Session;

// The reads of one file on a thread of their own, a few MiB ahead of the caller.
// libssh2 decrypts on the thread that reads, and a copy writes each block to disk
// on the thread that asks: done on one thread, the two take turns on one core,
// where OpenSSH's sftp decrypts in its ssh process beside the one that writes.
//
// The thread has the session to itself while it runs. Anything else asked of the
// session first stops it (Session::Claim), letting the read in flight finish, so
// the session stays usable and what was read stays to be handed out.
class ReadAhead {
public:
    ReadAhead(Session& session, _LIBSSH2_SFTP_HANDLE* handle);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Up to count bytes; 0 only at the end of the file. Throws what the reading
    // thread met, or Cancelled when the caller's stop request comes first.
    std::size_t Read(void* buffer, std::size_t count);
    // Ends the thread once its read in flight is done. When the caller's stop
    // request comes first, the read is cut off, which leaves the session broken.
    void Stop() noexcept;

    static constexpr std::size_t kBlockSize = 2 << 20;
    static constexpr std::size_t kHandOverSize = 512 << 10;
    static constexpr std::size_t kBlocks = 3;
    static constexpr std::chrono::milliseconds kHandOver{50};

private:
    struct Block {
        std::vector<char> data;
        std::size_t begin = 0;
        std::size_t end = 0;
    };
    void Start();
    void Run();
    bool Fill(Block& block);

    Session& m_session;
    _LIBSSH2_SFTP_HANDLE* m_handle;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Block> m_ready; // read and not yet handed out, in order
    std::vector<std::vector<char>> m_spare;
    bool m_running = false;
    bool m_stopping = false;
    bool m_eof = false;
    std::exception_ptr m_error;
    std::atomic<int> m_cutOff{0}; // the reading thread's stop request
    std::thread m_thread;
};

} // namespace sftp
