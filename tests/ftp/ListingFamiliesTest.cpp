// The listing formats of the less common servers, each in its variants, and the
// rules of a whole listing: which lines are counted as not understood, the order
// of numeric dates, and line ends inside names.
#include <gtest/gtest.h>
#include <string>

#include "ListingParser.h"

namespace {

using listing::ListFamily;
using listing::ToUnixTime;

constexpr std::int64_t kNow = 1718452800; // 2024-06-15 12:00 UTC
constexpr std::uint64_t kBig = 5000000000ull;

struct FamilyCase {
    ListFamily family;
    const char* line;
    const char* name;
    bool folder;
    bool link;
    std::uint64_t size;
    std::int64_t time;
    bool dateOnly = false;
};

std::int64_t T(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return ToUnixTime(y, mo, d, h, mi, s);
}

constexpr ListFamily U = ListFamily::Unix;

const FamilyCase kCases[] = {
    // NetWare: rights in brackets, padded name column.
    {ListFamily::NetWare, "d [R----F--] supervisor            512       Jan 16 18:53    login",
     "login", true, false, 512, T(2024, 1, 16, 18, 53)},
    {ListFamily::NetWare, "- [RWCEAFMS] rhesus             214059       Oct 20 15:27    cx.exe",
     "cx.exe", false, false, 214059, T(2023, 10, 20, 15, 27)},
    {ListFamily::NetWare, "-  [RW------] user 0 Mar 7 1998 empty file.txt", "empty file.txt", false,
     false, 0, T(1998, 3, 7), true},
    {ListFamily::NetWare, "- [RW------] user 5000000000 Dec 31 2019 big -> no link",
     "big -> no link", false, false, kBig, T(2019, 12, 31), true},
    // OS/2: size, attributes, month-first date.
    {ListFamily::Os2, "     0           DIR   12-04-98   16:06  Spaced Dir", "Spaced Dir", true,
     false, 0, T(1998, 12, 4, 16, 6)},
    {ListFamily::Os2, "  1234       A          05-23-04   09:05  file.txt", "file.txt", false,
     false, 1234, T(2004, 5, 23, 9, 5)},
    {ListFamily::Os2, "5000000000  RA  06-14-24  23:59  a -> b", "a -> b", false, false, kBig,
     T(2024, 6, 14, 23, 59)},
    // VShell: a year and a time both, the time with or without seconds.
    {U, "-rwxr-xr-x    1 user     group       203 Oct 24 2003 17:46 vshell old", "vshell old",
     false, false, 203, T(2003, 10, 24, 17, 46)},
    {U, "drwxr-xr-x    1 user     group         0 Jun 12 2024 10:50:20 new dir", "new dir", true,
     false, 0, T(2024, 6, 12, 10, 50, 20)},
    {U, "lrwxrwxrwx 1 u g 7 Jan 1 2020 12:00 ln -> target", "ln", false, true, 7,
     T(2020, 1, 1, 12)},
    // Unix with numeric dates.
    {U, "-rw-r--r-- 1 u g 1234 07.06.2005 dotted.txt", "dotted.txt", false, false, 1234,
     T(2005, 6, 7), true},
    {U, "-rw-r--r-- 1 u g 0 07.06.2005 12:30 zero", "zero", false, false, 0, T(2005, 6, 7, 12, 30)},
    {U, "-rw-r--r-- 1 u g 5 06/07/05 a b", "a b", false, false, 5, T(2005, 6, 7), true},
    {U, "drwxr-xr-x 2 u g 4096 2005/06/07 12:30 folder", "folder", true, false, 4096,
     T(2005, 6, 7, 12, 30)},
    {U, "-rw-r--r-- 1 u g 5000000000 25/12/2023 14:00 xmas", "xmas", false, false, kBig,
     T(2023, 12, 25, 14)},
    {U, "lrwxrwxrwx 1 u g 3 06-01-2024 09:00 l -> t", "l", false, true, 3, T(2024, 6, 1, 9)},
    // Unix with month names of other languages, accents in UTF-8 and Latin-1.
    {U, "-rw-r--r-- 1 u g 5 M\xC3\xA4r 7 1998 de", "de", false, false, 5, T(1998, 3, 7), true},
    {U, "-rw-r--r-- 1 u g 5 M\xE4r 7 1998 latin", "latin", false, false, 5, T(1998, 3, 7), true},
    {U, "-rw-r--r-- 1 u g 5 7. Mai 2005 punkt", "punkt", false, false, 5, T(2005, 5, 7), true},
    {U,
     "-rw-r--r-- 1 u g 5 d\xC3\xA9"
     "c. 8 2019 fr",
     "fr", false, false, 5, T(2019, 12, 8), true},
    {U, "-rw-r--r-- 1 u g 5 f\xC3\xA9vr. 29 12:00 fr leap", "fr leap", false, false, 5,
     T(2024, 2, 29, 12)},
    {U, "-rw-r--r-- 1 u g 5 ene 7 2005 es", "es", false, false, 5, T(2005, 1, 7), true},
    {U, "-rw-r--r-- 1 u g 5 mrt 7 2005 nl", "nl", false, false, 5, T(2005, 3, 7), true},
    {U, "-rw-r--r-- 1 u g 5 giu 7 12:30 it", "it", false, false, 5, T(2024, 6, 7, 12, 30)},
    {U, "drwxr-xr-x 2 u g 0 okt 1 2010 map", "map", true, false, 0, T(2010, 10, 1), true},
    {U, "-rw-r--r-- 1 u g 5 Sept 7 2005 short", "short", false, false, 5, T(2005, 9, 7), true},
    {U, "-rw-r--r-- 1 u g 5 ao\xC3\xBBt 15 2005 aout", "aout", false, false, 5, T(2005, 8, 15),
     true},
    {U, "lrwxrwxrwx 1 u g 5000000000 ago 7 2005 it -> es", "it", false, true, kBig, T(2005, 8, 7),
     true},
    // Year first, and Asian month and day marks.
    {U, "-rw-r--r-- 1 u g 5 6\xE6\x9C\x88 7\xE6\x97\xA5 2005 jp", "jp", false, false, 5,
     T(2005, 6, 7), true},
    {U, "-rw-r--r-- 1 u g 5 6\xE6\x9C\x88  7 12:30 cn", "cn", false, false, 5,
     T(2024, 6, 7, 12, 30)},
    {U,
     "-rw-r--r-- 1 u g 0 2005\xE5\xB9\xB4"
     "6\xE6\x9C\x88"
     "7\xE6\x97\xA5 year first",
     "year first", false, false, 0, T(2005, 6, 7), true},
    {U, "drwxr-xr-x 2 u g 0 12\xEC\x9B\x94 24 2019 kr", "kr", true, false, 0, T(2019, 12, 24),
     true},
    // Sizes with units, and sizes run into the group column.
    {U, "-rw-r--r-- 1 u g 33.5k Jun 7 2005 half", "half", false, false, 34304, T(2005, 6, 7), true},
    {U, "-rw-r--r-- 1 u g 1.2M Jun 7 2005 m", "m", false, false, 1258291, T(2005, 6, 7), true},
    {U, "-rw-r--r-- 1 u g 3G Jun 7 2005 g", "g", false, false, 3221225472ull, T(2005, 6, 7), true},
    {U, "-rw-r--r--   1 owner    ftpusers123456789 Jun 7 2005 into group", "into group", false,
     false, 123456789, T(2005, 6, 7), true},
    {U, "-rw-r--r--   1 owner    group5000000000 Jun 7 12:00 big", "big", false, false, kBig,
     T(2024, 6, 7, 12)},
    // IBM OS/400: owner, size, date and time before the object type; members
    // often without them.
    {ListFamily::Os400, "QSYS            77824 02/23/00 15:09:55 *DIR       QSYS/", "QSYS", true,
     false, 77824, T(2000, 2, 23, 15, 9, 55)},
    {ListFamily::Os400, "BAILEYSE     5263360 06/11/97 12:27:39 *FILE     BPTFSAVF", "BPTFSAVF",
     false, false, 5263360, T(1997, 6, 11, 12, 27, 39)},
    {ListFamily::Os400, "QSYS  8192 05/27/01 08:47:45 *FILE  QGPL/QCLSRC.FILE", "QCLSRC.FILE", true,
     false, 8192, T(2001, 5, 27, 8, 47, 45)},
    {ListFamily::Os400, "                                   *MEM       QGPL/QCLSRC.FILE/UPDATE.MBR",
     "UPDATE.MBR", false, false, 0, 0},
    {ListFamily::Os400, "QSECOFR                             *MEM       MBR2.MBR", "MBR2.MBR",
     false, false, 0, 0},
    {ListFamily::Os400, "QPGMR 5000000000 01/02/24 10:00:00 *STMF big report -> x.txt",
     "big report -> x.txt", false, false, kBig, T(2024, 1, 2, 10)},
    // VMS: other orders of the columns, used/allocated blocks, a folder prefix.
    {ListFamily::Vms, "[VMSSERV.FILES]ALARM.DIR;1  1/3  5-MAR-1993 18:09", "ALARM", true, false,
     512, T(1993, 3, 5, 18, 9)},
    {ListFamily::Vms, "CII.TEX;1  [ANONYMOU,ANONYMOUS]  213/216  29-JAN-1996 03:33:12  (RWED,,,)",
     "CII.TEX", false, false, 213 * 512, T(1996, 1, 29, 3, 33, 12)},
    {ListFamily::Vms, "DATA.LOG;3  17-MAR-2011 10:05:12  12/24  [G,O]", "DATA.LOG", false, false,
     12 * 512, T(2011, 3, 17, 10, 5, 12)},
    {ListFamily::Vms, "EMPTY.TXT;1  0/0  17-MAR-2011", "EMPTY.TXT", false, false, 0, T(2011, 3, 17),
     true},
    {ListFamily::Vms, "BIG.ISO;1  9765625/9765630  1-JAN-2024 00:00  [GROUP, OWNER]  (RWED,RE)",
     "BIG.ISO", false, false, kBig, T(2024, 1, 1)},
    // Nortel wfFtp: name first, a weekday before the time.
    {ListFamily::Nortel, "nortel.wfftp       1014196  06/03/04  Thur.   10:20:03", "nortel.wfftp",
     false, false, 1014196, T(2004, 6, 3, 10, 20, 3)},
    {ListFamily::Nortel, "empty.cfg  0  12/25/23  Mon.  00:00:00", "empty.cfg", false, false, 0,
     T(2023, 12, 25)},
    {ListFamily::Nortel, "big.img 5000000000 01/15/24 Mon 08:00:00", "big.img", false, false, kBig,
     T(2024, 1, 15, 8)},
    // VxWorks: the date in three columns or one, "<DIR>" after a folder's name.
    {ListFamily::VxWorks, "     5060    Jun 23 2004 18:44:38  NC2-6.16", "NC2-6.16", false, false,
     5060, T(2004, 6, 23, 18, 44, 38)},
    {ListFamily::VxWorks, "    512    Jun 23 2004 18:44:38  scripts          <DIR>", "scripts",
     true, false, 512, T(2004, 6, 23, 18, 44, 38)},
    {ListFamily::VxWorks, "2048    Feb-28-1998  05:23:30   vx dir <DIR>", "vx dir", true, false,
     2048, T(1998, 2, 28, 5, 23, 30)},
    {ListFamily::VxWorks, "5000000000  Jun 1 2024 12:00:00  a -> b", "a -> b", false, false, kBig,
     T(2024, 6, 1, 12)},
    {ListFamily::VxWorks, "0  Jan 01 1980 00:00:00  empty", "empty", false, false, 0,
     T(1980, 1, 1)},
    // OS-9: owner as group.user, year first, time without a colon, sector in hex.
    {ListFamily::Os9, "  0.0     98/03/23 1427  d-----wr     24D2       1760 CMDS", "CMDS", true,
     false, 1760, T(1998, 3, 23, 14, 27)},
    {ListFamily::Os9, "1.12 04/01/20 1129 ------wr 48CA 0 os9 file", "os9 file", false, false, 0,
     T(2004, 1, 20, 11, 29)},
    {ListFamily::Os9, "0.0 24/06/01 0900 ----r-wr 1A 5000000000 big -> x", "big -> x", false, false,
     kBig, T(2024, 6, 1, 9)},
};

class FamilyTest : public testing::TestWithParam<FamilyCase> {};

TEST_P(FamilyTest, ReadsTheLineAndOnlyItsOwnFormatDoes) {
    const FamilyCase& c = GetParam();
    FtpListEntry e;
    ListFamily family = ListFamily::None;
    ASSERT_TRUE(listing::ParseListLine(c.line, kNow, e, &family)) << c.line;
    EXPECT_EQ(family, c.family) << c.line;
    EXPECT_EQ(e.name, QString::fromUtf8(c.name)) << c.line;
    EXPECT_EQ(e.isFolder, c.folder) << c.line;
    EXPECT_EQ(e.isLink, c.link) << c.line;
    EXPECT_EQ(e.size, c.size) << c.line;
    EXPECT_EQ(e.lastWriteTime, c.time) << c.line;
    EXPECT_EQ(e.dateOnly, c.dateOnly) << c.line;
    // No other format's rules take the line.
    for (int f = int(ListFamily::Unix); f <= int(ListFamily::Os9); ++f) {
        FtpListEntry other;
        if (ListFamily(f) != c.family) {
            EXPECT_FALSE(listing::ParseListLineAs(ListFamily(f), c.line, kNow, other))
                << "family " << f << " took " << c.line;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Families, FamilyTest, testing::ValuesIn(kCases));

// Whole listings: the entries read, and the lines counted as not understood.
struct ListingCase {
    const char* what;
    std::string text;
    std::vector<std::string> names;
    std::size_t unreadable;
};

TEST(ListingFamilies, CountsTheLinesItCannotReadAndNoOthers) {
    const ListingCase cases[] = {
        {"banners",
         "total 12\r\n\r\n   \r\nTotal 1.2M\r\n-rw-r--r-- 1 u g 1 Jan 1 2020 a\r\n",
         {"a"},
         0},
        {"garbage", "-rw-r--r-- 1 u g 1 Jan 1 2020 a\nno listing line\n?rw 1 2\n", {"a"}, 2},
        {"vms head and foot",
         "\r\nDirectory DISK$USER:[ME]\r\n\r\nA.TXT;1  1/3  17-MAR-2011\r\nORPHAN.TXT;1\r\n"
         "B.TXT;1  1  17-MAR-2011\r\nTotal of 2 files, 2/6 blocks.\r\n"
         "Grand total of 1 directory, 2 files, 2/6 blocks.\r\n",
         {"A.TXT", "B.TXT"},
         1},
        {"os-9 and vxworks heads",
         "  Owner    Last modified  Attributes Sector   Bytecount Name\n"
         "------- ------------ ----------- ------ --------- ----\n"
         "  0.0     98/03/23 1427  d-----wr     24D2       1760 CMDS\n"
         "  size          date       time       name\n"
         "--------       ------     ------    --------\n"
         "     5060    Jun 23 2004 18:44:38  NC2-6.16\n",
         {"CMDS", "NC2-6.16"},
         0},
        {"dot entries are no loss, bad names are",
         "drwxr-xr-x 2 u g 1 Jan 1 2020 .\ndrwxr-xr-x 2 u g 1 Jan 1 2020 ..\n"
         "-rw-r--r-- 1 u g 1 Jan 1 2020 a\x1b[2J\n+r,\tx/y\n",
         {},
         2},
        // A name holding an LF in a CRLF listing: no second entry from its tail.
        {"lf inside a crlf listing",
         "-rw-r--r-- 1 u g 1 Jan 1 2020 one\r\n"
         "-rw-r--r-- 1 u g 1 Jan 1 2020 evil\n-rw-r--r-- 1 u g 1 Jan 1 2020 phantom\r\n"
         "-rw-r--r-- 1 u g 1 Jan 1 2020 two\r\n",
         {"one", "two"},
         1},
        {"lf listing splits at every lf",
         "-rw-r--r-- 1 u g 1 Jan 1 2020 one\n-rw-r--r-- 1 u g 1 Jan 1 2020 two\n",
         {"one", "two"},
         0},
        {"dos dir head and foot",
         " Volume in drive C has no label\r\n Directory of C:\\x\r\n"
         "03-07-98  09:05AM  1 a.txt\r\n               1 File(s)              1 bytes\r\n"
         "               0 Dir(s)  12,345 bytes free\r\n",
         {"a.txt"},
         0},
    };
    for (const ListingCase& c : cases) {
        std::vector<FtpListEntry> out;
        std::size_t unreadable = 99;
        listing::ParseList(c.text, kNow, out, &unreadable);
        std::vector<std::string> names;
        for (const FtpListEntry& e : out)
            names.push_back(e.name.toStdString());
        EXPECT_EQ(names, c.names) << c.what;
        EXPECT_EQ(unreadable, c.unreadable) << c.what;
    }
    std::vector<FtpListEntry> out;
    std::size_t unreadable = 0;
    listing::ParseMlsd("type=cdir; /x\r\ngarbage\r\ntype=file; a\r\ntype=file; b\x7f\r\n", out,
                       &unreadable);
    EXPECT_EQ(out.size(), 1u);
    EXPECT_EQ(unreadable, 2u);
}

// "06/07/05" is June 7th, unless another line of the same listing has a day
// over 12 in front: then it is July 6th. Dots are always day first.
TEST(ListingFamilies, NumericDatesFollowTheOrderTheListingShows) {
    struct Case {
        std::string text;
        std::int64_t first;
    };
    const std::string open = "-rw-r--r-- 1 u g 1 06/07/05 open\r\n";
    const Case cases[] = {
        {open, T(2005, 6, 7)},
        {open + "-rw-r--r-- 1 u g 1 13/07/05 proof\r\n", T(2005, 7, 6)},
        {open + "-rw-r--r-- 1 u g 1 07/13/05 proof\r\n", T(2005, 6, 7)},
        {"06-07-05  10:00  1 dos\r\n25-12-05  10:00  1 proof\r\n", T(2005, 7, 6, 10)},
        {"06-07-05  10:00AM  1 dos\r\n12-25-05  10:00AM  1 proof\r\n", T(2005, 6, 7, 10)},
        {"-rw-r--r-- 1 u g 1 06.07.2005 dotted\r\n", T(2005, 7, 6)},
        {"nortel.cfg  1  06/07/05  Tue.  10:00:00\r\nb  1  31/12/05  Sat.  10:00:00\r\n",
         T(2005, 7, 6, 10)},
    };
    for (const Case& c : cases) {
        std::vector<FtpListEntry> out;
        listing::ParseList(c.text, kNow, out);
        ASSERT_FALSE(out.empty()) << c.text;
        EXPECT_EQ(out[0].lastWriteTime, c.first) << c.text;
    }
}

// Lines that look like a family's but are not: each refused, and counted.
TEST(ListingFamilies, RefusesNearMisses) {
    const char* lines[] = {
        "d [R----F--] supervisor 512 Jan 32 18:53 bad day",
        "x [RWCEAFMS] rhesus 214059 Oct 20 15:27 bad kind",
        "     0           DIR   13-32-98   16:06  bad date",
        "QSYS  77824 02/23/00 15:09:55 *dir  lower type",
        "QSYS  77824 02/23/00 *DIR  no time",
        "nortel.wfftp  1014196  06/03/04  Someday.  10:20:03",
        "nortel.wfftp  1014196  06/03/04  Thur.  10:20:03  extra",
        "  5060    Jun 23 2004 18:44  no seconds",
        "  0.0     98/13/23 1427  d-----wr     24D2       1760 bad month",
        "  0.0     98/03/23 1427  d-----wx     24D2       1760 bad attributes",
        "-rw-r--r-- 1 u g 1.2X Jun 7 2005 bad unit",
        "-rw-r--r-- 1 u g 999999P Jun 7 2005 past 2^64",
        "-rw-r--r-- 1 u g 5 Jux 7 2005 bad month",
        "-rw-r--r-- 1 u g 5 31.02.2005 no such day",
    };
    std::string text;
    for (const char* line : lines) {
        FtpListEntry e;
        EXPECT_FALSE(listing::ParseListLine(line, kNow, e)) << line;
        text += std::string(line) + "\r\n";
    }
    std::vector<FtpListEntry> out;
    std::size_t unreadable = 0;
    listing::ParseList(text, kNow, out, &unreadable);
    EXPECT_EQ(unreadable, std::size(lines));
}

} // namespace
