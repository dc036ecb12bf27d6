// Control replies as servers send them, whole, split anywhere and hostile; the
// port of passive replies; and the replies that follow an abort.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ReplyParser.h"

namespace {

struct Parsed {
    std::vector<FtpReply> replies;
    bool malformed = false;
    bool partial = false;
};

Parsed Parse(const std::string& bytes, std::size_t piece) {
    FtpReplyParser parser;
    Parsed out;
    for (std::size_t pos = 0; pos < bytes.size(); pos += piece) {
        parser.Feed(bytes.data() + pos, std::min(piece, bytes.size() - pos));
        for (FtpReply r; parser.Next(r);)
            out.replies.push_back(r);
    }
    out.malformed = parser.Malformed();
    out.partial = parser.Partial();
    return out;
}

struct ReplyCase {
    const char* name;
    std::string bytes;
    std::vector<int> codes; // of the complete replies, in order
    bool malformed;
    std::string lastText; // of the last complete reply, when given
};

TEST(ReplyParser, FramesRepliesWhateverTheSplit) {
    const std::string longLine(FtpReplyParser::kMaxLine - 4, 'x');
    const ReplyCase cases[] = {
        {"greeting", "220 (vsFTPd 3.0.3)\r\n", {220}, false, "220 (vsFTPd 3.0.3)"},
        {"bare LF", "220 ready\n230 in\n", {220, 230}, false, "230 in"},
        {"code alone", "213\r\n", {213}, false, "213"},
        {"multi-line FEAT",
         "211-Features:\r\n MLST type*;\r\n UTF8\r\n211 End\r\n",
         {211},
         false,
         "211-Features:\n MLST type*;\n UTF8\n211 End"},
        {"inner line with the code and a dash",
         "220-a\r\n220-b\r\n220 c\r\n",
         {220},
         false,
         "220-a\n220-b\n220 c"},
        {"inner line of another code",
         "250-a\r\n226 not the end\r\n250 end\r\n",
         {250},
         false,
         "250-a\n226 not the end\n250 end"},
        {"last line is the code alone", "250-a\r\n250\r\n", {250}, false, "250-a\n250"},
        {"inner three-character line",
         "250-a\r\nxyz\r\n250 end\r\n",
         {250},
         false,
         "250-a\nxyz\n250 end"},
        {"unfinished multi-line", "211-no end\r\n more\r\n", {}, false, ""},
        {"unfinished line", "220 rea", {}, false, ""},
        {"longest line allowed", "200 " + longLine + "\r\n", {200}, false, ""},
        {"line one byte too long", "200 " + longLine + "x\r\n", {}, true, ""},
        {"too long without an end", "200 " + longLine + "xx", {}, true, ""},
        {"code 600", "600 no\r\n", {}, true, ""},
        {"code 099", "099 no\r\n", {}, true, ""},
        {"letters", "HTTP/1.1 400 Bad Request\r\n", {}, true, ""},
        {"empty first line", "\r\n220 hi\r\n", {}, true, ""},
        {"two digits", "22\r\n", {}, true, ""},
        {"reply before garbage", "200 ok\r\nxx\r\n200 never\r\n", {200}, true, "200 ok"},
        {"pipelined",
         "426 broken\r\n226 ABOR ok\r\n215 UNIX\r\n",
         {426, 226, 215},
         false,
         "215 UNIX"},
    };
    for (const ReplyCase& c : cases) {
        for (std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(7), c.bytes.size()}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            const Parsed p = Parse(c.bytes, std::max<std::size_t>(piece, 1));
            std::vector<int> codes;
            for (const FtpReply& r : p.replies)
                codes.push_back(r.code);
            EXPECT_EQ(codes, c.codes);
            EXPECT_EQ(p.malformed, c.malformed);
            if (!c.lastText.empty() && !p.replies.empty()) {
                EXPECT_EQ(p.replies.back().text, c.lastText);
            }
        }
    }
}

