// The profile file's byte layout: text prefixes, the 16-bit form, the code page
// fallback, and reading files that lie about their lengths.
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "ProfileFile.h"
#include "ProfileTestUtil.h"

namespace {
QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

bool ReadOneString(const QByteArray& data, QString& text) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    CProfileReader reader(buffer);
    return reader.ReadString(text);
}

struct PrefixCase {
    qsizetype length;
    QByteArray prefix;
};

TEST(ProfileCodec, TextLengthsGetTheirPrefixesAndReadBack) {
    const PrefixCase cases[] = {
        {0, Bytes({0x00})},
        {1, Bytes({0x01})},
        {254, Bytes({0xFE})},
        {255, Bytes({0xFF, 0xFF, 0x00})},
        {65533, Bytes({0xFF, 0xFD, 0xFF})},
        {65534, Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
        {70000, Bytes({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00})},
    };
    for (const PrefixCase& c : cases) {
        SCOPED_TRACE(c.length);
        QString text(c.length, QLatin1Char('a'));
        for (qsizetype i = 0; i < c.length; i += 7)
            text[i] = QLatin1Char('0' + i % 10);
        QByteArray out;
        WriteProfileString(out, text);
        ASSERT_EQ(out.size(), c.prefix.size() + c.length);
        EXPECT_EQ(out.left(c.prefix.size()).toHex(), c.prefix.toHex());
        EXPECT_EQ(out.mid(c.prefix.size()), text.toLatin1());
        QString back;
        ASSERT_TRUE(ReadOneString(out, back));
        EXPECT_EQ(back, text);
    }
}

TEST(ProfileCodec, LengthIsTheByteLengthOfTheUtf8Text) {
    // 127 two-byte characters: 254 bytes, the last length of the 1-byte prefix.
    const QString text(127, QChar(0x00E9));
    QByteArray out;
    WriteProfileString(out, text);
    EXPECT_EQ(static_cast<unsigned char>(out[0]), 0xFE);
    EXPECT_EQ(out.size(), 255);
    WriteProfileString(out = {}, text + QChar(0x00E9));
    EXPECT_EQ(out.left(3).toHex(), Bytes({0xFF, 0x00, 0x01}).toHex());
}

struct DecodeCase {
    const char* what;
    QByteArray bytes;
    QString text;
};

TEST(ProfileCodec, ReadsUtf8Cp1252AndSixteenBitTexts) {
    const QString wide300(300, QChar(0x263A));
    QByteArray wide300Bytes = Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01});
    for (int i = 0; i < 300; ++i)
        wide300Bytes += Bytes({0x3A, 0x26});
    // In the second prefix 0xFFFE is an ordinary count, not a marker.
    const QString wide65534(65534, QChar(0x0416));
    QByteArray wide65534Bytes = Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF});
    for (int i = 0; i < 65534; ++i)
        wide65534Bytes += Bytes({0x16, 0x04});
    const DecodeCase cases[] = {
        {"utf-8", Bytes({0x05, 'C', 'a', 'f', 0xC3, 0xA9}), QStringLiteral("Caf\u00E9")},
        {"cp1252 high letters", Bytes({0x05, 'C', 'a', 'f', 0xE9, 0x80}),
         QStringLiteral("Caf\u00E9\u20AC")},
        {"cp1252 quotes", Bytes({0x04, 0x93, 'x', 0x94, 0x99}),
         QStringLiteral("\u201Cx\u201D\u2122")},
        {"cp1252 unassigned", Bytes({0x02, 0x81, 0x9D}), QStringLiteral("\u0081\u009D")},
        {"utf-8 byte order mark kept", Bytes({0x04, 0xEF, 0xBB, 0xBF, 'x'}),
         QStringLiteral("\uFEFFx")},
        {"16-bit, 1-byte count", Bytes({0xFF, 0xFE, 0xFF, 0x02, 'Z', 0x00, 0xFC, 0x00}),
         QStringLiteral("Z\u00FC")},
        {"16-bit, empty", Bytes({0xFF, 0xFE, 0xFF, 0x00}), QString()},
        {"16-bit, 2-byte count", wide300Bytes, wide300},
        {"16-bit, count 0xFFFE", wide65534Bytes, wide65534},
        // A pair stays whole; halves standing alone have no UTF-8 form, so a save
        // would not read back the same: they read as the replacement character.
        {"16-bit, surrogate pair", Bytes({0xFF, 0xFE, 0xFF, 0x02, 0x3D, 0xD8, 0x00, 0xDE}),
         QString::fromUtf16(u"\U0001F600")},
        {"16-bit, lone halves", Bytes({0xFF, 0xFE, 0xFF, 0x03, 0xC6, 0xD9, 0xC5, 0xDA, 'x', 0x00}),
         QStringLiteral("\uFFFD\uFFFDx")},
        {"16-bit, low before high", Bytes({0xFF, 0xFE, 0xFF, 0x02, 0x00, 0xDE, 0x3D, 0xD8}),
         QStringLiteral("\uFFFD\uFFFD")},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.what);
        QString text = QStringLiteral("stale");
        ASSERT_TRUE(ReadOneString(c.bytes, text));
        EXPECT_EQ(text, c.text);
    }
}

