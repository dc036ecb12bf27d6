#include "Interrupt.h"

#include "InternetException.h"

namespace ftp {
namespace {
thread_local const std::atomic<int>* t_flag = nullptr;
}

InterruptScope::InterruptScope(const std::atomic<int>* flag) : m_previous(t_flag) {
    t_flag = flag;
}

InterruptScope::~InterruptScope() {
    t_flag = m_previous;
}

bool Interrupted() {
    return t_flag && t_flag->load(std::memory_order_relaxed) != 0;
}

bool CanBeInterrupted() {
    return t_flag != nullptr;
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
