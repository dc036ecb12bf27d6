#pragma once

// The waits of Session's calls into libssh2, for the files that implement it.
#include "Session.h"

#include <libssh2.h>

namespace sftp {

template <class F> auto Session::Await(F call, int timeoutMs) {
    EnsureUsable();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto rc = call();
        if (rc != LIBSSH2_ERROR_EAGAIN)
            return rc;
        WaitSocket(deadline);
        // Something moved: a slow server that keeps sending is not a silent one.
        deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    }
}

template <class F> auto Session::AwaitPtr(F call, int timeoutMs) {
    EnsureUsable();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto* result = call();
        if (result || libssh2_session_last_errno(m_session) != LIBSSH2_ERROR_EAGAIN)
            return result;
        WaitSocket(deadline);
        deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    }
}

} // namespace sftp
