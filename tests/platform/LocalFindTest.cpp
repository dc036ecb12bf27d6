#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

#include "LocalFind.h"

namespace {
void WriteFile(const QString& path, qint64 size) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(size, 'a'));
}

TEST(LocalFind, DeliversDotAndDotDotFirstThenEveryEntry) {
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');
    ASSERT_TRUE(QDir().mkdir(root + QStringLiteral("sub")));
    WriteFile(root + QStringLiteral("a.txt"), 1234);
    WriteFile(root + QStringLiteral(".hidden"), 1);
    ASSERT_EQ(::symlink("sub", (root + QStringLiteral("link")).toLocal8Bit().constData()), 0);
    ASSERT_EQ(::symlink("nowhere", (root + QStringLiteral("dangling")).toLocal8Bit().constData()),
              0);

    CLocalFind find;
    ASSERT_TRUE(find.FindFirst(root + QStringLiteral("*.*")));
    EXPECT_EQ(find.Current().name, QStringLiteral("."));
    ASSERT_TRUE(find.FindNext());
    EXPECT_EQ(find.Current().name, QStringLiteral(".."));
    std::map<QString, LocalFindEntry> seen;
    while (find.FindNext())
        seen[find.Current().name] = find.Current();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_TRUE(seen[QStringLiteral("sub")].isFolder);
    EXPECT_FALSE(seen[QStringLiteral("a.txt")].isFolder);
    EXPECT_EQ(seen[QStringLiteral("a.txt")].size, 1234u);
    EXPECT_GT(seen[QStringLiteral("a.txt")].lastWriteTime, 1600000000);
    EXPECT_TRUE(seen[QStringLiteral("link")].isFolder); // links are followed
    EXPECT_FALSE(seen[QStringLiteral("dangling")].isFolder);
}

TEST(LocalFind, APlainPathYieldsThatEntryAloneAndMissingFindsNothing) {
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');
    WriteFile(root + QStringLiteral("f.bin"), 10);
    CLocalFind find;
    ASSERT_TRUE(find.FindFirst(root + QStringLiteral("f.bin")));
    EXPECT_EQ(find.Current().name, QStringLiteral("f.bin"));
    EXPECT_EQ(find.Current().size, 10u);
    EXPECT_FALSE(find.FindNext());
    ASSERT_TRUE(find.FindFirst(dir.path() + QLatin1Char('/')));
    EXPECT_TRUE(find.Current().isFolder);
    EXPECT_FALSE(find.FindFirst(root + QStringLiteral("missing")));
    EXPECT_FALSE(find.FindFirst(root + QStringLiteral("missing/*.*")));
}

// Whether an entry is itself a link, from a folder listing and from a plain
// path alike: links to folders, to files, dangling and chained, and the things
// that are no links.
TEST(LocalFind, EveryKindOfEntryTellsWhetherItIsALink) {
    QTemporaryDir dir;
    const QString root = dir.path() + QLatin1Char('/');
    ASSERT_TRUE(QDir().mkdir(root + QStringLiteral("sub")));
    WriteFile(root + QStringLiteral("file"), 3);
    const struct {
        const char* name;
        const char* target; // null: no link
        bool isFolder;
        bool isLink;
    } cases[] = {
        {"sub", nullptr, true, false},        {"file", nullptr, false, false},
        {"to-sub", "sub", true, true},        {"to-file", "file", false, true},
        {"to-sub-slash", "sub/", true, true}, {"dangling", "nowhere", false, true},
        {"chained", "to-sub", true, true},    {"to-root", "/", true, true},
        {"loop", "loop", false, true},
    };
    for (const auto& c : cases) {
        if (c.target) {
            ASSERT_EQ(::symlink(c.target, (root + QLatin1String(c.name)).toLocal8Bit().constData()),
                      0);
        }
    }
    std::map<QString, LocalFindEntry> listed;
    CLocalFind find;
    for (bool more = find.FindFirst(root + QStringLiteral("*.*")); more; more = find.FindNext())
        listed[find.Current().name] = find.Current();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QLatin1String(c.name);
        ASSERT_EQ(listed.count(name), 1u);
        EXPECT_EQ(listed[name].isFolder, c.isFolder);
        EXPECT_EQ(listed[name].isLink, c.isLink);
        CLocalFind single;
        ASSERT_TRUE(single.FindFirst(root + name));
        EXPECT_EQ(single.Current().isLink, c.isLink);
        EXPECT_EQ(single.Current().isFolder, c.isFolder);
        // With a trailing "/" the path means the folder a link points to.
        if (c.isFolder && c.isLink) {
            ASSERT_TRUE(single.FindFirst(root + name + QLatin1Char('/')));
            EXPECT_TRUE(single.Current().isLink); // the trailing "/" is dropped first
        }
    }
    EXPECT_FALSE(listed[QStringLiteral(".")].isLink);
    EXPECT_FALSE(listed[QStringLiteral("..")].isLink);
}

TEST(LocalFind, DrivesAreTheHomeFolderAndTheRoot) {
    const QStringList drives = LocalDrives();
    ASSERT_FALSE(drives.isEmpty());
    EXPECT_EQ(drives.last(), QStringLiteral("/"));
    for (const QString& d : drives)
        EXPECT_TRUE(QDir(d).isAbsolute());
}
} // namespace
