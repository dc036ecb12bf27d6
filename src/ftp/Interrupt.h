#pragma once

#include <atomic>
#include <chrono>

// A request to stop, looked at by every blocking wait of the FTP classes on the
// thread that set it. A wait never sleeps longer than a short step between two
// looks, so a stop takes effect quickly even while the server says nothing.
namespace ftp {

// Makes flag the current thread's stop request for as long as the scope lives
// (scopes nest; the innermost one counts). A non-zero value means stop.
class InterruptScope {
public:
    using Clock = std::chrono::steady_clock;

    explicit InterruptScope(const std::atomic<int>* flag);
    // No stop request, but a stop of its own once grace has passed: for what
    // must still be done after Cancel (the blocks already copied reach the
    // server) without waiting on a server that has stalled.
    explicit InterruptScope(std::chrono::milliseconds grace);
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

private:
    const std::atomic<int>* m_previous;
    Clock::time_point m_previousDeadline;
    bool m_previousHasDeadline;
};

// Whether the current thread has been asked to stop.
bool Interrupted();
// Throws CInternetException(ERROR_INTERNET_OPERATION_CANCELLED) when asked to stop.
void ThrowIfInterrupted();
// The same exception, unconditionally.
[[noreturn]] void ThrowCancelled();
// Whether a stop request is installed on this thread at all (set or not).
bool CanBeInterrupted();

// Waits out a pause (a back-off before the next try) on a worker thread; false
// as soon as the stop request comes.
bool PauseUnlessStopped(std::chrono::milliseconds pause);

// The longest a wait sleeps before it looks at the stop request again.
constexpr int kInterruptStepMs = 50;

} // namespace ftp
