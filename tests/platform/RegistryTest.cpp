#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include "Registry.h"

namespace {
const QString kKey = QStringLiteral("SOFTWARE\\Velmar98a");

TEST(Registry, MissingKeyDoesNotOpenAndCreateMakesIt) {
    CRegKey key;
    EXPECT_FALSE(key.Open(kKey));
    ASSERT_TRUE(key.Create(kKey));
    ASSERT_TRUE(key.SetString(QStringLiteral("SortType"), QStringLiteral("1")));
    ASSERT_TRUE(key.SetDword(QStringLiteral("SplitterWidth"), 320));
    ASSERT_TRUE(key.Close());
    EXPECT_TRUE(QFileInfo::exists(CRegKey::StoreFilePath()));

    CRegKey again;
    ASSERT_TRUE(again.Open(kKey));
    QString text;
    qint32 number = 0;
    EXPECT_TRUE(again.QueryString(QStringLiteral("SortType"), &text));
    EXPECT_EQ(text, QStringLiteral("1"));
    EXPECT_TRUE(again.QueryDword(QStringLiteral("SplitterWidth"), &number));
    EXPECT_EQ(number, 320);
    // A value that was never written is a failed query, not an empty one.
    EXPECT_FALSE(again.QueryString(QStringLiteral("Version"), &text));
    // The key is told apart by its path: another key is missing.
    CRegKey other;
    EXPECT_FALSE(other.Open(QStringLiteral("SOFTWARE\\Other")));
}

TEST(Registry, TextsAreCutToTheirBufferAndNumbersMustBeNumbers) {
    CRegKey key;
    ASSERT_TRUE(key.Create(kKey));
    const QString longText(80, QLatin1Char('x'));
    ASSERT_TRUE(key.SetString(QStringLiteral("Version"), longText));
    ASSERT_TRUE(key.SetString(QStringLiteral("SplitterHeight"), QStringLiteral("tall")));
    QString text;
    EXPECT_TRUE(key.QueryString(QStringLiteral("Version"), &text, 52));
    EXPECT_EQ(text.size(), 51);
    qint32 number = 7;
    EXPECT_FALSE(key.QueryDword(QStringLiteral("SplitterHeight"), &number));
    EXPECT_EQ(number, 7);
}

TEST(Registry, AStoreThatCannotBeWrittenFailsCreateOrSet) {
    // A folder where the store file should be cannot be written, even by root.
    ASSERT_TRUE(QDir().mkpath(CRegKey::StoreFilePath()));
    CRegKey key;
    EXPECT_FALSE(key.Open(kKey));
    EXPECT_FALSE(key.Create(kKey));
}

TEST(Registry, InjectedFailuresHitTheNextCallOfTheirKindOnly) {
    CRegKey key;
    ASSERT_TRUE(key.Create(kKey));
    CRegKey::FailNext(CRegKey::Op::Set);
    EXPECT_FALSE(key.SetString(QStringLiteral("SortType"), QStringLiteral("1")));
    EXPECT_TRUE(key.SetString(QStringLiteral("SortType"), QStringLiteral("2")));
    CRegKey::FailNext(CRegKey::Op::Close);
    EXPECT_FALSE(key.Close());
    CRegKey reopened;
    ASSERT_TRUE(reopened.Open(kKey));
    QString text;
    EXPECT_TRUE(reopened.QueryString(QStringLiteral("SortType"), &text));
    EXPECT_EQ(text, QStringLiteral("2"));
}
} // namespace
