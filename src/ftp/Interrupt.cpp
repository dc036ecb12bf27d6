#include "Interrupt.h"

#include "InternetException.h"

#include <algorithm>
#include <poll.h>

namespace ftp {
namespace {
thread_local const std::atomic<int>* t_flag = nullptr;
thread_local InterruptScope::Clock::time_point t_deadline{};
thread_local bool t_hasDeadline = false;
} // namespace

InterruptScope::InterruptScope(const std::atomic<int>* flag)
    : m_previous(t_flag), m_previousDeadline(t_deadline), m_previousHasDeadline(t_hasDeadline) {
    t_flag = flag;
    t_hasDeadline = false;
}

InterruptScope::InterruptScope(std::chrono::milliseconds grace)
    : m_previous(t_flag), m_previousDeadline(t_deadline), m_previousHasDeadline(t_hasDeadline) {
    t_flag = nullptr;
    t_deadline = Clock::now() + grace;
    t_hasDeadline = true;
}

InterruptScope::~InterruptScope() {
    t_flag = m_previous;
    t_deadline = m_previousDeadline;
    t_hasDeadline = m_previousHasDeadline;
}

bool Interrupted() {
    if (t_flag && t_flag->load(std::memory_order_relaxed) != 0)
        return true;
    return t_hasDeadline && InterruptScope::Clock::now() >= t_deadline;
}

bool PauseUnlessStopped(std::chrono::milliseconds pause) {
    using Clock = InterruptScope::Clock;
    const auto until = Clock::now() + pause;
    while (!Interrupted()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0)
            return true;
        // The same short steps as every other wait of the FTP classes.
        ::poll(nullptr, 0, int(std::min<long long>(left, kInterruptStepMs)));
    }
    return false;
}

bool CanBeInterrupted() {
    return t_flag != nullptr || t_hasDeadline;
}

void ThrowCancelled() {
    throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED,
                             QStringLiteral("The operation was cancelled."));
}

void ThrowIfInterrupted() {
    if (Interrupted())
        ThrowCancelled();
}

} // namespace ftp
