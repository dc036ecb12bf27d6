// Feeds arbitrary bytes to the control-reply parser, whole and in random pieces,
// and checks what must hold for any server: codes of 100..599 only, every reply
// within the limits, and the same replies and verdict however the bytes arrive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ReplyParser.h"

namespace {

struct Outcome {
    std::vector<FtpReply> replies;
    bool malformed = false;
    bool partial = false;
};

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void Drain(FtpReplyParser& parser, Outcome& out) {
    FtpReply reply;
    while (parser.Next(reply)) {
        Check(reply.code >= 100 && reply.code <= 599);
        Check(reply.text.size() <= FtpReplyParser::kMaxReply);
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = reply.text.find('\n', start);
            const std::size_t stop = end == std::string::npos ? reply.text.size() : end;
            Check(stop - start <= FtpReplyParser::kMaxLine);
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        Check(reply.text.compare(0, 3, std::to_string(reply.code)) == 0);
        out.replies.push_back(std::move(reply));
    }
}

// Splits the input at points drawn from its own bytes, so that every run is
// repeatable.
Outcome Run(const std::uint8_t* data, std::size_t size, std::uint32_t seed) {
    FtpReplyParser parser;
    Outcome out;
    std::size_t pos = 0;
    while (pos < size) {
        seed = seed * 1103515245u + 12345u;
        std::size_t piece = seed == 0 ? size : 1 + (seed >> 16) % 97;
        if (piece > size - pos)
            piece = size - pos;
        parser.Feed(reinterpret_cast<const char*>(data) + pos, piece);
        pos += piece;
        Drain(parser, out);
    }
    out.malformed = parser.Malformed();
    out.partial = parser.Partial();
    return out;
}

bool Same(const Outcome& a, const Outcome& b) {
    if (a.malformed != b.malformed || a.partial != b.partial ||
        a.replies.size() != b.replies.size())
        return false;
    for (std::size_t i = 0; i < a.replies.size(); ++i)
        if (a.replies[i].code != b.replies[i].code || a.replies[i].text != b.replies[i].text)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FtpReplyParser whole;
    Outcome reference;
    whole.Feed(reinterpret_cast<const char*>(data), size);
    Drain(whole, reference);
    reference.malformed = whole.Malformed();
    reference.partial = whole.Partial();
    std::uint32_t seed = 0x9e3779b9u;
    for (std::size_t i = 0; i < size && i < 8; ++i)
        seed = seed * 31 + data[i];
    Check(Same(reference, Run(data, size, seed)));
    Check(Same(reference, Run(data, size, seed ^ 0x5bd1e995u)));
    // One byte at a time, as a drip-feeding server sends them.
    if (size <= 4096) {
        FtpReplyParser drip;
        Outcome dripped;
        for (std::size_t i = 0; i < size; ++i) {
            drip.Feed(reinterpret_cast<const char*>(data) + i, 1);
            Drain(drip, dripped);
        }
        dripped.malformed = drip.Malformed();
        dripped.partial = drip.Partial();
        Check(Same(reference, dripped));
    }
    // The passive-reply readers see the same hostile text.
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::uint16_t port = 0;
    if (ParsePasvPort(text, &port))
        Check(port != 0);
    if (ParseEpsvPort(text, &port))
        Check(port != 0);
    return 0;
}
