// The list pane's texts and order, without a window: size and date texts, sort
// keys and display names, the order of rows in the four sort orders, path rules.
#include <QDateTime>
#include <QTimeZone>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

#include "ListItems.h"
#include "ListModel.h"

namespace {
DirEntry Entry(const QString& name, bool folder = false, std::uint64_t size = 0,
               std::int64_t time = 0) {
    DirEntry e;
    e.name = name;
    e.attributes = folder ? DirEntry::kFolder : 0;
    e.size = size;
    e.lastWriteTime = time;
    return e;
}

QStringList Names(const std::vector<ListRow>& rows) {
    QStringList names;
    for (const ListRow& r : rows)
        names << r.name;
    return names;
}

class ScopedTz {
public:
    explicit ScopedTz(const char* tz) {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTz() {
        if (m_old.empty())
            ::unsetenv("TZ");
        else
            ::setenv("TZ", m_old.c_str(), 1);
        ::tzset();
    }

private:
    std::string m_old;
};

std::int64_t Utc(int y, int mo, int d, int h, int mi) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi), QTimeZone::utc()).toSecsSinceEpoch();
}

TEST(FormatSize, CommasEveryThreeDigitsFor64BitSizes) {
    const struct {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1,000"},
        {999999, "999,999"},
        {1000000, "1,000,000"},
        {1234567890, "1,234,567,890"},
        {4294967295u, "4,294,967,295"},
        {4294967296ull, "4,294,967,296"}, // one past 32 bits
        {5368709120ull, "5,368,709,120"},
        {18446744073709551615ull, "18,446,744,073,709,551,615"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatListSize(c.bytes), QString::fromLatin1(c.text)) << c.bytes;
}

TEST(FormatModified, LocalTimeWithoutLeadingZerosOfMonthDayAndHour) {
    // A fixed offset without daylight saving, so that no time zone data is needed:
    // local time is UTC minus five hours.
    ScopedTz tz("EST5");
    const struct {
        std::int64_t time;
        const char* text;
    } cases[] = {
        {Utc(1998, 3, 7, 14, 5), "3/7/98 9:05 AM"},
        {Utc(2000, 10, 10, 5, 30), "10/10/00 12:30 AM"},
        {Utc(2001, 1, 1, 17, 0), "1/1/01 12:00 PM"},
        {Utc(2001, 12, 31, 4, 59), "12/30/01 11:59 PM"},
        {Utc(2038, 1, 19, 8, 14), "1/19/38 3:14 AM"}, // the last second of 32-bit time
        {Utc(2040, 2, 29, 18, 7), "2/29/40 1:07 PM"},
        {Utc(2106, 2, 8, 5, 0), "2/8/06 12:00 AM"}, // past the unsigned 32-bit end
        {Utc(2200, 6, 1, 15, 9), "6/1/00 10:09 AM"},
        {Utc(1969, 12, 31, 23, 0), "12/31/69 6:00 PM"}, // before 1970
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatListModified(c.time), QString::fromLatin1(c.text)) << c.time;
}

TEST(FormatModified, FollowsTheLocalTimeZone) {
    const std::int64_t t = Utc(1998, 3, 7, 9, 5);
    {
        ScopedTz tz("UTC0");
        EXPECT_EQ(FormatListModified(t), QStringLiteral("3/7/98 9:05 AM"));
    }
    {
        ScopedTz tz("JST-9");
        EXPECT_EQ(FormatListModified(t), QStringLiteral("3/7/98 6:05 PM"));
    }
}

DirEntry DateOnly(const QString& name, int y, int mo, int d) {
    DirEntry e = Entry(name, false, 0, Utc(y, mo, d, 0, 0));
    e.dateOnly = true;
    return e;
}

// Zones west and east of UTC, the extremes, and one with daylight saving in
// force on the date.
const char* const kZones[] = {"America/New_York",   "Asia/Tokyo",        "UTC",
                              "Pacific/Kiritimati", "Pacific/Pago_Pago", "Europe/London"};

TEST(FormatModified, DateOnlyEntriesKeepTheirCalendarDateInEveryZone) {
    const struct {
        DirEntry entry;
        const char* text;
    } cases[] = {
        {DateOnly(QStringLiteral("a"), 2019, 3, 4), "3/4/19"},
        {DateOnly(QStringLiteral("b"), 2020, 2, 29), "2/29/20"},
        {DateOnly(QStringLiteral("c"), 2019, 7, 1), "7/1/19"}, // summer time in NY and London
        {DateOnly(QStringLiteral("d"), 1969, 12, 31), "12/31/69"},
        {DateOnly(QStringLiteral("e"), 2000, 1, 1), "1/1/00"},
        {DateOnly(QStringLiteral("f"), 2040, 12, 31), "12/31/40"},
    };
    for (const char* zone : kZones) {
        ScopedTz tz(zone);
        for (const auto& c : cases) {
            EXPECT_EQ(FormatListModified(c.entry), QString::fromLatin1(c.text)) << zone;
            // The same text as the date part of a timed entry at local noon that day.
            const QString timed = FormatListModified(
                QDateTime(
                    QDateTime::fromSecsSinceEpoch(c.entry.lastWriteTime, QTimeZone::utc()).date(),
                    QTime(12, 0))
                    .toSecsSinceEpoch());
            EXPECT_EQ(timed, QString::fromLatin1(c.text) + QStringLiteral(" 12:00 PM")) << zone;
        }
    }
}

TEST(FormatModified, TimedEntriesStillFollowTheZone) {
    DirEntry e = Entry(QStringLiteral("t"), false, 0, Utc(2019, 3, 4, 0, 0));
    ScopedTz tz("America/New_York");
    EXPECT_EQ(FormatListModified(e), QStringLiteral("3/3/19 7:00 PM"));
    e.dateOnly = true;
    EXPECT_EQ(FormatListModified(e), QStringLiteral("3/4/19"));
}

TEST(SortKey, DateOnlyEntriesSortAtTheLocalStartOfTheirDay) {
    // "late" is 02:00 UTC on Mar 4 and "eve" 20:00 UTC on Mar 3: in New York both
    // show on Mar 3, in Tokyo both on Mar 4. The date-only Mar 4 entry goes before
    // the entries shown on Mar 4 and after those shown on Mar 3.
    const std::vector<DirEntry> entries = {
        Entry(QStringLiteral("late"), false, 0, Utc(2019, 3, 4, 2, 0)),
        DateOnly(QStringLiteral("day"), 2019, 3, 4),
        Entry(QStringLiteral("eve"), false, 0, Utc(2019, 3, 3, 20, 0)),
        Entry(QStringLiteral("next"), false, 0, Utc(2019, 3, 5, 16, 0)),
        DateOnly(QStringLiteral("before"), 2019, 3, 3),
    };
    const struct {
        const char* zone;
        QStringList order;
    } cases[] = {
        {"America/New_York",
         {QStringLiteral("before"), QStringLiteral("eve"), QStringLiteral("late"),
          QStringLiteral("day"), QStringLiteral("next")}},
        {"Asia/Tokyo",
         {QStringLiteral("before"), QStringLiteral("day"), QStringLiteral("eve"),
          QStringLiteral("late"), QStringLiteral("next")}},
        {"UTC",
         {QStringLiteral("before"), QStringLiteral("eve"), QStringLiteral("day"),
          QStringLiteral("late"), QStringLiteral("next")}},
    };
    for (const auto& c : cases) {
        ScopedTz tz(c.zone);
        EXPECT_EQ(Names(BuildListRows(entries, ListSort::Date, 1, 2)), c.order) << c.zone;
    }
}

TEST(SortKey, KeysOfTheFourOrders) {
    const struct {
        DirEntry entry;
        ListSort sort;
        const char* key;
    } cases[] = {
        {Entry(QStringLiteral("Report.TXT")), ListSort::Name, "1Report.TXT"},
        {Entry(QStringLiteral("src"), true), ListSort::Name, "0src"},
        {Entry(QStringLiteral("report.final.txt")), ListSort::Extension, "1txt.report.final"},
        {Entry(QStringLiteral("README")), ListSort::Extension, "1.README"},
        {Entry(QStringLiteral("notes.")), ListSort::Extension, "1.notes."},
        {Entry(QStringLiteral("a.b.c")), ListSort::Extension, "1c.a.b"},
        {Entry(QStringLiteral("lib.d"), true), ListSort::Extension, "0d.lib"},
        {Entry(QStringLiteral("x"), false, 1234), ListSort::Size, "100000000000000001234x"},
        {Entry(QStringLiteral("big"), false, 10000000000ull), ListSort::Size,
         "100000000010000000000big"},
        {Entry(QStringLiteral("d"), true, 77), ListSort::Size, "000000000000000000077d"},
        {Entry(QStringLiteral("t"), false, 0, 0), ListSort::Date, "109223372036854775808t"},
        {Entry(QStringLiteral("t"), false, 0, 5), ListSort::Date, "109223372036854775813t"},
        {Entry(QStringLiteral("t"), false, 0, -1), ListSort::Date, "109223372036854775807t"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListSortKey(c.entry, c.sort), QString::fromLatin1(c.key))
            << c.entry.name.toStdString();
    }
}

struct OrderCase {
    const char* what;
    ListSort sort;
    std::vector<DirEntry> entries; // in the order read
    QStringList shown;
};

class ListOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(ListOrder, RowsComeInTheOrderOfTheirKeys) {
    const OrderCase& c = GetParam();
    const std::vector<ListRow> rows = BuildListRows(c.entries, c.sort, 1, 2);
    EXPECT_EQ(Names(rows), c.shown);
    for (const ListRow& r : rows) {
        ASSERT_GE(r.entry, 0);
        EXPECT_EQ(r.image, c.entries[std::size_t(r.entry)].IsFolder() ? 1 : 2);
        EXPECT_EQ(c.entries[std::size_t(r.entry)].name, r.name);
    }
}

const std::int64_t kDay = 86400;
INSTANTIATE_TEST_SUITE_P(
    AllOrders, ListOrder,
    testing::Values(
        OrderCase{"dot names shown, but never . and ..",
                  ListSort::Name,
                  {Entry(QStringLiteral("."), true), Entry(QStringLiteral(".."), true),
                   Entry(QStringLiteral(".profile")), Entry(QStringLiteral(".git"), true),
                   Entry(QStringLiteral("b")), Entry(QStringLiteral("a"))},
                  {QStringLiteral(".git"), QStringLiteral(".profile"), QStringLiteral("a"),
                   QStringLiteral("b")}},
        OrderCase{"only dot names",
                  ListSort::Date,
                  {Entry(QStringLiteral("."), true), Entry(QStringLiteral(".."), true)},
                  {}},
        OrderCase{"by name: folders first, dot before digits before letters, case ignored",
                  ListSort::Name,
                  {Entry(QStringLiteral("b")), Entry(QStringLiteral("Zeta"), true),
                   Entry(QStringLiteral("A")), Entry(QStringLiteral("a.txt")),
                   Entry(QStringLiteral("a1")), Entry(QStringLiteral("9")),
                   Entry(QStringLiteral("alpha"), true), Entry(QStringLiteral("B2"))},
                  {QStringLiteral("alpha"), QStringLiteral("Zeta"), QStringLiteral("9"),
                   QStringLiteral("A"), QStringLiteral("a.txt"), QStringLiteral("a1"),
                   QStringLiteral("b"), QStringLiteral("B2")}},
        OrderCase{"by name: names equal but for case keep the order read",
                  ListSort::Name,
                  {Entry(QStringLiteral("readme")), Entry(QStringLiteral("README")),
                   Entry(QStringLiteral("ReadMe"))},
                  {QStringLiteral("readme"), QStringLiteral("README"), QStringLiteral("ReadMe")}},
        OrderCase{"by extension: no extension and a trailing dot first, a.b.c under c",
                  ListSort::Extension,
                  {Entry(QStringLiteral("z.txt")), Entry(QStringLiteral("a.b.c")),
                   Entry(QStringLiteral("notes.")), Entry(QStringLiteral("Makefile")),
                   Entry(QStringLiteral("b.C")), Entry(QStringLiteral("a.txt")),
                   Entry(QStringLiteral("web.d"), true), Entry(QStringLiteral("bin"), true)},
                  {QStringLiteral("bin"), QStringLiteral("web.d"), QStringLiteral("Makefile"),
                   QStringLiteral("notes."), QStringLiteral("a.b.c"), QStringLiteral("b.C"),
                   QStringLiteral("a.txt"), QStringLiteral("z.txt")}},
        OrderCase{"by size: smallest first, equal sizes by name, folders first",
                  ListSort::Size,
                  {Entry(QStringLiteral("c"), false, 10),
                   Entry(QStringLiteral("huge"), false, 10000000000ull),
                   Entry(QStringLiteral("nine"), false, 9999999999ull),
                   Entry(QStringLiteral("B"), false, 10), Entry(QStringLiteral("a"), false, 10),
                   Entry(QStringLiteral("dir"), true), Entry(QStringLiteral("small"), false, 2)},
                  {QStringLiteral("dir"), QStringLiteral("small"), QStringLiteral("a"),
                   QStringLiteral("B"), QStringLiteral("c"), QStringLiteral("nine"),
                   QStringLiteral("huge")}},
        OrderCase{"by date: oldest first, ties by name, before 1970 and after 2038",
                  ListSort::Date,
                  {Entry(QStringLiteral("new"), false, 0, Utc(2040, 1, 1, 0, 0)),
                   Entry(QStringLiteral("old"), false, 0, -10 * kDay),
                   Entry(QStringLiteral("y2k"), false, 0, Utc(2000, 1, 1, 0, 0)),
                   Entry(QStringLiteral("b"), false, 0, Utc(2000, 1, 1, 0, 0)),
                   Entry(QStringLiteral("far"), false, 0, Utc(2300, 1, 1, 0, 0)),
                   Entry(QStringLiteral("dir"), true, 0, Utc(2100, 1, 1, 0, 0))},
                  {QStringLiteral("dir"), QStringLiteral("old"), QStringLiteral("b"),
                   QStringLiteral("y2k"), QStringLiteral("new"), QStringLiteral("far")}}),
    [](const testing::TestParamInfo<OrderCase>& info) {
        return "Case" + std::to_string(info.index);
    });

TEST(Paths, ItemNamesTheUserMayType) {
    for (const char* bad : {"", ".", "..", "a/b", "/", "../up"})
        EXPECT_FALSE(IsValidItemName(QString::fromLatin1(bad))) << bad;
    EXPECT_FALSE(IsValidItemName(QStringLiteral("nul") + QChar(0)));
    EXPECT_FALSE(IsValidItemName(QStringLiteral("two\nlines")));
    EXPECT_FALSE(IsValidItemName(QStringLiteral("\x1b[2J")));
    for (const char* good : {"a", ".hidden", "x.y", "with space", "..x"})
        EXPECT_TRUE(IsValidItemName(QString::fromLatin1(good))) << good;
}
} // namespace
