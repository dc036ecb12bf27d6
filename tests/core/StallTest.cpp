// The interface thread keeps handling its events while the program talks to a
// server: no FTP operation may hold up a 10 ms timer for long, and Cancel on a
// stalled transfer gives the window back at once.
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>

#include "StallCases.h"

namespace {

// Generous, so that a shared machine does not make it fail; the goal is 50 ms.
constexpr double kStallLimitMs = 250;
constexpr qint64 kCancelLimitMs = 1000;

void Print(const stall::Outcome& out) {
    std::printf("STALL | %-48s | longest stall %8.1f ms | operation %7lld ms\n",
                out.name.toUtf8().constData(), out.stallMs,
                static_cast<long long>(out.operationMs));
}

TEST(Stall, NoOperationHoldsUpTheInterfaceThread) {
    const stall::Sizes sizes = stall::TestSizes();
    for (const stall::Case& c : stall::Cases()) {
        for (const stall::Outcome& out : c.run(sizes)) {
            SCOPED_TRACE(out.name.toStdString());
            Print(out);
            // An operation that failed early would stall nothing and prove nothing.
            EXPECT_TRUE(out.done) << out.detail.toStdString();
            EXPECT_GE(out.stallMs, 0);
            EXPECT_LT(out.stallMs, kStallLimitMs);
        }
    }
}

TEST(Stall, CancelOnAStalledDownloadGivesTheWindowBackWithinASecond) {
    const stall::CancelTimeline t = stall::StalledDownload(1000);
    Print(t.outcome);
    std::printf("CANCEL | click %lld ms, box %lld ms, answered %lld ms, enabled %lld ms\n",
                static_cast<long long>(t.clickMs), static_cast<long long>(t.boxMs),
                static_cast<long long>(t.answeredMs), static_cast<long long>(t.enabledMs));
    ASSERT_GE(t.clickMs, 0) << "the status window took no click while the copy ran";
    EXPECT_EQ(t.captions, QStringList{"Communication Cancelled"});
    ASSERT_GE(t.boxMs, t.clickMs);
    EXPECT_LT(t.boxMs - t.clickMs, kCancelLimitMs);
    EXPECT_TRUE(t.enabledAtEnd);
    // Enabled before the box came counts as given back at once.
    ASSERT_GE(t.enabledMs, 0);
    EXPECT_LT(std::max<qint64>(0, t.enabledMs - t.answeredMs), kCancelLimitMs);
    EXPECT_TRUE(t.localKept) << "the older local copy was changed";
}

} // namespace
