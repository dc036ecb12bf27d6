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
