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
    ASSERT_EQ(::symlink("nowhere", (root + QStringLiteral("dangling")).toLocal8Bit().constData()), 0);

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

TEST(LocalFind, DrivesAreTheHomeFolderAndTheRoot) {
    const QStringList drives = LocalDrives();
    ASSERT_FALSE(drives.isEmpty());
    EXPECT_EQ(drives.last(), QStringLiteral("/"));
    for (const QString& d : drives)
        EXPECT_TRUE(QDir(d).isAbsolute());
}
} // namespace
