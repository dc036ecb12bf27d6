#pragma once

// The waits of Session's libssh steps, for the files that implement it.
#include "Session.h"

#include <libssh/libssh.h>

namespace sftp {

template <class F> int Session::AwaitSsh(F call, int timeoutMs) {
    EnsureUsable();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const int rc = call();
        // SSH_AUTH_AGAIN for the logins, SSH_AGAIN for the rest; neither
        // answers the other's kind of step.
        if (rc != SSH_AGAIN && rc != SSH_AUTH_AGAIN)
            return rc;
        WaitSocket(deadline);
        // Something moved: a slow server that keeps sending is not a silent one.
        deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    }
}

} // namespace sftp
