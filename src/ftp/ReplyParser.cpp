#include "ReplyParser.h"

#include <cstring>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The last line of a multi-line reply: its code, then a space or nothing.
bool EndsReply(const std::string& line, const std::string& text) {
    return line.size() >= 3 && line.compare(0, 3, text, 0, 3) == 0 &&
           (line.size() == 3 || line[3] == ' ');
}

// A decimal number of at most maxDigits digits at text[pos]; pos moves past it.
bool Number(const std::string& text, std::size_t& pos, std::size_t maxDigits, unsigned* value) {
    std::size_t digits = 0;
    unsigned v = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
        if (++digits > maxDigits)
            return false;
        v = v * 10 + unsigned(text[pos] - '0');
        ++pos;
    }
    *value = v;
    return digits > 0;
}

// Six numbers of 0..255 separated by commas, starting at pos.
bool SixNumbers(const std::string& text, std::size_t pos, unsigned n[6]) {
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != ',')
                return false;
            ++pos;
        }
        if (!Number(text, pos, 3, &n[i]) || n[i] > 255)
            return false;
    }
    return pos >= text.size() || !IsDigit(text[pos]);
}

} // namespace

void FtpReplyParser::Reset() {
    m_line.clear();
    m_current = FtpReply();
    m_done.clear();
    m_malformed = false;
}

void FtpReplyParser::Feed(const char* data, std::size_t size) {
    while (size > 0 && !m_malformed) {
        const char* newline = static_cast<const char*>(std::memchr(data, '\n', size));
        const std::size_t take = newline ? std::size_t(newline - data) : size;
        // A line end may be CR LF, so one byte over the limit may still be its CR.
        if (m_line.size() + take > kMaxLine + 1) {
            Fail();
            return;
        }
        m_line.append(data, take);
        data += take;
        size -= take;
        if (!newline) {
            if (m_line.size() > kMaxLine && m_line.back() != '\r')
                Fail();
            return;
        }
        ++data;
        --size;
        if (!m_line.empty() && m_line.back() == '\r')
            m_line.pop_back();
        if (m_line.size() > kMaxLine) {
            Fail();
            return;
        }
        EndLine();
        m_line.clear();
    }
}

bool FtpReplyParser::Next(FtpReply& reply) {
    if (m_done.empty())
        return false;
    reply = std::move(m_done.front());
    m_done.pop_front();
    return true;
}

void FtpReplyParser::Fail() {
    m_malformed = true;
    m_line.clear();
    m_current = FtpReply();
}

void FtpReplyParser::FirstLine() {
    const std::string& line = m_line;
    if (line.size() < 3 || line[0] < '1' || line[0] > '5' || !IsDigit(line[1]) ||
        !IsDigit(line[2])) {
        Fail();
        return;
    }
    m_current.code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    m_current.text = line;
    if (line.size() > 3 && line[3] == '-')
        return; // more lines follow
    m_done.push_back(std::move(m_current));
    m_current = FtpReply();
}

void FtpReplyParser::EndLine() {
    if (m_current.code == 0) {
        FirstLine();
        return;
    }
    if (m_current.text.size() + 1 + m_line.size() > kMaxReply) {
        Fail();
        return;
    }
    m_current.text.push_back('\n');
    m_current.text += m_line;
    if (EndsReply(m_line, m_current.text)) {
        m_done.push_back(std::move(m_current));
        m_current = FtpReply();
    }
}

bool ParsePasvPort(const std::string& text, std::uint16_t* port) {
    // The numbers may or may not be in brackets, and the text before them may hold
    // digits of its own: the first run of six that fits is the address.
    for (std::size_t pos = 3; pos < text.size(); ++pos) {
        if (!IsDigit(text[pos]) || IsDigit(text[pos - 1]))
            continue;
        unsigned n[6];
        if (!SixNumbers(text, pos, n))
            continue;
        const unsigned value = n[4] * 256 + n[5];
        if (value == 0)
            return false;
        *port = std::uint16_t(value);
        return true;
    }
    return false;
}

bool ParseEpsvPort(const std::string& text, std::uint16_t* port) {
    // "(|||port|)": any printable delimiter but a digit, three times, the port, again.
    const std::size_t open = text.find('(');
    if (open == std::string::npos || open + 4 >= text.size())
        return false;
    const char d = text[open + 1];
    if (d < 33 || d > 126 || IsDigit(d) || text[open + 2] != d || text[open + 3] != d)
        return false;
    std::size_t pos = open + 4;
    unsigned value = 0;
    if (!Number(text, pos, 5, &value) || pos >= text.size() || text[pos] != d || value == 0 ||
        value > 65535)
        return false;
    *port = std::uint16_t(value);
    return true;
}

AbortReplies::Verdict AbortReplies::Take(const FtpReply& reply) {
    if (reply.Is(1)) {
        if (m_preliminaryDue && m_finals == 0) {
            m_preliminaryDue = false;
            return Verdict::More;
        }
        // A note, not an end: pure-ftpd reports an abandoned download's statistics
        // as "150 0.006 seconds (measured here)...". SYST's 215 still tells where
        // the abort's replies stop; only a flood of notes is out of step.
        return ++m_notes > 2 ? Verdict::OutOfStep : Verdict::More;
    }
    if (reply.code == 215) {
        // Both ends heard; or one answer, which a server may give for both at once,
        // unless it was a refusal of ABOR with the transfer's end still to come.
        if (m_finals == 2 || (m_finals == 1 && !m_refused))
            return Verdict::InStep;
        return Verdict::OutOfStep;
    }
    if (reply.code >= 500 && reply.code <= 502)
        m_refused = true;
    return ++m_finals > 2 ? Verdict::OutOfStep : Verdict::More;
}
