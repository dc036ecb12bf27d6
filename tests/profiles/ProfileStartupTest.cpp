// Finding the active profile at start-up: the sample file, the first default,
// and files the program did not write, which are used as far as they go and
// never overwritten.
#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "MessageBoxRecorder.h"
#include "ProfileFile.h"
#include "ProfileTestUtil.h"

namespace {
const QString kDependencyError =
    QStringLiteral("The program was unable to create a required Dependency File.");

QByteArray Int32(qint32 v) {
    QByteArray out;
    WriteProfileInt32(out, v);
    return out;
}

QByteArray Record(const CProfile& p) {
    QByteArray out;
    WriteProfileRecord(out, p);
    return out;
}

class StartupLoad : public ProfileFolderTest {
protected:
    MessageBoxRecorder m_boxes;
};

TEST_F(StartupLoad, NoFileWritesTheSampleExactly) {
    ASSERT_TRUE(LoadProfilesAtStartup(*m_app));

    const CProfile sample = SampleProfile();
    const QByteArray expected = QByteArrayLiteral("\x01\x00\x00\x00"
                                                  "\x0eSample Profile"
                                                  "\x0b"
                                                  "ftp.gnu.org"
                                                  "\x01\x00\x00\x00"
                                                  "\x00\x00\x00"
                                                  "\x16GNU Project's FTP Site"
                                                  "\x01\x00\x00\x00"
                                                  "\x01\x00\x00\x00");
    const QByteArray written = ReadFileBytes(FilePath());
    EXPECT_EQ(written.toHex(' '), expected.toHex(' '));
    EXPECT_EQ(written.size(), 36 + sample.m_address.size() + sample.m_comment.size());

    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(FilePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(m_app->Site().ProfileIndex(), 0);
    EXPECT_EQ(m_app->Site().Profile(), sample);
    EXPECT_EQ(m_app->MainTitle(), QStringLiteral("Velmar98 - Sample Profile"));
    EXPECT_EQ(m_boxes.Count(), 0);

    // A second start reads the file just written.
    const QString path = FilePath();
    m_app.reset();
    m_app = std::make_unique<CVelmarApp>();
    m_app->m_profileFilePath = path;
    ASSERT_TRUE(LoadProfilesAtStartup(*m_app));
    EXPECT_EQ(m_app->Site().Profile(), sample);
    EXPECT_EQ(ReadFileBytes(path), expected);
}

TEST_F(StartupLoad, FirstDefaultWinsAndLaterRecordsAreNotNeeded) {
    CProfile a = MakeProfile(QStringLiteral("A"), QStringLiteral("a.example"));
    CProfile b = MakeProfile(QStringLiteral("B"), QStringLiteral("b.example"),
                             QStringLiteral("bob"), QStringLiteral("pw"), 1);
    CProfile c = MakeProfile(QStringLiteral("C"), QStringLiteral("c.example"), {}, {}, 1);
    a.m_active = 1; // stored active marks play no part at start-up

    struct Case {
        const char* what;
        QByteArray bytes;
        int index;
        CProfile active;
    };
    const QByteArray full = Int32(3) + Record(a) + Record(b) + Record(c);
    const Case cases[] = {
        {"second of three is default", Int32(3) + Record(a) + Record(b) + Record(a), 1, b},
        {"third record cut off", full.left(full.size() - Record(c).size() / 2), 1, b},
        {"third record missing", Int32(3) + Record(a) + Record(b), 1, b},
        {"two defaults", Int32(3) + Record(b) + Record(c) + Record(a), 0, b},
        {"two defaults after one without", full, 1, b},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(FilePath(), c.bytes);
        m_app->Site().SetProfileIndex(-7);
        ASSERT_TRUE(LoadProfilesAtStartup(*m_app));
        EXPECT_EQ(m_app->Site().ProfileIndex(), c.index);
        EXPECT_EQ(m_app->Site().Profile(), c.active);
        EXPECT_EQ(ReadFileBytes(FilePath()), c.bytes);
    }
    EXPECT_EQ(m_boxes.Count(), 0);
}

// Files the program never writes. Each starts; none is touched.
TEST_F(StartupLoad, DamagedFilesStartWithWhatCanBeReadAndStayUnchanged) {
    const CProfile a = MakeProfile(QStringLiteral("A"), QStringLiteral("a.example"));
    const CProfile b = MakeProfile(QStringLiteral("B"), QStringLiteral("b.example"), {}, {}, 1);
    const CProfile c = MakeProfile(QStringLiteral("C"), QStringLiteral("c.example"));
    const QString sample = SampleProfile().m_name;
    struct Case {
        const char* what;
        QByteArray bytes;
        QString activeName;
        int index;
    };
    const Case cases[] = {
        {"empty file", QByteArray(), sample, 0},
        {"count cut short", QByteArrayLiteral("\x02\x00"), sample, 0},
        {"count 0", Int32(0), sample, 0},
        {"count 0 with a default record after it", Int32(0) + Record(b), sample, 0},
        {"negative count", Int32(-3) + Record(b), sample, 0},
        {"count of a billion, no default", Int32(1000000000) + Record(a) + Record(c), "A", 0},
        {"count of a billion, second default", Int32(1000000000) + Record(a) + Record(b), "B", 1},
        {"fewer records than the count", Int32(5) + Record(c) + Record(a), "C", 0},
        {"no default at all", Int32(3) + Record(c) + Record(a) + Record(c), "C", 0},
        {"cut inside the first record's string", Int32(1) + Record(a).left(5), sample, 0},
        {"cut inside the second record", Int32(2) + Record(c) + Record(b).left(9), "C", 0},
        {"string length beyond the file's end",
         Int32(1) + QByteArrayLiteral("\xff\xff\xff\xf0\xff\xff\x7f"
                                      "abc"),
         sample, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(FilePath(), c.bytes);
        m_app->Site().SetActiveProfile(CProfile{}, -7);
        ASSERT_TRUE(LoadProfilesAtStartup(*m_app));
        EXPECT_EQ(m_app->Site().Profile().m_name, c.activeName);
        EXPECT_EQ(m_app->Site().ProfileIndex(), c.index);
        EXPECT_EQ(ReadFileBytes(FilePath()), c.bytes);
        EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
    EXPECT_EQ(m_boxes.Count(), 0);
}

TEST_F(StartupLoad, FileThatCannotBeOpenedOrCreatedEndsTheProgram) {
    // Something unreadable stands at the path: it may be the user's, so it is
    // neither replaced nor written to.
    ASSERT_TRUE(QDir().mkdir(FilePath()));
    EXPECT_FALSE(LoadProfilesAtStartup(*m_app));
    EXPECT_TRUE(QFileInfo(FilePath()).isDir());
    ASSERT_EQ(m_boxes.Count(), 1);
    EXPECT_EQ(m_boxes.Calls()[0].text, kDependencyError);
    EXPECT_EQ(m_boxes.Calls()[0].caption, QStringLiteral("Velmar98"));
    EXPECT_EQ(m_boxes.Calls()[0].flags, unsigned(MB_OK | MB_ICONHAND));

    // A folder that does not exist: the sample cannot be created.
    m_boxes.Clear();
    m_app->m_profileFilePath = m_dir.path() + QStringLiteral("/gone/Profiles.dat");
    EXPECT_FALSE(LoadProfilesAtStartup(*m_app));
    ASSERT_EQ(m_boxes.Count(), 1);
    EXPECT_EQ(m_boxes.Calls()[0].text, kDependencyError);
    EXPECT_FALSE(QFileInfo::exists(m_dir.path() + QStringLiteral("/gone")));
}

} // namespace
