// The listing parser against real lines of the servers it meets, and against lines
// it must refuse.
#include <gtest/gtest.h>
#include <string>

#include "ListingParser.h"

namespace {

// 2024-06-15 12:00 UTC: the "now" of the year rule for lines that carry a time.
constexpr std::int64_t kNow = 1718452800;

struct ListCase {
    const char* line;
    bool accepted;
    const char* name;
    bool folder;
    std::uint64_t size;
    std::int64_t time;
    int dateOnly = -1; // 0 or 1 where the case says; -1 leaves it unchecked
};

class ListLineTest : public testing::TestWithParam<ListCase> {};

TEST_P(ListLineTest, ParsesOrRefuses) {
    const ListCase& c = GetParam();
    FtpListEntry e;
    ASSERT_EQ(listing::ParseListLine(c.line, kNow, e), c.accepted) << c.line;
    if (!c.accepted)
        return;
    EXPECT_EQ(e.name, QString::fromUtf8(c.name)) << c.line;
    EXPECT_EQ(e.isFolder, c.folder) << c.line;
    EXPECT_EQ(e.size, c.size) << c.line;
    EXPECT_EQ(e.lastWriteTime, c.time) << c.line;
    if (c.dateOnly >= 0) {
        EXPECT_EQ(e.dateOnly, c.dateOnly == 1) << c.line;
    }
}

const ListCase kListCases[] = {
    // Unix ls -l as vsftpd, pyftpdlib, ProFTPD and GNU ls give it.
    {"-rw-r--r--    1 0        0            1234 Mar 07  1998 readme.txt", true, "readme.txt",
     false, 1234, 889228800},
    {"drwxr-xr-x    2 ftp      ftp          4096 Jan 01  2020 pub", true, "pub", true, 4096,
     1577836800},
    {"-rw-r--r--   1 root     root          77 Mar 07 09:05 recent", true, "recent", false, 77,
     1709802300},
    // A time six months back in the future of "now" belongs to last year.
    {"-rw-r--r--   1 root     root          77 Dec 24 18:00 xmas", true, "xmas", false, 77,
     1703440800},
    {"-rw-r--r--   1 root     root          77 Jun 16 10:00 tomorrow", true, "tomorrow", false, 77,
     1718532000},
    {"-rw-r--r--   1 root     root          77 Jun 17 13:00 later", true, "later", false, 77,
     1687006800},
    // Without a group column, numeric owner, ACL mark.
    {"-rw-r--r-- 1 owner 5 Mar  7  1998 nogroup", true, "nogroup", false, 5, 889228800},
    {"-rw-r--r--+ 1 1000 1000 9 Mar 7 1998 acl", true, "acl", false, 9, 889228800},
    {"drwxrwsr-x. 3 1001 1001 96 Jan 1 2020 selinux", true, "selinux", true, 96, 1577836800},
    // Names with spaces, a leading dot, non-ASCII letters, dots only.
    {"-rw-r--r-- 1 u g 3 Mar 7 1998 two  spaces here.txt", true, "two  spaces here.txt", false, 3,
     889228800},
    {"-rw-r--r-- 1 u g 3 Mar 7 1998 .profile", true, ".profile", false, 3, 889228800},
    {"-rw-r--r-- 1 u g 3 Mar 7 1998 Grüße ñ.txt", true, "Grüße ñ.txt", false, 3, 889228800},
    // "." and ".." name this folder and its parent, never an entry of it.
    {"drwxr-xr-x 1 u g 3 Mar 7 1998 ..", false, "", false, 0, 0},
    {"drwxr-xr-x 1 u g 3 Mar 7 1998 .", false, "", false, 0, 0},
    {"drwxr-xr-x 1 u g 3 Mar 7 1998 ...", true, "...", true, 3, 889228800},
    // A name that looks like a date does not confuse the columns.
    {"-rw-r--r-- 1 Jan staff 3 Mar 7 1998 Jan 1 2020", true, "Jan 1 2020", false, 3, 889228800},
    // Symbolic links: the name before the arrow, never taken for a folder.
    {"lrwxrwxrwx 1 root root 7 Jan 1 2020 bin -> usr/bin", true, "bin", false, 7, 1577836800},
    // A target ending in "/" is only a name: the link is never taken for a folder.
    {"lrwxrwxrwx 1 root root 7 Jan 1 2020 data -> /srv/data/", true, "data", false, 7, 1577836800},
    // Devices: "major, minor" instead of a size.
    {"crw-rw-rw- 1 root root 1, 3 Jan 1 2020 null", true, "null", false, 0, 1577836800},
    {"brw-rw---- 1 root disk 8,0 Jan 1 2020 sda", true, "sda", false, 0, 1577836800},
    // Sizes past 4 GiB and 2^63.
    {"-rw-r--r-- 1 u g 5000000000 Mar 7 1998 big.iso", true, "big.iso", false, 5000000000ull,
     889228800},
    {"-rw-r--r-- 1 u g 18446744073709551615 Mar 7 1998 max", true, "max", false,
     18446744073709551615ull, 889228800},
    // DOS / IIS.
    {"03-07-98  09:05AM       <DIR>          old stuff", true, "old stuff", true, 0, 889261500},
    {"03-07-98  09:05PM                 1234 night.txt", true, "night.txt", false, 1234, 889304700},
    {"01-16-2002  12:14AM   <DIR>  midnight", true, "midnight", true, 0, 1011140040},
    {"01-16-02  11:14  42 clock24", true, "clock24", false, 42, 1011179640},
    {"12-31-21  12:34PM  7 noon", true, "noon", false, 7, 1640954040},
    // EPLF.
    {"+i8388621.29609,m824255902,/,\tdev", true, "dev", true, 0, 824255902},
    {"+i8388621.44468,m839956783,r,s10376,\tRFCEPLF", true, "RFCEPLF", false, 10376, 839956783},
    // Refused: not an entry, or an entry with an unusable name.
    {"total 12", false, "", false, 0, 0},
    {"", false, "", false, 0, 0},
    {"garbage line without structure", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 3 Mar 7 1998 ", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 3 Mar 7 1998", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 3 Mar 7 1998 a/b", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 3 Foo 7 1998 name", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 3 Mar 32 1998 name", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 3 Mar 7 25:00 name", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 99999999999999999999999 Mar 7 1998 overflow", false, "", false, 0, 0},
    {"-rwxrwxrwxq 1 u g 3 Mar 7 1998 x", true, "x", false, 3, 889228800},
    {"?rw-r--r-- 1 u g 3 Mar 7 1998 badmode", false, "", false, 0, 0},
    {"13-13-98  09:05AM  1 badmonth", false, "", false, 0, 0},
    {"03-07-98  13:05PM  1 badhour", false, "", false, 0, 0},
    {"03-07-98  09:05AM  12x badsize", false, "", false, 0, 0},
    {"03-07-98  09:05AM  <DIR>  ", false, "", false, 0, 0},
    {"+i1,m1,/,no tab", false, "", false, 0, 0},
    {"+i1,/,\t", false, "", false, 0, 0},
    {"+i1,/,\ta/b", false, "", false, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Formats, ListLineTest, testing::ValuesIn(kListCases));

// ls -l with numeric dates: --time-style=long-iso, full-iso and iso, and the
// day-before-month order.
const ListCase kUnixIsoCases[] = {
    {"-rw-r--r-- 1 user group 1234 2020-01-01 12:00 long-iso.txt", true, "long-iso.txt", false,
     1234, 1577880000, 0},
    {"drwxr-xr-x 2 user group 4096 2020-01-01 12:00:30 secs", true, "secs", true, 4096, 1577880030,
     0},
    // A zone is converted to UTC; the fraction of a second is dropped.
    {"-rw-r--r-- 1 user group 5 2020-01-01 12:00:30.123456789 +0100 full iso", true, "full iso",
     false, 5, 1577876430, 0},
    {"-rw-r--r-- 1 user group 5 2019-12-31 23:30:00.000000000 -0530 west", true, "west", false, 5,
     1577854800, 0},
    // The "iso" style: month and day with a time for recent files, the year alone
    // (padded to the same width) for older ones.
    {"-rw-r--r-- 1 user group 5 01-31 09:15 iso-recent", true, "iso-recent", false, 5, 1706692500,
     0},
    {"-rw-r--r-- 1 user group 5 12-01 09:15 last-year", true, "last-year", false, 5, 1701422100, 0},
    {"-rw-r--r-- 1 user group 5 2019-01-01  iso-old", true, "iso-old", false, 5, 1546300800, 1},
    {"-rw-r--r-- 1 user group 5 2019-01-01 single", true, "single", false, 5, 1546300800, 1},
    {"-rw-r--r-- 1 1000 1000 5 2020-02-29 00:00 leap", true, "leap", false, 5, 1582934400, 0},
    {"-rw-r--r-- 1 user 5 2020-01-01 12:00 nogroup", true, "nogroup", false, 5, 1577880000, 0},
    {"-rw-r--r--@ 1 user staff 5 2020-01-01 12:00 xattr", true, "xattr", false, 5, 1577880000, 0},
    {"-rw-r--r-- 1 user group 5 2020-01-01 12:00 at 12:00 x", true, "at 12:00 x", false, 5,
     1577880000, 0},
    {"lrwxrwxrwx 1 user group 5 2020-01-01 12:00 ln -> target", true, "ln", false, 5, 1577880000,
     0},
    {"-rw-r--r-- 1 user group 5 7 Mar 1998 dayfirst", true, "dayfirst", false, 5, 889228800, 1},
    {"-rw-r--r-- 1 user group 5 29 Feb 10:00 dayfirst-time", true, "dayfirst-time", false, 5,
     1709200800, 0},
    // Leap days: 2000 had one, 1900 and 2019 did not; a recent Feb 29 is of 2024.
    {"-rw-r--r-- 1 u g 5 Feb 29 2000 y2k-leap", true, "y2k-leap", false, 5, 951782400, 1},
    {"-rw-r--r-- 1 u g 5 Feb 29 10:00 recent-leap", true, "recent-leap", false, 5, 1709200800, 0},
    {"-rw-r--r-- 1 u g 5 Feb 29 1900 x", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 5 Feb 31 2020 x", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 5 Apr 31 2020 x", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 5 2019-02-29 12:00 x", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 5 2020-13-01 12:00 x", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 5 2020-01-00 12:00 x", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 5 2020-01-01 24:00 x", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 5 2020-01-01 12:60 x", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 5 02-30 12:00 x", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 5 2020-01-01 12:00", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 5 2020-01-01", false, "", false, 0, 0},
    {"-rw-r--r-- 1 u g 5 32 Mar 1998 x", false, "", false, 0, 0},
};
INSTANTIATE_TEST_SUITE_P(UnixIso, ListLineTest, testing::ValuesIn(kUnixIsoCases));

// Windows and IIS: both date orders, 12- and 24-hour clocks, grouped sizes, links.
const ListCase kWindowsCases[] = {
    {"15-03-2011  14:05   1,234,567 european.zip", true, "european.zip", false, 1234567, 1300197900,
     0},
    {"2011-03-15  14:05   <DIR>  iso order", true, "iso order", true, 0, 1300197900, 0},
    {"03/15/2011  02:05 PM    1,024 us dir.txt", true, "us dir.txt", false, 1024, 1300197900, 0},
    {"15.03.2011  14:05    1.234 german.txt", true, "german.txt", false, 1234, 1300197900, 0},
    // Either order would do: month first, as the listing shows nothing else.
    {"07/03/2011  14:05    5 uk.txt", true, "uk.txt", false, 5, 1309701900, 0},
    {"03-08-2011  14:05    5 iis24.txt", true, "iis24.txt", false, 5, 1299593100, 0},
    {"13-07-98  09:05AM  1 dayfirst12h", true, "dayfirst12h", false, 1, 900320700, 0},
    {"03-07-11  12:00pm  <JUNCTION>  Docs [C:\\Users\\x\\Documents]", true, "Docs", true, 0,
     1299499200, 0},
    {"03-07-11  12:00PM  <SYMLINK>  f.txt [..\\f.txt]", true, "f.txt", false, 0, 1299499200, 0},
    {"03-07-11  12:00PM  17  brackets [kept].txt", true, "brackets [kept].txt", false, 17,
     1299499200, 0},
    {"02-29-2000  10:00AM  1 leap2000", true, "leap2000", false, 1, 951818400, 0},
    {"02-29-1900  10:00AM  1 x", false, "", false, 0, 0},
    {"02-30-2020  10:00  1 x", false, "", false, 0, 0},
    {"2011-02-29  10:00  5 x", false, "", false, 0, 0},
    {"03-07-98  09:05AM  1,23 x", false, "", false, 0, 0},
    {"03-07-98  09:05AM  1,234,56 x", false, "", false, 0, 0},
    {"03-07-98  09:05AM  1,234.567 x", false, "", false, 0, 0},
    {"03-07-98  00:05AM  1 x", false, "", false, 0, 0},
    {"03-07-98  09:05  ", false, "", false, 0, 0},
    {"03-07-98  09:05AM  <DIR>  ..", false, "", false, 0, 0},
};
INSTANTIATE_TEST_SUITE_P(Windows, ListLineTest, testing::ValuesIn(kWindowsCases));

// VMS and MultiNet: version stripped, folders as NAME.DIR, sizes in 512-byte blocks.
const ListCase kVmsCases[] = {
    {"README.TXT;1   4/9  17-MAR-2011 10:05:12  [GROUP,OWNER]  (RWED,RWED,RE,)", true, "README.TXT",
     false, 2048, 1300356312, 0},
    {"SUBDIR.DIR;1   1/3  17-MAR-2011 10:05  [SYSTEM]  (RWE,RWE,RE,RE)", true, "SUBDIR", true, 512,
     1300356300, 0},
    {"DATA.CSV;12  120  1-FEB-2020 23:59:59.99  [1,2]  (RWED,RWED,,)", true, "DATA.CSV", false,
     61440, 1580601599, 0},
    {"NOTIME.LOG;32767  2/2  29-FEB-2020  [G,O]  (RWED,RWED,RE,)", true, "NOTIME.LOG", false, 1024,
     1582934400, 1},
    {"lower.txt;3  0/0  17-Mar-2011 10:05  [G,O]  (R,R,R,R)", true, "lower.txt", false, 0,
     1300356300, 0},
    {"NOSIZE.TXT;1  17-MAR-2011 10:05:12", true, "NOSIZE.TXT", false, 0, 1300356312, 0},
    {"1999.TXT;1  1  17-MAR-2011 10:05:12  [G,O]", true, "1999.TXT", false, 512, 1300356312, 0},
    {"Directory DISK$USER:[ME]", false, "", false, 0, 0},
    {"Total of 4 files, 20/32 blocks.", false, "", false, 0, 0},
    {"FILE.TXT;1  4/9  30-FEB-2011 10:05 [G,O]", false, "", false, 0, 0},
    {"FILE.TXT;1  4/9  17-XYZ-2011 10:05 [G,O]", false, "", false, 0, 0},
    {"FILE.TXT;1  %RMS-E-PRV, insufficient privilege", false, "", false, 0, 0},
    {"FILE.TXT;  4/9  17-MAR-2011 10:05", false, "", false, 0, 0},
    {"FILE.TXT;0  4/9  17-MAR-2011 10:05", false, "", false, 0, 0},
    {"FILE.TXT;1a  4/9  17-MAR-2011 10:05", false, "", false, 0, 0},
    {"FILE.TXT;1  4/x  17-MAR-2011 10:05", false, "", false, 0, 0},
    {";1  4/9  17-MAR-2011 10:05", false, "", false, 0, 0},
    {"LONG_NAME_ALONE.TXT;1", false, "", false, 0, 0},
    {"    4/9  17-MAR-2011 10:05:12  [GROUP,OWNER]  (RWED,RWED,RE,)", false, "", false, 0, 0},
};
INSTANTIATE_TEST_SUITE_P(Vms, ListLineTest, testing::ValuesIn(kVmsCases));

const ListCase kEplfCases[] = {
    {"+r,s1234,m1000000000,i42.7,\tfile.bin", true, "file.bin", false, 1234, 1000000000, 0},
    {"+/,\tfolder only", true, "folder only", true, 0, 0, 0},
    {"+m824255902,r,up644,\tperm", true, "perm", false, 0, 824255902, 0},
    {"+r,sx,mq,\tbad facts kept out", true, "bad facts kept out", false, 0, 0, 0},
    {"+r,s1,\t", false, "", false, 0, 0},
    {"+r,s1 no tab", false, "", false, 0, 0},
    {"+r,\t.", false, "", false, 0, 0},
    {"+/,\t..", false, "", false, 0, 0},
    {"+r,\tesc\x1b[2Jname", false, "", false, 0, 0},
};
INSTANTIATE_TEST_SUITE_P(Eplf, ListLineTest, testing::ValuesIn(kEplfCases));

struct MlsdCase {
    const char* line;
    bool accepted;
    const char* name;
    bool folder;
    std::uint64_t size;
    std::int64_t time;
};

class MlsdLineTest : public testing::TestWithParam<MlsdCase> {};

TEST_P(MlsdLineTest, ParsesOrRefuses) {
    const MlsdCase& c = GetParam();
    std::vector<FtpListEntry> out;
    listing::ParseMlsd(c.line, out);
    ASSERT_EQ(out.size(), c.accepted ? 1u : 0u) << c.line;
    if (!c.accepted)
        return;
    EXPECT_EQ(out[0].name, QString::fromUtf8(c.name));
    EXPECT_EQ(out[0].isFolder, c.folder);
    EXPECT_EQ(out[0].size, c.size);
    EXPECT_EQ(out[0].lastWriteTime, c.time);
}

const MlsdCase kMlsdCases[] = {
    {"type=file;size=1234;modify=20210405060708;perm=r; report 2021.pdf", true, "report 2021.pdf",
     false, 1234, 1617602828},
    {"type=dir;sizd=4096;modify=20200101000000; pub", true, "pub", true, 4096, 1577836800},
    // Leading zeros do not count against the digits of a 64-bit size.
    {"type=file;size=00000000000000000000001234; z", true, "z", false, 1234, 0},
    {"type=file;size=000000018446744073709551615; m", true, "m", false, 18446744073709551615u, 0},
    {"type=file;size=0000; e", true, "e", false, 0, 0},
    {"Type=DIR;Modify=20200229235959.123; leap", true, "leap", true, 0, 1583020799},
    {"modify=20380119031408;type=file;size=5000000000; y2038", true, "y2038", false, 5000000000ull,
     2147483648},
    {"type=OS.unix=slink:/etc;size=4; link", true, "link", false, 4, 0},
    {"size=3; untyped", true, "untyped", false, 3, 0},
    {"type=file;size=1;  leading space", true, " leading space", false, 1, 0},
    {"type=file;modify=2021; badtime", true, "badtime", false, 0, 0},
    {"type=file; .hidden", true, ".hidden", false, 0, 0},
    {"type=cdir;modify=20200101000000; /srv/ftp", false, "", false, 0, 0},
    {"type=pdir;modify=20200101000000; ..", false, "", false, 0, 0},
    {"type=file;size=1;", false, "", false, 0, 0},
    {"type=file;size=1; ", false, "", false, 0, 0},
    {"type=file;size=1; sub/name", false, "", false, 0, 0},
    // Any order and case, fractions, missing or empty facts, no trailing ";".
    {"Size=42;Modify=20200101120000;Type=File; caps", true, "caps", false, 42, 1577880000},
    {"modify=20200101120000.5;perm=adfr;type=file;size=7 notrailing", true, "notrailing", false, 7,
     1577880000},
    {";;type=file;;size=3;=;x;; emptyfacts", true, "emptyfacts", false, 3, 0},
    {"type=dir;sizd=4096;UNIX.mode=0755;UNIX.owner=ftp; d", true, "d", true, 4096, 0},
    {"perm=el;TYPE=Dir; noModify", true, "noModify", true, 0, 0},
    {"type=file;size=;modify=; empty values", true, "empty values", false, 0, 0},
    {" nofacts", true, "nofacts", false, 0, 0},
    // A date that does not exist is dropped, the entry kept.
    {"type=file;modify=20210229000000;size=9; badleap", true, "badleap", false, 9, 0},
    {"type=file;modify=20200431000000; april31", true, "april31", false, 0, 0},
    {"type=file;modify=20200101120000x; badfraction", true, "badfraction", false, 0, 0},
    {"type=file;modify=20200101120000.; emptyfraction", true, "emptyfraction", false, 0, 0},
    {"type=file;modify=20000229120000; leap2000", true, "leap2000", false, 0, 951825600},
    {"type=file; .", false, "", false, 0, 0},
    {"type=dir; ..", false, "", false, 0, 0},
    {"type=file;size=1; esc\x1b[31mred", false, "", false, 0, 0},
    {"type=file;size=1; del\x7f", false, "", false, 0, 0},
    {"type=file;size=1; tab\tinside", false, "", false, 0, 0},
    {"type=file;size=1 ", false, "", false, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Facts, MlsdLineTest, testing::ValuesIn(kMlsdCases));

TEST(ListingParser, WholeListingKeepsOrderSkipsJunkAndHandlesLineEnds) {
    const std::string text = "total 8\r\n"
                             "drwxr-xr-x 2 0 0 4096 Jan 01 2020 b dir\r\n"
                             "garbage\n"
                             "-rw-r--r-- 1 0 0 10 Jan 01 2020 a.txt\n"
                             "-rw-r--r-- 1 0 0 11 Jan 01 2020 last-no-newline";
    std::vector<FtpListEntry> out;
    listing::ParseList(text, kNow, out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].name, QStringLiteral("b dir"));
    EXPECT_TRUE(out[0].isFolder);
    EXPECT_EQ(out[1].name, QStringLiteral("a.txt"));
    EXPECT_EQ(out[2].name, QStringLiteral("last-no-newline"));
    EXPECT_EQ(out[2].size, 11u);
}

TEST(ListingParser, VmsListingJoinsLongNamesAndKeepsTheHighestVersionOnce) {
    const std::string text = "\r\nDirectory DISK$USER:[ME]\r\n\r\n"
                             "A.TXT;3   1/3  17-MAR-2011 10:05:12  [G,O]  (RWED,RWED,RE,)\r\n"
                             "A.TXT;2   2/3  16-MAR-2011 10:05:12  [G,O]  (RWED,RWED,RE,)\r\n"
                             "A_VERY_LONG_FILE_NAME_INDEED.DATA;1\r\n"
                             "          9/9  17-MAR-2011 10:05:12  [G,O]  (RWED,RWED,RE,)\r\n"
                             "OLD.LOG;1  1/3  1-JAN-2011 00:00:00  [G,O]  (RWED,RWED,RE,)\r\n"
                             "OLD.LOG;4  4/6  2-JAN-2011 00:00:00  [G,O]  (RWED,RWED,RE,)\r\n"
                             "ORPHAN.TXT;1\r\n"
                             "SUB.DIR;1  1/3  17-MAR-2011 10:05  [G,O]  (RWE,RWE,RE,E)\r\n"
                             "A.TXT;1   3/3  15-MAR-2011 10:05:12  [G,O]  (RWED,RWED,RE,)\r\n"
                             "\r\nTotal of 8 files, 21/36 blocks.\r\n";
    std::vector<FtpListEntry> out;
    listing::ParseList(text, kNow, out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].name, QStringLiteral("A.TXT"));
    EXPECT_EQ(out[0].size, 512u); // version 3, not the later-listed older ones
    EXPECT_EQ(out[1].name, QStringLiteral("A_VERY_LONG_FILE_NAME_INDEED.DATA"));
    EXPECT_EQ(out[1].size, 9u * 512);
    EXPECT_EQ(out[1].lastWriteTime, 1300356312);
    EXPECT_EQ(out[2].name, QStringLiteral("OLD.LOG"));
    EXPECT_EQ(out[2].size, 4u * 512); // a higher version listed after a lower one
    EXPECT_EQ(out[3].name, QStringLiteral("SUB"));
    EXPECT_TRUE(out[3].isFolder);
}

TEST(ListingParser, BadNamesAreRefusedAndTheOtherEntriesStay) {
    // Every C0 control and DEL, in each format: the line goes, its neighbours stay.
    // (LF ends a line, so it cannot stand inside one.)
    for (int code = 1; code < 0x80; code = code == 0x1f ? 0x7f : code + 1) {
        if (code == '\n')
            continue;
        const std::string bad(1, char(code));
        const std::string list = "-rw-r--r-- 1 u g 1 Jan 01 2020 ok1\n"
                                 "-rw-r--r-- 1 u g 1 Jan 01 2020 a" +
                                 bad +
                                 "b\n"
                                 "03-07-98  09:05AM  1 c" +
                                 bad +
                                 "d\n"
                                 "+r,\te" +
                                 bad +
                                 "f\n"
                                 "G" +
                                 bad +
                                 ".TXT;1  1  17-MAR-2011 10:05\n"
                                 "-rw-r--r-- 1 u g 1 Jan 01 2020 ok2\n";
        const std::string mlsd = "type=file; ok1\ntype=file; x" + bad + "y\ntype=file; ok2\n";
        std::vector<FtpListEntry> out;
        listing::ParseList(list, kNow, out);
        listing::ParseMlsd(mlsd, out);
        ASSERT_EQ(out.size(), 4u) << code;
        EXPECT_EQ(out[0].name, QStringLiteral("ok1")) << code;
        EXPECT_EQ(out[1].name, QStringLiteral("ok2")) << code;
        EXPECT_EQ(out[2].name, QStringLiteral("ok1")) << code;
        EXPECT_EQ(out[3].name, QStringLiteral("ok2")) << code;
    }
}

TEST(ListingParser, NulInsideANameDropsTheLine) {
    // The literal's own length: a NUL inside must not end the text early.
    static const char kText[] = "-rw-r--r-- 1 0 0 1 Jan 01 2020 a\0b\n"
                                "type=file;size=1; c\0d\n";
    const std::string text(kText, sizeof kText - 1);
    std::vector<FtpListEntry> out;
    listing::ParseList(text, kNow, out);
    listing::ParseMlsd(text, out);
    EXPECT_TRUE(out.empty());
}

TEST(ListingParser, HostileInputNeverCrashes) {
    // Every prefix of real lines and some binary noise: nothing may crash or
    // deliver an unusable name.
    const std::string lines[] = {
        "-rw-r--r--    1 0        0            1234 Mar 07  1998 readme.txt",
        "lrwxrwxrwx 1 root root 7 Jan 1 2020 bin -> usr/bin",
        "03-07-98  09:05AM       <DIR>          old stuff",
        "+i8388621.44468,m839956783,r,s10376,\tRFCEPLF",
        "type=file;size=1234;modify=20210405060708;perm=r; report.pdf",
    };
    std::vector<FtpListEntry> out;
    for (const std::string& l : lines)
        for (std::size_t n = 0; n <= l.size(); ++n) {
            listing::ParseList(l.substr(0, n), kNow, out);
            listing::ParseMlsd(l.substr(0, n), out);
        }
    std::string noise;
    unsigned seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        noise.push_back(char(seed >> 16));
    }
    listing::ParseList(noise, kNow, out);
    listing::ParseMlsd(noise, out);
    for (const FtpListEntry& e : out) {
        EXPECT_FALSE(e.name.isEmpty());
        EXPECT_FALSE(e.name.contains(QLatin1Char('/')));
        EXPECT_FALSE(e.name.contains(QChar(0)));
    }
}

TEST(ListingParser, CivilTimeAcrossCenturiesAndLeapDays) {
    EXPECT_EQ(listing::ToUnixTime(1970, 1, 1), 0);
    EXPECT_EQ(listing::ToUnixTime(2106, 2, 7, 6, 28, 16), 4294967296ll);
    EXPECT_EQ(listing::ToUnixTime(2020, 2, 29, 23, 59, 59), 1583020799);
    EXPECT_EQ(listing::ToUnixTime(1969, 12, 31, 23, 59, 59), -1);
}

} // namespace