TEST(ProfileCodec, ProfilesRoundTrip) {
    std::vector<CProfile> profiles = {
        MakeProfile(QStringLiteral("Home"), QStringLiteral("ftp.example.org:2121"),
                    QStringLiteral("anna"), QStringLiteral("s3cr\u00E9t"), 1),
        MakeProfile(QStringLiteral("\u65E5\u672C"), QStringLiteral("192.0.2.7")),
        CProfile{},
    };
    profiles[1].m_active = 1;
    profiles[2].m_comment = QString(300, QLatin1Char('c'));
    // Enough long texts to cross the reader's 4096-byte refills many times.
    for (int i = 0; i < 40; ++i) {
        profiles.push_back(MakeProfile(QStringLiteral("site %1").arg(i), QString(i * 37, 'h')));
        profiles.back().m_comment = QString(1000 + i, QChar(0x00E4));
    }
    const QByteArray data = EncodeProfileFile(profiles);

    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    CProfileReader reader(buffer);
    qint32 count = 0;
    ASSERT_TRUE(reader.ReadInt32(count));
    ASSERT_EQ(count, 43);
    for (const CProfile& expected : profiles) {
        CProfile read;
        ASSERT_TRUE(reader.ReadProfile(read));
        ASSERT_EQ(read, expected);
    }
    EXPECT_TRUE(buffer.atEnd());
    CProfile extra;
    EXPECT_FALSE(reader.ReadProfile(extra));
}

struct HostileCase {
    const char* what;
    QByteArray bytes;
};

// Each of these claims more than the data holds; the read must fail cleanly,
// and the huge claims must not be allocated first.
TEST(ProfileCodec, LyingLengthsFailWithoutAllocating) {
    const HostileCase cases[] = {
        {"empty", QByteArray()},
        {"1-byte length past end", Bytes({0x05, 'a', 'b'})},
        {"2-byte length past end", Bytes({0xFF, 0x00, 0x10, 'a'})},
        {"4-byte length of 4 GiB", Bytes({0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 'a'})},
        {"16-bit count of 4 G characters",
         Bytes({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
        {"prefix cut after 0xFF", Bytes({0xFF})},
        {"prefix cut in the 32-bit length", Bytes({0xFF, 0xFF, 0xFF, 0x01})},
        {"16-bit text with odd byte", Bytes({0xFF, 0xFE, 0xFF, 0x01, 'a'})},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.what);
        QBuffer buffer;
        buffer.setData(c.bytes);
        buffer.open(QIODevice::ReadOnly);
        CProfileReader reader(buffer);
        QString text;
        EXPECT_FALSE(reader.ReadString(text));
        EXPECT_TRUE(reader.Failed());
        qint32 value = 0;
        EXPECT_FALSE(reader.ReadInt32(value)) << "a failure must stay a failure";
    }
}

class ProfileListSave : public ProfileFolderTest {};

TEST_F(ProfileListSave, ReplacesTheFileOwnerOnlyWithoutLeftovers) {
    WriteFileBytes(FilePath(), QByteArrayLiteral("old contents"));
    QFile::setPermissions(FilePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                          QFile::ReadOther);
    const std::vector<CProfile> profiles = {
        MakeProfile(QStringLiteral("A"), QStringLiteral("a.example"), QStringLiteral("u"),
                    QStringLiteral("pw-in-plain-text"), 1)};
    ASSERT_TRUE(SaveProfileList(FilePath(), profiles));

    EXPECT_EQ(ReadFileBytes(FilePath()), EncodeProfileFile(profiles));
    EXPECT_TRUE(ReadFileBytes(FilePath()).contains("pw-in-plain-text"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(FilePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList{QStringLiteral("Profiles.dat")});
}

TEST_F(ProfileListSave, FailureKeepsTheOldFile) {
    // A folder standing where the file goes makes the final rename fail.
    const QString blocked = m_dir.path() + QStringLiteral("/Blocked.dat");
    ASSERT_TRUE(QDir().mkdir(blocked));
    WriteFileBytes(blocked + QStringLiteral("/inside"), QByteArrayLiteral("keep me"));
    EXPECT_FALSE(SaveProfileList(blocked, {MakeProfile(QStringLiteral("A"), QStringLiteral("a"))}));
    EXPECT_EQ(ReadFileBytes(blocked + QStringLiteral("/inside")), QByteArrayLiteral("keep me"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});

    const QString nowhere = m_dir.path() + QStringLiteral("/missing/Profiles.dat");
    EXPECT_FALSE(SaveProfileList(nowhere, {MakeProfile(QStringLiteral("A"), QStringLiteral("a"))}));
}
} // namespace
