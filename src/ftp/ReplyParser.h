#pragma once

// Reply framing of the FTP control channel, with no socket in sight: bytes go in
// as they arrive, in pieces of any size, and whole replies come out. A server is
// not trusted to be sane, so lines and replies are bounded and anything that is
// not a reply ends the parse for good.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

struct FtpReply {
    int code = 0;     // 0 when the server closed the connection
    std::string text; // all lines, joined by "\n"
    bool Is(int klass) const { return code / 100 == klass; }
};

class FtpReplyParser {
public:
    static constexpr std::size_t kMaxLine = 8192;     // one line, without its line end
    static constexpr std::size_t kMaxReply = 1 << 20; // all lines of one reply together

    // Takes the next bytes from the server. After a malformed verdict the rest is
    // ignored: there is no telling where the next reply would start.
    void Feed(const char* data, std::size_t size);
    // Moves the oldest complete reply into reply; false when none is complete.
    bool Next(FtpReply& reply);
    bool HasReply() const { return !m_done.empty(); }
    bool Malformed() const { return m_malformed; }
    // True while part of a reply has been received but not all of it.
    bool Partial() const { return !m_line.empty() || m_current.code != 0; }
    void Reset();

private:
    void EndLine();
    void FirstLine();
    void Fail();

    std::string m_line;
    FtpReply m_current; // code 0 until its first line is in
    std::deque<FtpReply> m_done;
    bool m_malformed = false;
};

// The host-independent part of a passive reply: the port. Both refuse port 0, a
// port beyond 65535 and any number that does not fit its field; false then.
bool ParsePasvPort(const std::string& text, std::uint16_t* port);
bool ParseEpsvPort(const std::string& text, std::uint16_t* port);

// The replies that follow "ABOR" and a "SYST" sent right behind it. SYST's 215
// comes from nothing else, so every reply before it belongs to the abandoned
// transfer or to the abort: at most one late preliminary, a note or two, the
// transfer's end and the abort's answer. When that count does not add up, or the server refused
// ABOR and the transfer's end may still be on its way, the replies cannot be
// trusted to be in step again.
class AbortReplies {
public:
    enum class Verdict { More, InStep, OutOfStep };
    explicit AbortReplies(bool preliminaryDue) : m_preliminaryDue(preliminaryDue) {}
    Verdict Take(const FtpReply& reply);

private:
    bool m_preliminaryDue;
    int m_finals = 0;
    int m_notes = 0;
    bool m_refused = false;
};
