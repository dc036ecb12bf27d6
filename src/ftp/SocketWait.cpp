#include "SocketWait.h"

#include <Poco/Exception.h>
#include <Poco/Net/IPAddress.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SecureStreamSocket.h>
#include <Poco/Net/SecureStreamSocketImpl.h>
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

void UseNonBlocking(StreamSocket& socket) {
    // On a TLS socket this reaches its own implementation too, which then hands
    // back want-read and want-write instead of waiting inside the library.
    socket.setBlocking(false);
}

namespace {

[[noreturn]] void ThrowLost(int error) {
    if (error == ECONNRESET || error == EPIPE || error == ENOTCONN || error == ECONNABORTED)
        throw Poco::Net::ConnectionResetException(std::strerror(error));
    throw Poco::Net::NetException(std::strerror(error));
}

// Waits until fd can take the next step of a read or write; the socket call that
// follows tells whether it really can.
void AwaitStep(int fd, short events, Clock::time_point deadline) {
    switch (WaitFor(fd, events, deadline)) {
    case WaitResult::Ready:
        return;
    case WaitResult::TimedOut:
        throw Poco::TimeoutException("no data moved in time");
    case WaitResult::Stopped:
        ThrowCancelled();
    }
}

Poco::Net::SecureStreamSocketImpl* SecureImpl(StreamSocket& socket) {
    return dynamic_cast<Poco::Net::SecureStreamSocketImpl*>(socket.impl());
}

// What TLS asks for before the call can go on: a record to come in, or room to
// send one (a renegotiation may need either way).
short TlsWants(int rc) {
    return rc == Poco::Net::SecureStreamSocket::ERR_SSL_WANT_WRITE ? POLLOUT : POLLIN;
}

} // namespace

int ReceiveUntil(StreamSocket& socket, void* buffer, int size, Clock::time_point deadline) {
    // A look at the stop request costs no system call, so it is made even while
    // data flows: a transfer that never pauses still ends when asked.
    ThrowIfInterrupted();
    const int fd = socket.impl()->sockfd();
    if (auto* secure = SecureImpl(socket)) {
        for (;;) {
            const int n = secure->receiveBytes(buffer, size);
            if (n >= 0)
                return n;
            AwaitStep(fd, TlsWants(n), deadline);
        }
    }
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, std::size_t(size), MSG_DONTWAIT);
        if (n >= 0)
            return int(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            ThrowLost(errno);
        AwaitStep(fd, POLLIN, deadline);
    }
}

int SendUntil(StreamSocket& socket, const void* buffer, int size, Clock::time_point deadline) {
    ThrowIfInterrupted();
    if (size <= 0)
        return 0;
    const int fd = socket.impl()->sockfd();
    if (auto* secure = SecureImpl(socket)) {
        for (;;) {
            const int n = secure->sendBytes(buffer, size);
            if (n > 0)
                return n;
            if (n == 0)
                throw Poco::Net::ConnectionResetException("the secure connection was closed");
            AwaitStep(fd, TlsWants(n), deadline);
        }
    }
    for (;;) {
        const ssize_t n = ::send(fd, buffer, std::size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0)
            return int(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            ThrowLost(errno);
        AwaitStep(fd, POLLOUT, deadline);
    }
}

int ReceiveSome(StreamSocket& socket, void* buffer, int size, int timeoutMs) {
    return ReceiveUntil(socket, buffer, size,
                        Clock::now() + std::chrono::milliseconds(timeoutMs));
}

int SendSome(StreamSocket& socket, const void* buffer, int size, int timeoutMs) {
    return SendUntil(socket, buffer, size, Clock::now() + std::chrono::milliseconds(timeoutMs));
}

} // namespace ftp