// What a delete or a recursive copy needs to know before it may descend: links are
// marked whichever way the server says so, and never made folders by their target.
TEST(ListingParser, MarksLinksFromEveryForm) {
    struct Case {
        const char* text;
        bool mlsd;
        bool link;
        bool folder;
        const char* target;
    };
    const Case cases[] = {
        {"lrwxrwxrwx 1 0 0 3 Mar 04 2019 link-to-dir -> sub", false, true, false, "sub"},
        {"lrwxrwxrwx 1 0 0 3 Mar 04 2019 etc -> /etc/", false, true, false, "/etc/"},
        {"lrwxrwxrwx 1 0 0 3 Mar 04 2019 odd name -> a -> b", false, true, false, "a -> b"},
        {"drwxr-xr-x 1 0 0 3 Mar 04 2019 dir -> not a link", false, false, true, ""},
        {"type=OS.unix=slink:/srv;size=3; l1", true, true, false, ""},
        {"type=OS.unix=symlink;size=3; l2", true, true, false, ""},
        {"Type=os.UNIX=SLINK; l3", true, true, false, ""},
        {"type=dir;unix.mode=0120777; l4", true, true, true, ""},
        {"type=dir;unix.mode=0755; d5", true, false, true, ""},
        {"type=file;unix.mode=12x777; f6", true, false, false, ""},
        {"type=OS.unix=blk; f7", true, false, false, ""},
    };
    for (const Case& c : cases) {
        std::vector<FtpListEntry> out;
        if (c.mlsd)
            listing::ParseMlsd(c.text, out);
        else
            listing::ParseList(c.text, 1700000000, out);
        ASSERT_EQ(out.size(), 1u) << c.text;
        EXPECT_EQ(out[0].isLink, c.link) << c.text;
        EXPECT_EQ(out[0].isFolder, c.folder) << c.text;
        EXPECT_EQ(out[0].linkTarget, QString::fromUtf8(c.target)) << c.text;
    }
}

TEST(ListingParser, KeepsUniqueFactAndTellsDateOnlyEntries) {
    std::vector<FtpListEntry> out;
    listing::ParseMlsd("type=dir;UNIQUE=801g4a;modify=20200101120000; a\r\n", out);
    listing::ParseList("-rw-r--r-- 1 u g 3 Mar 04 2019 b\n-rw-r--r-- 1 u g 3 Mar 04 10:00 c\n",
                       1700000000, out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].unique, "801g4a");
    EXPECT_FALSE(out[0].dateOnly);
    EXPECT_TRUE(out[1].dateOnly);
    EXPECT_FALSE(out[2].dateOnly);
}
