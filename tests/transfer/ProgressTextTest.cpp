#include <gtest/gtest.h>

#include "ProgressText.h"
#include "TransferPaths.h"

namespace {

struct PositionCase {
    std::uint64_t block;
    std::uint64_t total;
    int position;
};

TEST(ProgressPosition, RoundsToNearestWithHalvesUp) {
    const PositionCase cases[] = {
        {0, 2000, 50},
        {0, 3000, 33},
        {1, 3000, 67},
        {2, 3000, 100},
        {0, 1000, 100},
        {0, 2500, 40},
        {1, 2500, 80},
        {0, 8000, 13},  // 12.5 goes up
        {0, 200000, 1}, // 0.5 goes up
        {0, 400000, 0}, // 0.25 goes down
        {4, 6000, 83},
        {5, 6000, 100},
        {999, 1000000, 100},
        {0, 5000000000ull, 0}, // a file over 4 GiB is not cut to 32 bits
        {4294966, 4294967296ull + 1000000, 100},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progress::Position(c.block, c.total), c.position)
            << "block " << c.block << " of " << c.total;
}

TEST(ProgressPosition, OverFourGibibytesCountsInSixtyFourBits) {
    const std::uint64_t total = 6000000000ull; // past 2^32
    EXPECT_EQ(progress::Position(2999999, total), 50);
    EXPECT_EQ(progress::Position(5999999, total), 100);
}

TEST(ProgressPosition, BlocksPastTheListedLengthKeepTheBarFull) {
    EXPECT_EQ(progress::Position(0, 0), 100);
    EXPECT_EQ(progress::Position(3, 2500), 100);
}

TEST(ProgressTexts, BytesCopiedRateAndTime) {
    EXPECT_EQ(progress::BytesCopied(2000, 2500), "2000 of 2500");
    EXPECT_EQ(progress::BytesCopied(5000000000ull, 6000000000ull), "5000000000 of 6000000000");
    EXPECT_EQ(progress::BytesPerSecond(1000, 0), "0");
    EXPECT_EQ(progress::BytesPerSecond(10000, 4), "2500");
    EXPECT_EQ(progress::BytesPerSecond(7000, 3), "2333");
    const std::pair<std::uint64_t, const char*> times[] = {
        {0, "00:00:00"},         {59, "00:00:59"},        {61, "00:01:01"},
        {3723, "01:02:03"},      {25 * 3600, "01:00:00"}, {23 * 3600 + 59 * 60 + 59, "23:59:59"},
        {24 * 3600, "00:00:00"},
    };
    for (const auto& [seconds, text] : times)
        EXPECT_EQ(progress::Elapsed(seconds), text) << seconds;
}

TEST(ProgressTexts, RateOverTheExactTimeIsRightFromTheFirstBlock) {
    using namespace std::chrono;
    const struct {
        std::uint64_t copied;
        nanoseconds elapsed;
        const char* rate;
    } cases[] = {
        {1000, milliseconds(1), "1000000"}, // the first block, within the first second
        {300000000, milliseconds(250), "1200000000"},
        {7000, seconds(3), "2333"}, // whole bytes, never rounded up
        {10000, seconds(4), "2500"},
        {999, nanoseconds(1000), "999000000"},
        {0, seconds(1), "0"},
        {1000, nanoseconds(0), "0"},                     // no time at all: no rate to tell
        {1000, nanoseconds(-5), "0"},                    // a clock that stepped back
        {1000000000000ull, seconds(10), "100000000000"}, // past 64 bits in the middle
        {18000000000000000000ull, seconds(1), "18000000000000000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(progress::BytesPerSecond(c.copied, c.elapsed), c.rate)
            << c.copied << " bytes in " << c.elapsed.count() << " ns";
}

TEST(ProgressTexts, TimeLeftAtTheRateSoFar) {
    using namespace std::chrono;
    const struct {
        std::uint64_t copied;
        std::uint64_t total;
        nanoseconds elapsed;
        const char* left;
    } cases[] = {
        {1000, 3000000, milliseconds(1), "00:00:03"}, // 2.999 s
        {1000, 61000, seconds(1), "00:01:00"},        // exact: no second added
        {1000, 1500, seconds(1), "00:00:01"},         // half a second goes up
        {1000, 1499, seconds(1), "00:00:00"},         // the tail of a file, not a block
        {1000, 1001, seconds(1), "00:00:00"},
        {1000, 1000, seconds(1), "00:00:00"},
        {1500, 1000, seconds(1), "00:00:00"},      // the file grew past its listing
        {1000, 108001000, seconds(1), "30:00:00"}, // hours are not wrapped at a day
        {1000, 360001000, seconds(1), "100:00:00"},
        {1000000000000ull, 2000000000000ull, seconds(1000), "00:16:40"},
        {0, 5000, seconds(1), ""},         // nothing copied: unknown
        {1000, 5000, nanoseconds(0), ""},  // no time taken: unknown
        {1000, 0, seconds(1), "00:00:00"}, // nothing listed
    };
    for (const auto& c : cases)
        EXPECT_EQ(progress::TimeLeft(c.copied, c.total, c.elapsed), c.left)
            << c.copied << " of " << c.total << " in " << c.elapsed.count() << " ns";
}

TEST(TransferPaths, JoinRemoteNeverDoublesTheSeparator) {
    EXPECT_EQ(transferpaths::JoinRemote("/pub", "a.txt"), "/pub/a.txt");
    EXPECT_EQ(transferpaths::JoinRemote("/pub/", "a.txt"), "/pub/a.txt");
    EXPECT_EQ(transferpaths::JoinRemote("/", "a.txt"), "/a.txt");
}

TEST(TransferPaths, ListingNamesThatCannotBeAPathElement) {
    const std::pair<QString, bool> cases[] = {
        {"", false},
        {".", false},
        {"..", false},
        {"a/b", false},
        {"../x", false},
        {"/etc", false},
        {QString("a") + QChar(0) + "b", false},
        {".hidden", true},
        {"...", true},
        {"a b", true},
        {"..x", true},
    };
    for (const auto& [name, usable] : cases)
        EXPECT_EQ(transferpaths::IsUsableListingName(name), usable) << name.toStdString();
}

TEST(TransferPaths, SameOrInside) {
    const struct {
        const char* source;
        const char* destination;
        bool inside;
    } cases[] = {
        {"/pub", "/pub", true},     {"/pub", "/pub/sub", true},  {"/pub/", "/pub/sub/x", true},
        {"/pub", "/pub2", false},   {"/pub", "/pu", false},      {"/pub/sub", "/pub", false},
        {"/", "/anything", true},   {"/Pub", "/pub/sub", false}, {"/pub", "/pub//", true},
        {"/a/b", "/a/bc/d", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(transferpaths::IsSameOrInside(c.source, c.destination), c.inside)
            << c.source << " -> " << c.destination;
}

} // namespace
