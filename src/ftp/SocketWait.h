#pragma once

// The blocking steps of the FTP classes, cut into short waits so that a stop
// request (Interrupt.h) ends them quickly while every time-out keeps its length.
// Data that is already flowing never meets an extra system call: the waits only
// begin once the socket has nothing to give.

#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <chrono>
#include <poll.h>
#include <string>

namespace ftp {

using Clock = std::chrono::steady_clock;

enum class WaitResult { Ready, TimedOut, Stopped };

// Polls fds until one is ready, the deadline has passed or a stop is requested.
// An error or hang-up on a socket counts as ready: the read that follows tells.
WaitResult WaitFor(pollfd* fds, nfds_t count, Clock::time_point deadline);
WaitResult WaitFor(int fd, short events, Clock::time_point deadline);

// Milliseconds until deadline, rounded up; 0 once it has passed.
int MsLeft(Clock::time_point deadline);

// The name lookup, given up on when a stop is requested (the lookup itself ends
// later on its own). Throws POCO's exceptions for an unknown name.
Poco::Net::SocketAddress Resolve(const std::string& host, unsigned short port);

// Connects socket (created for the address family already or not) within
// timeoutMs; POCO's exceptions for a refusal or a time-out, CInternetException
// when stopped. The socket is blocking afterwards.
void Connect(Poco::Net::StreamSocket& socket, const Poco::Net::SocketAddress& address,
             int timeoutMs);

// Makes a connected socket (plain or TLS) non-blocking for the reads and writes
// below: a full send buffer or an empty receive buffer is then a wait in poll,
// never an error of the socket call and never a system time-out.
void UseNonBlocking(Poco::Net::StreamSocket& socket);

// One read or write on a socket made non-blocking by UseNonBlocking, waiting in
// poll until something moves, the deadline passes (Poco::TimeoutException) or a
// stop is requested (CInternetException). A reset or a closed connection throws
// at once (Poco::Net::ConnectionResetException); only "would block", and TLS's
// want-read and want-write, are waited out. A read returns 0 at the end of the
// data; a write returns how much went out, and a retry after a wait repeats the
// same call, as TLS demands.
int ReceiveUntil(Poco::Net::StreamSocket& socket, void* buffer, int size,
                 Clock::time_point deadline);
int SendUntil(Poco::Net::StreamSocket& socket, const void* buffer, int size,
              Clock::time_point deadline);

// The same, waiting up to timeoutMs for the first byte to move.
int ReceiveSome(Poco::Net::StreamSocket& socket, void* buffer, int size, int timeoutMs);
int SendSome(Poco::Net::StreamSocket& socket, const void* buffer, int size, int timeoutMs);

} // namespace ftp
