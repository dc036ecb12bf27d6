#include "ReadAhead.h"

#include "Interrupt.h"
#include "SessionWait.h"

#include <algorithm>
#include <cstring>
#include <libssh2_sftp.h>

namespace sftp {

ReadAhead::ReadAhead(Session& session, LIBSSH2_SFTP_HANDLE* handle)
    : m_session(session), m_handle(handle) {}

ReadAhead::~ReadAhead() {
    Stop();
}

std::size_t ReadAhead::Read(void* buffer, std::size_t count) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (!m_ready.empty()) {
            // The reading thread only appends, which leaves the front block where
            // it is: it is copied out without holding the others up.
            Block& block = m_ready.front();
            const std::size_t n = std::min(count, block.end - block.begin);
            lock.unlock();
            std::memcpy(buffer, block.data.data() + block.begin, n);
            lock.lock();
            block.begin += n;
            if (block.begin == block.end) {
                m_spare.push_back(std::move(block.data));
                m_ready.pop_front();
                m_changed.notify_all();
            }
            return n;
        }
        if (m_error)
            std::rethrow_exception(m_error);
        if (m_eof)
            return 0;
        if (!m_running)
            Start();
        m_changed.wait_for(lock, std::chrono::milliseconds(ftp::kInterruptStepMs));
        if (ftp::Interrupted()) {
            lock.unlock();
            Stop();
            throw Error(Error::Kind::Cancelled, QStringLiteral("The operation was cancelled."));
        }
    }
}

void ReadAhead::Start() {
    // Called with the lock held and no thread running: the last one is past
    // its final look at the state and only has to be joined.
    if (m_thread.joinable())
        m_thread.join();
    // Another file's reading thread gives the session up first.
    m_session.Claim();
    m_running = true;
    m_stopping = false;
    m_cutOff = 0;
    m_session.m_readAhead = this;
    m_thread = std::thread([this] { Run(); });
}

void ReadAhead::Stop() noexcept {
    {
        std::unique_lock lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
        while (!m_changed.wait_for(lock, std::chrono::milliseconds(ftp::kInterruptStepMs),
                                   [&] { return !m_running; }))
            if (ftp::Interrupted())
                m_cutOff = 1;
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_session.m_readAhead == this)
        m_session.m_readAhead = nullptr;
}

void ReadAhead::Run() {
    ftp::InterruptScope cutOff(&m_cutOff);
    Session::ReaderScope reader(m_session);
    for (;;) {
        Block block;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stopping || m_ready.size() < kBlocks; });
            if (m_stopping)
                break;
            if (!m_spare.empty()) {
                block.data = std::move(m_spare.back());
                m_spare.pop_back();
            }
        }
        try {
            block.data.resize(kBlockSize);
            if (!Fill(block))
                break;
        } catch (...) {
            std::lock_guard lock(m_mutex);
            m_error = std::current_exception();
            break;
        }
    }
    std::lock_guard lock(m_mutex);
    m_running = false;
    m_changed.notify_all();
}

bool ReadAhead::Fill(Block& block) {
    // A block goes out once it holds a good part of its size, or when it has
    // waited a moment: each hand-over wakes the other thread, which at every
    // libssh2 read would cost more than it gains, while a slow server's bytes
    // still show up promptly. It never gets near full: libssh2 keeps requests
    // in flight for four times the space it is given, and a read into the last
    // bytes of a block would let that run dry.
    const auto due = std::chrono::steady_clock::now() + kHandOver;
    for (;;) {
        const ssize_t n = m_session.Await(
            [&] {
                return libssh2_sftp_read(m_handle, block.data.data() + block.end,
                                         block.data.size() - block.end);
            },
            m_session.m_timeouts.replyMs);
        if (n < 0)
            m_session.Fail(int(n), QStringLiteral("Reading the file failed"));
        block.end += std::size_t(n);
        if (n > 0 && block.end < kHandOverSize && std::chrono::steady_clock::now() < due)
            continue;
        std::lock_guard lock(m_mutex);
        m_eof = n == 0;
        if (block.end > block.begin)
            m_ready.push_back(std::move(block));
        m_changed.notify_all();
        return !m_eof;
    }
}

} // namespace sftp
