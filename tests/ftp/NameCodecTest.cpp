// How names turn from a server's bytes into text and back.
#include <gtest/gtest.h>
#include <set>

#include "NameCodec.h"

namespace {

TEST(NameCodec, EveryByteDecodesToItsOwnCharacterAndBack) {
    std::set<char16_t> seen;
    for (int b = 0x80; b < 0x100; ++b) {
        const std::string byte(1, char(b));
        const QString text = names::Decode(byte);
        ASSERT_EQ(text.size(), 1) << b;
        EXPECT_TRUE(seen.insert(text[0].unicode()).second) << "two bytes give one character: " << b;
        std::string back;
        ASSERT_TRUE(names::EncodeWindows1252(text, back)) << b;
        EXPECT_EQ(back, byte);
    }
}

TEST(NameCodec, Utf8IsTakenAsUtf8AndAnythingElseAsWindows1252) {
    const struct {
        std::string bytes;
        bool utf8;
        QString shown;
    } cases[] = {
        {"plain.txt", true, QStringLiteral("plain.txt")},
        {"", true, QString()},
        {"caf\xc3\xa9", true, QStringLiteral("caf\u00e9")},
        {"\xe6\x97\xa5", true, QStringLiteral("\u65e5")},
        {"\xf0\x9f\x98\x80", true, QStringLiteral("\U0001F600")},
        {"caf\xe9", false, QStringLiteral("caf\u00e9")},
        {"\x80\x81\x9f", false, QStringLiteral("\u20ac\u0081\u0178")},
        {"\xc3", false, QStringLiteral("\u00c3")},                     // cut short
        {"\xc0\xaf", false, QStringLiteral("\u00c0\u00af")},           // overlong "/"
        {"\xed\xa0\x80", false, QStringLiteral("\u00ed\u00a0\u20ac")}, // a surrogate
        {"\xf8\x88\x80\x80\x80", false, QStringLiteral("\u00f8\u02c6\u20ac\u20ac\u20ac")},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.bytes);
        EXPECT_EQ(names::IsUtf8(k.bytes), k.utf8);
        EXPECT_EQ(names::Decode(k.bytes), k.shown);
    }
}

TEST(NameCodec, CharactersOutsideWindows1252HaveNoBytes) {
    std::string out;
    for (const QString& text : {QStringLiteral("\u65e5"), QStringLiteral("a\u0394b"),
                                QStringLiteral("\U0001F600"), QStringLiteral("\u0100")})
        EXPECT_FALSE(names::EncodeWindows1252(text, out)) << text.toStdString();
    ASSERT_TRUE(names::EncodeWindows1252(QStringLiteral("\u00ff\u20ac\u2122 x"), out));
    EXPECT_EQ(out, "\xff\x80\x99 x");
}

// Without a server that showed other bytes, a connection sends UTF-8 as ever.
TEST(NameCodec, ConnectionWithoutKeptNamesSendsUtf8AndRefusesLineEnds) {
    static const int marker = 0;
    const auto* control = reinterpret_cast<const FtpControl*>(&marker);
    std::string out;
    EXPECT_TRUE(NameCodec::Encode(control, QStringLiteral("/a/caf\u00e9/\u65e5"), out));
    EXPECT_EQ(out, "/a/caf\xc3\xa9/\xe6\x97\xa5");
    QString why;
    EXPECT_FALSE(NameCodec::Encode(control, QStringLiteral("a\r\nDELE b"), out, &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(NameCodec::Encode(control, QString(QChar(0)), out, &why));
    NameCodec::Detach(control);
}

TEST(NameCodec, KeptNamesAreSharedByTheConnectionsToOneServerOnly) {
    static const int a = 0, b = 0, other = 0;
    const auto* ca = reinterpret_cast<const FtpControl*>(&a);
    const auto* cb = reinterpret_cast<const FtpControl*>(&b);
    const auto* co = reinterpret_cast<const FtpControl*>(&other);
    NameCodec::Attach(ca, "127.0.0.1:2121 user", false);
    NameCodec::Attach(cb, "127.0.0.1:2121 user", false);
    NameCodec::Attach(co, "127.0.0.1:2122 user", false);
    const QString cafe = names::Decode("caf\xe9");
    NameCodec::Learn(ca, "caf\xe9", cafe);
    std::string out;
    ASSERT_TRUE(NameCodec::Encode(cb, QStringLiteral("/x/") + cafe, out));
    EXPECT_EQ(out, "/x/caf\xe9");
    ASSERT_TRUE(NameCodec::Encode(co, QStringLiteral("/x/") + cafe, out));
    EXPECT_EQ(out, "/x/caf\xc3\xa9");
    // A name never seen goes in the server's 8-bit set once it has shown one.
    ASSERT_TRUE(NameCodec::Encode(cb, QStringLiteral("\u00e0"), out));
    EXPECT_EQ(out, "\xe0");
    for (const FtpControl* c : {ca, cb, co})
        NameCodec::Detach(c);
    // With the last connection gone, so are the names it kept.
    NameCodec::Attach(ca, "127.0.0.1:2121 user", false);
    ASSERT_TRUE(NameCodec::Encode(ca, cafe, out));
    EXPECT_EQ(out, "caf\xc3\xa9");
    NameCodec::Detach(ca);
}

} // namespace
