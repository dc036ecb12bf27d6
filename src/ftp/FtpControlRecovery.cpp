// How FtpControl keeps its way back: the working folder's trail, the abort that
// gets the replies back in step, and the fresh login when they cannot be.
#include <algorithm>
#include <optional>
#include <poll.h>
#include <string_view>

#include "FtpControl.h"
#include "Interrupt.h"

namespace {

constexpr std::size_t kMaxTrail = 256;
// What an abort may take once the user has asked to stop: the window waits for it.
constexpr int kStoppedAbortMs = 500;
constexpr std::chrono::seconds kLoginAgainAfter{1};

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
    if (m_trailLost) {
        m_givenUp = true;
        m_lostReason = QStringLiteral("The folder it was in cannot be found again.");
        return false;
    }
    ++m_reconnects;
    const std::vector<std::string> trail = std::move(m_cwdTrail);
    m_cwdTrail.clear();
    // A loss while the fresh login runs ends it: nothing makes a connection
    // afresh from inside the making of one.
    m_dialing = true;
    try {
        Dial(nullptr);
        for (const std::string& folder : trail)
            if (!Command("CWD " + folder).Is(2))
                Fail(ERROR_INTERNET_EXTENDED_ERROR,
                     QStringLiteral("The working folder could not be restored."));
        m_dialing = false;
        return true;
    } catch (const CInternetException& e) {
        m_dialing = false;
        m_dead = true;
        CloseSocket();
        // A try after this one still goes back to the same folder.
        m_cwdTrail = trail;
        // A stop leaves the next try to the next command (ReconnectDue); a server
        // that cannot be reached or refuses the login is not tried again.
        if (!ftp::Interrupted() && e.m_dwError != ERROR_INTERNET_OPERATION_CANCELLED)
            GiveUpAfterLoss();
        else
            m_givenUp = false;
        m_lostReason = e.Message();
        return false;
    }
}

void FtpControl::GiveUpAfterLoss() {
    m_givenUp = true;
    m_lossGivenUp = true;
    m_givenUpAt = Clock::now();
}

bool FtpControl::WillRedial() const {
    return m_dead && m_up && !m_dialing && !m_reconnectDue && !m_givenUp;
}

QString FtpControl::LostText() const {
    // Said after one fresh login was tried: the reason is that login's or the
    // broken command's.
    return QStringLiteral("The connection to the server was lost: ") + m_lostReason;
}

bool FtpControl::Repeatable(const std::string& command) {
    // Reads, and the steps that only set up this session or the next transfer:
    // sent twice they leave the server as sent once. A listing needs its data
    // connection made afresh too, and is repeated whole by its caller.
    static constexpr std::string_view kSafe[] = {"PWD",  "CWD",  "CDUP", "SIZE", "MDTM", "MLST",
                                                 "FEAT", "SYST", "NOOP", "TYPE", "OPTS", "EPSV",
                                                 "PASV", "PORT", "EPRT", "STAT", "HELP"};
    const std::string_view verb = std::string_view(command).substr(0, command.find(' '));
    return std::find(std::begin(kSafe), std::end(kSafe), verb) != std::end(kSafe);
}

bool FtpControl::ClosedWhileIdle() {
    if (m_replyOwed || m_parser.Partial())
        return false;
    if (m_parser.HasReply())
        return true; // a reply that no command asked for: a goodbye, or out of step
    pollfd fd{m_socket.impl()->sockfd(), short(POLLIN | POLLRDHUP), 0};
    if (::poll(&fd, 1, 0) <= 0)
        return false;
    if (fd.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))
        return true;
    // Bytes while no reply is due: on a plain connection only a reply that no
    // command asked for (a 421 before the close); TLS has records of its own.
    return !m_tls;
}

void FtpControl::RedialIfLost() {
    ftp::ThrowIfInterrupted();
    // A server that went away may be back a moment later: a connection given up
    // after a failed fresh login tries one again once a second has passed (a
    // resumed copy waits 1 to 16 s between its tries); sooner, it fails at once.
    if (m_givenUp && m_lossGivenUp && Clock::now() - m_givenUpAt >= kLoginAgainAfter) {
        m_givenUp = false;
        m_lossGivenUp = false;
    }
    if (m_dialing || m_givenUp || !m_up || m_reconnectDue)
        return;
    if (Alive() && !ClosedWhileIdle())
        return;
    // Found closed before the command went out (the server's idle time-out, a
    // restart, an earlier command's loss): made afresh, in the same folder, and
    // nothing was sent on the old one.
    if (Reconnect())
        return;
    if (ftp::Interrupted()) {
        m_reconnectDue = true;
        ftp::ThrowCancelled();
    }
    throw CInternetException(ERROR_FTP_DROPPED, LostText());
}
