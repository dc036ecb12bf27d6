// A folder too big to order on the interface thread: the rows come from a
// worker, in the order and with the selection a small folder gets, and only the
// newest request is ever shown.
#include <QAbstractItemModelTester>
#include <QTest>
#include <gtest/gtest.h>

#include "Await.h"
#include "AppFixture.h"
#include "FtpSite.h"
#include "ListModel.h"
#include "MainFrame.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "StallCases.h"
#include "VelmarApp.h"

namespace stall {
bool RowsShown(CMyListView* list, std::size_t entries); // StallListCases.cpp
QString OrderError(const CMyListView* list, ListSort sort);
} // namespace stall

namespace {
constexpr int kEntries = 3 * int(CListModel::kInlineFillEntries);

void FillSortAndClose() {
    AppFixture f;
    f.SetProfile(QStringLiteral("127.0.0.1:1"), QStringLiteral("nobody"), QStringLiteral("x"));
    ASSERT_TRUE(f.Start());
    CMyListView* list = f.FtpList();
    QAbstractItemModelTester tester(list->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    f.App().Site().SetListing(stall::HugeListing(kEntries));
    list->m_skipFtpRead = 1;
    Await(list->Populate(QStringLiteral("/")));
    EXPECT_TRUE(list->Model()->Filling());
    ASSERT_TRUE(stall::RowsShown(list, kEntries));
    EXPECT_EQ(stall::OrderError(list, ListSort::Name).toStdString(), "");
    EXPECT_EQ(list->SelectedRows(), QList<int>{0});
    EXPECT_EQ(list->currentIndex().row(), 0);
    EXPECT_EQ(f.Frame()->PaneText(2), QStringLiteral("FTP: %1 Items").arg(kEntries));
    // Each series of Sort By clicks, faster than the sorts, ends in its last.
    const struct {
        std::vector<int> clicks;
        ListSort last;
    } series[] = {
        {{ID_SORT_SIZE}, ListSort::Size},
        {{ID_SORT_DATE, ID_SORT_EXTENSION}, ListSort::Extension},
        {{ID_SORT_NAME, ID_SORT_SIZE, ID_SORT_DATE}, ListSort::Date},
    };
    for (const auto& s : series) {
        list->SelectRows({5, 6});
        for (int id : s.clicks)
            f.Frame()->OnSortBy(id);
        ASSERT_TRUE(stall::RowsShown(list, kEntries));
        QTest::qWait(300); // an overtaken sort that lands late would show now
        EXPECT_EQ(stall::OrderError(list, s.last).toStdString(), "") << int(s.last);
        EXPECT_EQ(list->SelectedRows(), QList<int>{0});
    }
    // Emptied while it fills (the tree selects "Local Computer", the side goes
    // away): the rows never come.
    list->Resort();
    list->Model()->Clear();
    QTest::qWait(1500);
    EXPECT_EQ(list->ItemCount(), 0);
    EXPECT_FALSE(list->Model()->Filling());
    // Closed while it fills.
    list->Resort();
}

TEST(HugeList, EveryOrderAsASmallFolderGetsItAndOnlyTheNewestRequestShows) {
    FillSortAndClose();
    // The worker of the closed window finds no one to hand its rows to.
    QTest::qWait(1500);
}

} // namespace
