#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

#include "Await.h"
#include "AppFixture.h"
#include "ListColumns.h"
#include "ListModel.h"
#include "MyListView.h"
#include "Registry.h"

namespace {

std::unique_ptr<AppFixture> StartOffline() {
    auto f = std::make_unique<AppFixture>();
    // The whole start-up: it makes the program's settings, where the widths go.
    f->WriteOfflineProfile();
    EXPECT_TRUE(f->InitInstance());
    f->Boxes().Clear();
    return f;
}

// A file of the given length that takes no disk: a hole.
void Sparse(const QString& path, qint64 length) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(length));
}

int Shown(const CMyListView* list, int column) {
    return list->header()->sectionSize(column);
}

TEST(ListColumns, SizeIsWideEnoughForTheLargestSizeShown) {
    auto f = StartOffline();
    CMyListView* list = f->LocalList();
    const struct {
        qint64 length;
        const char* text;
    } cases[] = {
        {1500000000, "1,500,000,000"},          {999, "999"}, {0, "0"},
        {1099511627776ll, "1,099,511,627,776"}, {1, "1"},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        Sparse(dir.path() + "/big.iso", c.length);
        Sparse(dir.path() + "/small.txt", 1);
        Await(list->Populate(dir.path() + "/"));
        QString shown;
        for (int r = 0; r < list->ItemCount(); ++r)
            if (list->ItemName(r) == "big.iso")
                shown = list->Model()->SizeText(r);
        EXPECT_EQ(shown, c.text);
        const int needed = QFontMetrics(list->font()).horizontalAdvance(shown);
        EXPECT_GT(Shown(list, CListModel::ColSize), needed + 6) << c.text;
        // Small sizes keep the usual width.
        EXPECT_GE(Shown(list, CListModel::ColSize), ListColumns::kDefaultSizeWidth);
        // Name takes the rest of the pane.
        EXPECT_EQ(Shown(list, 0) + Shown(list, 1) + Shown(list, 2), list->viewport()->width())
            << c.text;
    }
}

TEST(ListColumns, TheUsersWidthsAreKeptPerPaneAcrossStarts) {
    {
        auto f = StartOffline();
        f->LocalList()->header()->resizeSection(CListModel::ColSize, 150);
        f->FtpList()->header()->resizeSection(CListModel::ColModified, 210);
        QTest::qWait(700); // the settings are written once the hand rests
    }
    QSettings stored(CRegKey::StoreFilePath(), QSettings::IniFormat);
    EXPECT_EQ(stored.value("SOFTWARE/Velmar98a/LocalSizeWidth").toInt(), 150);
    EXPECT_EQ(stored.value("SOFTWARE/Velmar98a/FtpModifiedWidth").toInt(), 210);
    auto f = StartOffline();
    EXPECT_EQ(Shown(f->LocalList(), CListModel::ColSize), 150);
    EXPECT_EQ(Shown(f->LocalList(), CListModel::ColModified), 130);
    EXPECT_EQ(Shown(f->FtpList(), CListModel::ColSize), 70);
    EXPECT_EQ(Shown(f->FtpList(), CListModel::ColModified), 210);
    // A folder of small files does not take the user's width back.
    QTemporaryDir dir;
    Sparse(dir.path() + "/a", 5);
    Await(f->LocalList()->Populate(dir.path() + "/"));
    EXPECT_EQ(Shown(f->LocalList(), CListModel::ColSize), 150);
}

TEST(ListColumns, DamagedStoredWidthsFallBackToTheDefaults) {
    const struct {
        QVariant stored;
        int shown;
    } cases[] = {{QStringLiteral("wide"), 70}, {5, 70}, {-40, 70}, {99999, 70}, {95, 95}};
    StartOffline(); // the settings made as at a first start
    for (const auto& c : cases) {
        {
            QSettings stored(CRegKey::StoreFilePath(), QSettings::IniFormat);
            stored.setValue("SOFTWARE/Velmar98a/LocalSizeWidth", c.stored);
        }
        auto f = StartOffline();
        EXPECT_EQ(Shown(f->LocalList(), CListModel::ColSize), c.shown)
            << c.stored.toString().toStdString();
    }
}

} // namespace
