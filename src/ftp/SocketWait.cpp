#include "SocketWait.h"

#include <Poco/Exception.h>
#include <Poco/Net/IPAddress.h>
#include <Poco/Net/NetException.h>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <sys/socket.h>
#include <thread>

#include "Interrupt.h"

using Poco::Net::SocketAddress;
using Poco::Net::StreamSocket;

namespace ftp {
namespace {

// The system time-out of a data socket. A TLS read that meets it waits once
// more as long inside POCO before it gives up, so half a step each.
constexpr int kSocketStepMs = kInterruptStepMs / 2;

// One lookup, shared with the thread that makes it: whoever leaves last frees it.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::optional<SocketAddress> address;
    std::exception_ptr error;
};

} // namespace

int MsLeft(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return int(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

WaitResult WaitFor(pollfd* fds, nfds_t count, Clock::time_point deadline) {
    for (;;) {
        if (Interrupted())
            return WaitResult::Stopped;
        const int left = MsLeft(deadline);
        if (left <= 0)
            return WaitResult::TimedOut;
        const int rc = ::poll(fds, count, std::min(left, kInterruptStepMs));
        if (rc > 0)
            return WaitResult::Ready;
        if (rc < 0 && errno != EINTR)
            return WaitResult::Ready; // the socket's own call reports what went wrong
    }
}

WaitResult WaitFor(int fd, short events, Clock::time_point deadline) {
    pollfd p{fd, events, 0};
    return WaitFor(&p, 1, deadline);
}

SocketAddress Resolve(const std::string& host, unsigned short port) {
    Poco::Net::IPAddress literal;
    if (Poco::Net::IPAddress::tryParse(host, literal))
        return SocketAddress(literal, port);
    if (!CanBeInterrupted())
        return SocketAddress(host, port);
    // The system's lookup cannot be cut short: it runs on a thread of its own,
    // which is left to finish alone when the stop comes first.
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host, port] {
        std::optional<SocketAddress> address;
        std::exception_ptr error;
        try {
            address.emplace(host, port);
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(lookup->mutex);
        lookup->address = std::move(address);
        lookup->error = error;
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    while (!lookup->done.wait_for(lock, std::chrono::milliseconds(kInterruptStepMs),
                                  [&] { return lookup->finished; }))
        ThrowIfInterrupted();
    if (lookup->error)
        std::rethrow_exception(lookup->error);
    return *lookup->address;
}

void Connect(StreamSocket& socket, const SocketAddress& address, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ThrowIfInterrupted();
    socket.connectNB(address);
    const int fd = socket.impl()->sockfd();
    switch (WaitFor(fd, POLLOUT, deadline)) {
    case WaitResult::Stopped:
        ThrowCancelled();
    case WaitResult::TimedOut:
        throw Poco::TimeoutException(address.toString());
    case WaitResult::Ready:
        break;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error == ECONNREFUSED)
        throw Poco::Net::ConnectionRefusedException(address.toString());
    if (error == ETIMEDOUT)
        throw Poco::TimeoutException(address.toString());
    if (error != 0)
        throw Poco::Net::NetException(std::strerror(error), address.toString());
    // Woken without an error but not connected: the socket was shut down meanwhile.
    sockaddr_storage peer{};
    socklen_t peerSize = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0)
        throw Poco::Net::ConnectionAbortedException(address.toString());
    socket.setBlocking(true);
}

void UseStepTimeouts(StreamSocket& socket) {
    const Poco::Timespan step(std::int64_t(kSocketStepMs) * 1000);
    socket.setReceiveTimeout(step);
    socket.setSendTimeout(step);
}

int ReceiveSome(StreamSocket& socket, void* buffer, int size, int timeoutMs) {
    // A look at the stop request costs no system call, so it is made even while
    // data flows: a transfer that never pauses still ends when asked.
    ThrowIfInterrupted();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        try {
            return socket.receiveBytes(buffer, size);
        } catch (const Poco::TimeoutException&) {
            ThrowIfInterrupted();
            if (Clock::now() >= deadline)
                throw;
        }
    }
}

int SendSome(StreamSocket& socket, const void* buffer, int size, int timeoutMs) {
    ThrowIfInterrupted();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        try {
            return socket.sendBytes(buffer, size, MSG_NOSIGNAL);
        } catch (const Poco::TimeoutException&) {
            ThrowIfInterrupted();
            if (Clock::now() >= deadline)
                throw;
        }
    }
}

} // namespace ftp
