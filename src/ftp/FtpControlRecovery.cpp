// How FtpControl keeps its way back: the working folder's trail, the abort that
// gets the replies back in step, and the fresh login when they cannot be.
#include <algorithm>
#include <optional>

#include "FtpControl.h"
#include "Interrupt.h"

namespace {

constexpr std::size_t kMaxTrail = 256;
// What an abort may take once the user has asked to stop: the window waits for it.
constexpr int kStoppedAbortMs = 500;

} // namespace

void FtpControl::Remember(const std::string& command, const FtpReply& reply) {
    if (!reply.Is(2))
        return;
    if (command.rfind("CWD ", 0) == 0) {
        const std::string folder = command.substr(4);
        if (!folder.empty() && folder[0] == '/') {
            m_cwdTrail.clear();
            m_trailLost = false;
        }
        m_cwdTrail.push_back(folder);
    } else if (command == "CDUP") {
        m_cwdTrail.push_back("..");
    }
    // Endless relative steps are not kept: such a folder cannot be restored, and a
    // fresh connection then is not made rather than left in the wrong folder.
    if (m_cwdTrail.size() > kMaxTrail) {
        m_cwdTrail.clear();
        m_trailLost = true;
    }
}

void FtpControl::AbortTransfer(bool preliminaryDue) {
    if (!Alive())
        return;
    // After a stop the server gets a short while to answer, without the stop
    // cutting that short, and a connection it leaves out of step is closed rather
    // than made afresh: the user waits. A stop that comes during an abort closes
    // the connection at once.
    const bool stopping = ftp::Interrupted();
    std::optional<ftp::InterruptScope> abortRuns;
    if (stopping)
        abortRuns.emplace(nullptr);
    const int budgetMs =
        stopping ? std::min(m_timeouts.replyMs, kStoppedAbortMs) : m_timeouts.replyMs;
    const auto deadline = Clock::now() + std::chrono::milliseconds(budgetMs);
    try {
        Send("ABOR", deadline);
        AbortReplies replies(preliminaryDue);
        bool systSent = false;
        for (;;) {
            const FtpReply reply = ReadReplyUntil(deadline);
            if (!Alive())
                return; // closed by the server (or 421): nothing is left unread
            const AbortReplies::Verdict verdict = replies.Take(reply);
            // SYST follows ABOR's first answer, not ABOR itself: pure-ftpd ends the
            // session when a command comes on the heels of ABOR.
            if (!systSent) {
                Send("SYST", deadline);
                systSent = true;
            }
            switch (verdict) {
            case AbortReplies::Verdict::More:
                continue;
            case AbortReplies::Verdict::InStep:
                return;
            case AbortReplies::Verdict::OutOfStep:
                // A reply may still be on its way: only a new connection is sure
                // to answer each command with its own reply.
                if (stopping) {
                    // The user is not kept waiting for a new login now; the
                    // next command makes it.
                    m_dead = true;
                    m_reconnectDue = true;
                    CloseSocket();
                } else {
                    Reconnect();
                }
                return;
            }
        }
    } catch (const CInternetException&) {
        m_dead = true;
        // A silent server after Cancel: try afresh at the next command.
        m_reconnectDue = stopping || ftp::Interrupted();
        CloseSocket();
    }
}

void FtpControl::ReturnTo(const std::string& folder) {
    if (!ReconnectDue() || folder.empty() || folder[0] != '/')
        return;
    m_cwdTrail.assign(1, folder);
    m_trailLost = false;
}

bool FtpControl::Reconnect() {
    m_dead = true;
    CloseSocket();
    if (m_trailLost)
        return false;
    ++m_reconnects;
    const std::vector<std::string> trail = std::move(m_cwdTrail);
    m_cwdTrail.clear();
    try {
        Dial(nullptr);
        for (const std::string& folder : trail)
            if (!Command("CWD " + folder).Is(2))
                Fail(ERROR_INTERNET_EXTENDED_ERROR,
                     QStringLiteral("The working folder could not be restored."));
        return true;
    } catch (const CInternetException&) {
        m_dead = true;
        CloseSocket();
        // A try after this one still goes back to the same folder.
        m_cwdTrail = trail;
        return false;
    }
}