TEST(ReplyParser, EndlessMultiLineReplyIsCutAtTheReplyLimit) {
    FtpReplyParser parser;
    parser.Feed("250-start\r\n", 11);
    const std::string line = "250-and more of the same\r\n";
    std::size_t fed = 0;
    while (!parser.Malformed() && fed < 2 * FtpReplyParser::kMaxReply) {
        parser.Feed(line.data(), line.size());
        fed += line.size();
    }
    EXPECT_TRUE(parser.Malformed());
    // Each line adds its text without CR LF but with a joining LF: the verdict
    // comes with the line that takes the reply past its limit, not before.
    const std::size_t lines = fed / line.size();
    const std::size_t perLine = line.size() - 1;
    EXPECT_GT(10 + lines * perLine, FtpReplyParser::kMaxReply);
    EXPECT_LE(10 + (lines - 1) * perLine, FtpReplyParser::kMaxReply);
    FtpReply r;
    EXPECT_FALSE(parser.Next(r));
    parser.Reset();
    parser.Feed("220 again\r\n", 11);
    EXPECT_TRUE(parser.Next(r));
    EXPECT_EQ(r.code, 220);
}

TEST(ReplyParser, PassivePorts) {
    struct Case {
        const char* text;
        bool pasv; // else EPSV
        int port;  // -1: refused
    };
    const Case cases[] = {
        {"227 Entering Passive Mode (127,0,0,1,195,80).", true, 195 * 256 + 80},
        {"227 Entering Passive Mode 10,0,0,5,4,1", true, 1025},
        {"227 Mode v2 (10,0,0,5,0,21)", true, 21},
        {"227 Entering Passive Mode (127,0,0,1,0,0).", true, -1},
        {"227 Entering Passive Mode (127,0,0,1,256,1).", true, -1},
        {"227 Entering Passive Mode (127,0,0,1,1,1000).", true, -1},
        {"227 Entering Passive Mode (127,0,0,1,99999999999,1).", true, -1},
        {"227 Entering Passive Mode (127,0,0,1,4).", true, -1},
        {"227", true, -1},
        {"229 Entering Extended Passive Mode (|||50123|)", false, 50123},
        {"229 Entering Extended Passive Mode (!!!21!)", false, 21},
        {"229 Entering Extended Passive Mode (|||0|)", false, -1},
        {"229 Entering Extended Passive Mode (|||65536|)", false, -1},
        {"229 Entering Extended Passive Mode (|||999999|)", false, -1},
        {"229 Entering Extended Passive Mode (|1|10.9.8.7|5000|)", false, -1},
        {"229 Entering Extended Passive Mode (|||5000)", false, -1},
        {"229 Entering Extended Passive Mode (111501231)", false, -1},
        {"229 Entering Extended Passive Mode (|||", false, -1},
        {"229 no brackets |||5000|", false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint16_t port = 0;
        const bool ok = c.pasv ? ParsePasvPort(c.text, &port) : ParseEpsvPort(c.text, &port);
        EXPECT_EQ(ok, c.port >= 0);
        if (ok && c.port >= 0) {
            EXPECT_EQ(port, c.port);
        }
    }
}

TEST(AbortReplies, InStepOnlyWhenTheCountAddsUp) {
    using V = AbortReplies::Verdict;
    struct Case {
        const char* name;
        bool preliminaryDue;
        std::vector<int> codes;
        V last;
    };
    const Case cases[] = {
        {"aborted transfer and ABOR", false, {426, 226, 215}, V::InStep},
        {"finished transfer and ABOR", false, {226, 225, 215}, V::InStep},
        {"one answer for both", false, {226, 215}, V::InStep},
        {"ABOR refused after the end", false, {426, 500, 215}, V::InStep},
        {"ABOR refused before the end", false, {500, 426, 215}, V::InStep},
        {"ABOR refused, end still due", false, {502, 215}, V::OutOfStep},
        {"nothing before the sentinel", false, {215}, V::OutOfStep},
        {"three ends", false, {426, 226, 500}, V::OutOfStep},
        {"late preliminary", true, {150, 425, 226, 215}, V::InStep},
        {"pure-ftpd's statistics note, then ABOR's end", false, {150, 226, 215}, V::InStep},
        {"a note after an end", true, {150, 425, 150, 226, 215}, V::InStep},
        {"a note alone before the sentinel", false, {150, 215}, V::OutOfStep},
        {"a flood of notes", false, {150, 150, 150}, V::OutOfStep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AbortReplies replies(c.preliminaryDue);
        V verdict = V::More;
        for (std::size_t i = 0; i < c.codes.size(); ++i) {
            FtpReply r;
            r.code = c.codes[i];
            verdict = replies.Take(r);
            if (i + 1 < c.codes.size()) {
                ASSERT_EQ(verdict, V::More) << "after reply " << i;
            }
        }
        EXPECT_EQ(verdict, c.last);
    }
}

} // namespace
