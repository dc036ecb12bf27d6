#include "ListingParser.h"

#include "NameCodec.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>

namespace listing {
namespace {

// The parts of an entry found in a line, before anything is allocated for it.
struct RawEntry {
    std::string_view name;
    bool isFolder = false;
    std::uint64_t size = 0;
    std::int64_t time = 0;
    bool isLink = false;
    bool dateOnly = false;
    std::string_view target;
    std::string_view unique;
    std::uint32_t version = 0; // VMS file version; 0 for every other format
};

// "Now" of the year rule, with its year worked out once per listing.
struct Now {
    std::int64_t utc;
    int year;
};

// A time of day as listings write it.
struct Clock {
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool hasSeconds = false;
};

constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
constexpr bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
constexpr char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

bool AllDigits(std::string_view s) {
    for (char c : s)
        if (!IsDigit(c))
            return false;
    return !s.empty();
}

// Digits only, no overflow: the value; anything else: false.
bool ToNumber(std::string_view s, std::uint64_t& value) {
    if (s.empty())
        return false;
    // Leading zeros say nothing ("00000000000000001234" is 1234), so only the
    // digits after them count against the 20 that a 64-bit size can have.
    const std::size_t first = s.find_first_not_of('0');
    if (first == std::string_view::npos) {
        value = 0;
        return true;
    }
    s.remove_prefix(first);
    if (s.size() > 20)
        return false;
    std::uint64_t v = 0;
    for (char c : s) {
        if (!IsDigit(c))
            return false;
        const std::uint64_t digit = std::uint64_t(c - '0');
        if (v > (UINT64_MAX - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

int SmallNumber(std::string_view s) {
    if (s.empty() || s.size() > 4)
        return -1;
    int v = 0;
    for (char c : s) {
        if (!IsDigit(c))
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

// "1,234,567" or "1.234.567" as Windows servers write sizes, or plain digits.
bool ToGroupedNumber(std::string_view s, std::uint64_t& value) {
    if (ToNumber(s, value))
        return true;
    const std::size_t head = s.size() % 4;
    if (s.size() < 5 || s.size() > 27 || head == 0 || (s[head] != ',' && s[head] != '.'))
        return false;
    char digits[24];
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (i >= head && (i - head) % 4 == 0) {
            if (s[i] != s[head])
                return false;
        } else {
            digits[n++] = s[i];
        }
    }
    return ToNumber(std::string_view(digits, n), value);
}

int MonthFromName(std::string_view s) {
    if (s.size() != 3)
        return 0;
    const unsigned key =
        unsigned(Lower(s[0])) << 16 | unsigned(Lower(s[1])) << 8 | unsigned(Lower(s[2]));
    switch (key) {
    case 'j' << 16 | 'a' << 8 | 'n':
        return 1;
    case 'f' << 16 | 'e' << 8 | 'b':
        return 2;
    case 'm' << 16 | 'a' << 8 | 'r':
        return 3;
    case 'a' << 16 | 'p' << 8 | 'r':
        return 4;
    case 'm' << 16 | 'a' << 8 | 'y':
        return 5;
    case 'j' << 16 | 'u' << 8 | 'n':
        return 6;
    case 'j' << 16 | 'u' << 8 | 'l':
        return 7;
    case 'a' << 16 | 'u' << 8 | 'g':
        return 8;
    case 's' << 16 | 'e' << 8 | 'p':
        return 9;
    case 'o' << 16 | 'c' << 8 | 't':
        return 10;
    case 'n' << 16 | 'o' << 8 | 'v':
        return 11;
    case 'd' << 16 | 'e' << 8 | 'c':
        return 12;
    default:
        return 0;
    }
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// A date that exists: Feb 31 is refused rather than rolled over into March.
bool ValidDate(int year, int month, int day) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    return day <= kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

int YearOf(std::int64_t t) {
    // Civil year from days since the epoch (inverse of the algorithm in ToUnixTime).
    std::int64_t z = (t >= 0 ? t / 86400 : (t - 86399) / 86400) + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    return int(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::int64_t At(int year, int month, int day, const Clock& c) {
    return ToUnixTime(year, month, day, c.hour, c.minute, c.second);
}

// Splits a line into blank-separated tokens on demand.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view line) : m_line(line) {}
    bool Next(std::string_view& token) {
        std::size_t p = m_pos;
        while (p < m_line.size() && IsBlank(m_line[p]))
            ++p;
        if (p == m_line.size())
            return false;
        std::size_t e = p;
        while (e < m_line.size() && !IsBlank(m_line[e]))
            ++e;
        token = m_line.substr(p, e - p);
        m_pos = e;
        return true;
    }
    // The text after the last token read, blanks included.
    std::string_view Rest() const { return m_line.substr(m_pos); }

private:
    std::string_view m_line;
    std::size_t m_pos = 0;
};

// The name that follows the last column: exactly one separator is dropped, so
// that names beginning with a blank survive.
std::string_view NameAfter(const Tokenizer& tok) {
    const std::string_view rest = tok.Rest();
    return rest.size() > 1 ? rest.substr(1) : std::string_view();
}

// "HH:MM", "HH:MM:SS" or "HH:MM:SS.fraction"; the fraction is dropped.
bool ParseClock(std::string_view t, Clock& c) {
    const std::size_t colon = t.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || t.size() < colon + 3)
        return false;
    c.hour = SmallNumber(t.substr(0, colon));
    c.minute = SmallNumber(t.substr(colon + 1, 2));
    c.second = 0;
    std::string_view rest = t.substr(colon + 3);
    c.hasSeconds = !rest.empty();
    if (c.hasSeconds) {
        if (rest.size() < 3 || rest[0] != ':')
            return false;
        c.second = SmallNumber(rest.substr(1, 2));
        rest = rest.substr(3);
        if (!rest.empty() && (rest[0] != '.' || !AllDigits(rest.substr(1))))
            return false;
    }
    return c.hour >= 0 && c.hour < 24 && c.minute >= 0 && c.minute < 60 && c.second >= 0 &&
           c.second < 61;
}

// ---- Unix ls -l ----

// Character classes of the mode column, looked up instead of searched.
struct ModeTable {
    bool type[256] = {};
    bool perm[256] = {};
    constexpr ModeTable() {
        for (const char* p = "-dlbcpsDn"; *p; ++p)
            type[static_cast<unsigned char>(*p)] = true;
        for (const char* p = "rwxsStTlL-"; *p; ++p)
            perm[static_cast<unsigned char>(*p)] = true;
    }
};
constexpr ModeTable kMode;

bool IsUnixMode(std::string_view t) {
    if (t.size() < 10 || !kMode.type[static_cast<unsigned char>(t[0])])
        return false;
    bool ok = true;
    for (int i = 1; i < 10; ++i)
        ok &= kMode.perm[static_cast<unsigned char>(t[i])];
    return ok;
}

// The size column of ls: a number, or "major, minor" / "major,minor" of a device.
bool ParseUnixSize(std::string_view token, std::string_view before, std::uint64_t& size) {
    if (ToNumber(token, size)) {
        if (before.size() > 1 && before.back() == ',' && IsDigit(before.front()))
            size = 0; // "major, minor" of a device
        return true;
    }
    const std::size_t comma = token.find(',');
    std::uint64_t major = 0;
    std::uint64_t minor = 0;
    if (comma != std::string_view::npos && ToNumber(token.substr(0, comma), major) &&
        ToNumber(token.substr(comma + 1), minor)) {
        size = 0;
        return true;
    }
    return false;
}

// What a date column turned out to be: not a date at all (look further along the
// line), a date that cannot be (refuse the line), or a date.
enum class DateRead { None, Bad, Ok };

struct When {
    std::int64_t time = 0;
    bool dateOnly = false;
};

DateRead Result(bool ok) {
    return ok ? DateRead::Ok : DateRead::Bad;
}

// A date with a time but no year lies within the last six months: this year, or
// the year before when it would be more than a day ahead of now (or does not exist
// this year, as Feb 29).
bool RecentTime(int month, int day, const Clock& c, const Now& now, When& when) {
    if (ValidDate(now.year, month, day)) {
        when.time = At(now.year, month, day, c);
        if (when.time <= now.utc + 86400)
            return true;
    }
    if (!ValidDate(now.year - 1, month, day))
        return false;
    when.time = At(now.year - 1, month, day, c);
    return true;
}

// The third column of "Mar 7 1998" / "Mar 7 09:05": a year or a time.
DateRead YearOrTime(std::string_view t, int month, int day, const Now& now, When& when) {
    Clock c;
    if (t.size() == 4 && IsDigit(t[0]) && t.find(':') == std::string_view::npos) {
        const int year = SmallNumber(t);
        when = When{ToUnixTime(year, month, day), true};
        return Result(ValidDate(year, month, day));
    }
    if (!ParseClock(t, c))
        return DateRead::None;
    return Result(RecentTime(month, day, c, now, when));
}

DateRead MonthFirst(int month, Tokenizer& tok, const Now& now, When& when) {
    std::string_view dayText;
    std::string_view third;
    if (!tok.Next(dayText) || !tok.Next(third))
        return DateRead::None;
    const int day = SmallNumber(dayText);
    if (day < 1 || day > 31)
        return DateRead::None;
    return YearOrTime(third, month, day, now, when);
}

// "7 Mar 1998", as some servers in Europe write it.
DateRead DayFirst(std::string_view first, Tokenizer& tok, const Now& now, When& when) {
    std::string_view monthText;
    std::string_view third;
    const int day = SmallNumber(first);
    if (day < 1 || day > 31 || !tok.Next(monthText))
        return DateRead::None;
    const int month = MonthFromName(monthText);
    if (month == 0 || !tok.Next(third))
        return DateRead::None;
    return YearOrTime(third, month, day, now, when);
}

// "+0100" / "-0530" after a full-iso time: the offset east of UTC in seconds.
bool ParseZone(std::string_view t, int& offset) {
    if (t.size() != 5 || (t[0] != '+' && t[0] != '-'))
        return false;
    const int hours = SmallNumber(t.substr(1, 2));
    const int minutes = SmallNumber(t.substr(3, 2));
    if (hours < 0 || hours > 18 || minutes < 0 || minutes > 59)
        return false;
    offset = (t[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    return true;
}

// "2020-01-01 12:00", "2020-01-01 12:00:30.123456789 +0100" or, from the "iso"
// style for older files, "2019-01-01" alone.
DateRead IsoDate(std::string_view first, Tokenizer& tok, When& when) {
    const int year = SmallNumber(first.substr(0, 4));
    const int month = SmallNumber(first.substr(5, 2));
    const int day = SmallNumber(first.substr(8, 2));
    if (year < 0 || month < 0 || day < 0)
        return DateRead::None;
    if (!ValidDate(year, month, day))
        return DateRead::Bad;
    Tokenizer ahead = tok;
    std::string_view t;
    Clock c;
    if (!ahead.Next(t) || !ParseClock(t, c)) {
        // "24:00" is a broken time, not the first word of a name.
        if (t.size() > 2 && IsDigit(t[0]) && (t[1] == ':' || t[2] == ':'))
            return DateRead::Bad;
        when = When{ToUnixTime(year, month, day), true};
        return DateRead::Ok;
    }
    tok = ahead;
    when = When{At(year, month, day, c), false};
    int offset = 0;
    if (c.hasSeconds && ahead.Next(t) && ParseZone(t, offset) && ahead.Rest().size() > 1) {
        tok = ahead;
        when.time -= offset;
    }
    return DateRead::Ok;
}

// "01-31 12:00" of the "iso" style for recent files.
DateRead IsoRecent(std::string_view first, Tokenizer& tok, const Now& now, When& when) {
    const int month = SmallNumber(first.substr(0, 2));
    const int day = SmallNumber(first.substr(3, 2));
    std::string_view t;
    Clock c;
    if (month < 0 || day < 0 || !tok.Next(t) || !ParseClock(t, c))
        return DateRead::None;
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return DateRead::Bad;
    return Result(RecentTime(month, day, c, now, when));
}

// Reads a date that begins with the token first; tok stands after first and, on
// success, after the date's last token.
DateRead UnixDate(std::string_view first, Tokenizer& tok, const Now& now, When& when) {
    if (const int month = MonthFromName(first))
        return MonthFirst(month, tok, now, when);
    if (!IsDigit(first[0]))
        return DateRead::None;
    if (first.size() == 10 && first[4] == '-' && first[7] == '-')
        return IsoDate(first, tok, when);
    if (first.size() == 5 && first[2] == '-')
        return IsoRecent(first, tok, now, when);
    if (first.size() <= 2)
        return DayFirst(first, tok, now, when);
    return DateRead::None;
}

void SetUnixName(char kind, std::string_view name, RawEntry& e) {
    // A link's listing says nothing sure about its target ("-> x/" is only a
    // name), so it is never taken for a folder here.
    if (kind == 'l') {
        const std::size_t arrow = name.find(" -> ");
        if (arrow != std::string_view::npos) {
            e.target = name.substr(arrow + 4);
            name = name.substr(0, arrow);
        }
    }
    e.name = name;
    e.isFolder = kind == 'd';
    e.isLink = kind == 'l';
}

// The name after a date that began with the token first.
bool TakeUnixName(char kind, std::string_view first, const Tokenizer& ahead, const When& when,
                  std::uint64_t size, RawEntry& e) {
    std::string_view name = NameAfter(ahead);
    // The "iso" style pads a date without a time to the width of one with it.
    if (when.dateOnly && name.size() > 1 && IsBlank(name[0]) && first.size() == 10)
        name = name.substr(1);
    if (name.empty())
        return false;
    SetUnixName(kind, name, e);
    e.dateOnly = when.dateOnly;
    e.size = size;
    e.time = when.time;
    return true;
}

bool ParseUnix(std::string_view line, const Now& now, RawEntry& e) {
    Tokenizer tok(line);
    std::string_view mode;
    if (!tok.Next(mode) || !IsUnixMode(mode))
        return false;
    // The date follows the size column; owner, group and link count before them
    // come and go between servers, so the date is found by its shape. Only the two
    // columns before the one looked at are kept: the size and what precedes it.
    std::string_view before;
    std::string_view previous = mode;
    std::string_view token;
    for (int column = 1; column < 10 && tok.Next(token); ++column) {
        if (column >= 2) {
            Tokenizer ahead = tok;
            When when;
            const DateRead read = UnixDate(token, ahead, now, when);
            std::uint64_t size = 0;
            if (read != DateRead::None && ParseUnixSize(previous, before, size))
                return read == DateRead::Ok && TakeUnixName(mode[0], token, ahead, when, size, e);
        }
        before = previous;
        previous = token;
    }
    return false;
}

// ---- Windows / IIS / DOS ----

bool IsDateSeparator(char c) {
    return c == '-' || c == '/' || c == '.';
}

// "03-07-98", "03/07/1998", "15.03.2011" or "2011-03-15". Which of day and month
// comes first is told by the values where one is over 12, else by the custom of
// the clock and separator: the US writes month first with a 12-hour clock or "-",
// most of Europe day first with "." or "/" and a 24-hour clock.
bool ParseDosDate(std::string_view t, bool twelveHour, int& year, int& month, int& day) {
    if (t.size() == 10 && IsDateSeparator(t[4]) && t[7] == t[4]) {
        year = SmallNumber(t.substr(0, 4));
        month = SmallNumber(t.substr(5, 2));
        day = SmallNumber(t.substr(8, 2));
        return ValidDate(year, month, day);
    }
    if ((t.size() != 8 && t.size() != 10) || !IsDateSeparator(t[2]) || t[5] != t[2])
        return false;
    const int first = SmallNumber(t.substr(0, 2));
    const int second = SmallNumber(t.substr(3, 2));
    year = SmallNumber(t.substr(6));
    if (first < 0 || second < 0 || year < 0)
        return false;
    if (t.size() == 8)
        year += year < 70 ? 2000 : 1900;
    const bool dayFirst = first > 12 || (second <= 12 && !twelveHour && t[2] != '-');
    month = dayFirst ? second : first;
    day = dayFirst ? first : second;
    return ValidDate(year, month, day);
}

// "0" none, 'a' or 'p' for a trailing "AM"/"PM" (any case).
char Meridiem(std::string_view t) {
    if (t.size() < 2 || Lower(t.back()) != 'm')
        return 0;
    const char c = Lower(t[t.size() - 2]);
    return c == 'a' || c == 'p' ? c : 0;
}

// "09:05AM", "09:05 PM", "21:05" or "21:05:33".
bool ParseDosClock(Tokenizer& tok, std::string_view t, Clock& c, bool& twelveHour) {
    char half = Meridiem(t);
    if (half)
        t = t.substr(0, t.size() - 2);
    Tokenizer ahead = tok;
    std::string_view next;
    if (!half && ahead.Next(next) && next.size() == 2 && Meridiem(next)) {
        half = Meridiem(next);
        tok = ahead;
    }
    if (!ParseClock(t, c))
        return false;
    twelveHour = half != 0;
    if (half) {
        if (c.hour < 1 || c.hour > 12)
            return false;
        c.hour = c.hour % 12 + (half == 'p' ? 12 : 0);
    }
    return true;
}

// "<DIR>", "<JUNCTION>", "<SYMLINKD>", "<SYMLINK>" or a size.
bool ParseDosSize(std::string_view t, RawEntry& e) {
    e.size = 0;
    e.isFolder = t == "<DIR>" || t == "<dir>" || t == "<JUNCTION>" || t == "<SYMLINKD>";
    e.isLink = t == "<JUNCTION>" || t == "<SYMLINKD>" || t == "<SYMLINK>";
    return e.isFolder || e.isLink || ToGroupedNumber(t, e.size);
}

bool ParseDos(std::string_view line, RawEntry& e) {
    Tokenizer tok(line);
    std::string_view date;
    std::string_view clock;
    std::string_view sizeText;
    Clock c;
    bool twelveHour = false;
    int year = 0;
    int month = 0;
    int day = 0;
    if (!tok.Next(date) || !tok.Next(clock) || !ParseDosClock(tok, clock, c, twelveHour) ||
        !ParseDosDate(date, twelveHour, year, month, day) || !tok.Next(sizeText) ||
        !ParseDosSize(sizeText, e))
        return false;
    std::string_view name = tok.Rest();
    while (!name.empty() && IsBlank(name[0]))
        name = name.substr(1);
    // "name [target]" of a link: the target is not part of the name.
    const std::size_t bracket = name.rfind(" [");
    if (e.isLink && bracket != std::string_view::npos && name.back() == ']') {
        e.target = name.substr(bracket + 2, name.size() - bracket - 3);
        name = name.substr(0, bracket);
    }
    e.name = name;
    e.time = At(year, month, day, c);
    return !name.empty();
}

// ---- VMS / MultiNet ----

// "NAME.EXT;12": the name and its version.
bool SplitVmsName(std::string_view t, std::string_view& name, std::uint32_t& version) {
    const std::size_t semi = t.rfind(';');
    if (semi == std::string_view::npos || semi == 0 || t.size() - semi > 6 ||
        !AllDigits(t.substr(semi + 1)))
        return false;
    version = std::uint32_t(SmallNumber(t.substr(semi + 1, 4)));
    if (t.size() - semi == 6)
        version = version * 10 + std::uint32_t(t.back() - '0');
    name = t.substr(0, semi);
    return version > 0;
}

// "17-MAR-2011" (day with one or two digits).
bool ParseVmsDate(std::string_view t, int& year, int& month, int& day) {
    const std::size_t dash = t.find('-');
    if (dash == 0 || dash > 2 || t.size() != dash + 9 || t[dash + 4] != '-')
        return false;
    day = SmallNumber(t.substr(0, dash));
    month = MonthFromName(t.substr(dash + 1, 3));
    year = SmallNumber(t.substr(dash + 5));
    return month != 0 && ValidDate(year, month, day);
}

// "4/9" (used/allocated) or "4": blocks of 512 bytes.
bool ParseVmsBlocks(std::string_view t, std::uint64_t& bytes) {
    const std::string_view used = t.substr(0, t.find('/'));
    std::uint64_t blocks = 0;
    std::uint64_t allocated = 0;
    if (!ToNumber(used, blocks) || blocks > UINT64_MAX / 512)
        return false;
    if (used.size() != t.size() && !ToNumber(t.substr(used.size() + 1), allocated))
        return false;
    bytes = blocks * 512;
    return true;
}

bool EndsWithDir(std::string_view name) {
    return name.size() > 4 && name[name.size() - 4] == '.' && Lower(name[name.size() - 3]) == 'd' &&
           Lower(name[name.size() - 2]) == 'i' && Lower(name[name.size() - 1]) == 'r';
}

// "NAME.EXT;1  4/9  17-MAR-2011 10:05:12  [GROUP,OWNER]  (RWED,RWED,RE,)". The
// owner and protection columns vary between servers and are not needed.
bool ParseVms(std::string_view line, RawEntry& e) {
    Tokenizer tok(line);
    std::string_view token;
    int year = 0;
    int month = 0;
    int day = 0;
    e = RawEntry();
    if (!tok.Next(token) || !SplitVmsName(token, e.name, e.version) || !tok.Next(token))
        return false;
    if (ParseVmsBlocks(token, e.size) && !tok.Next(token))
        return false;
    if (!ParseVmsDate(token, year, month, day))
        return false;
    Clock c;
    e.dateOnly = !(tok.Next(token) && ParseClock(token, c));
    e.time = e.dateOnly ? ToUnixTime(year, month, day) : At(year, month, day, c);
    // Folders are files "NAME.DIR"; their name without it is what CWD takes.
    e.isFolder = EndsWithDir(e.name);
    if (e.isFolder)
        e.name = e.name.substr(0, e.name.size() - 4);
    return true;
}

// A line holding nothing but "NAME.EXT;1": its columns follow on the next line.
bool IsLoneVmsName(std::string_view line) {
    Tokenizer tok(line);
    std::string_view token;
    std::string_view name;
    std::uint32_t version = 0;
    return tok.Next(token) && SplitVmsName(token, name, version) && !tok.Next(token);
}

// ---- EPLF ----

// "+i8388621.29609,m824255902,/,\tname": "/" a folder, "r" a file, "s" the size,
// "m" the time in seconds since 1970 UTC, "i" an identifier unique on the server.
bool ParseEplf(std::string_view line, RawEntry& e) {
    const std::size_t tab = line.find('\t');
    if (line.empty() || line[0] != '+' || tab == std::string_view::npos)
        return false;
    std::string_view facts = line.substr(1, tab - 1);
    while (!facts.empty()) {
        const std::size_t comma = facts.find(',');
        const std::string_view fact = facts.substr(0, comma);
        facts = comma == std::string_view::npos ? std::string_view() : facts.substr(comma + 1);
        if (fact.empty())
            continue;
        std::uint64_t value = 0;
        if (fact == "/")
            e.isFolder = true;
        else if (fact[0] == 's' && ToNumber(fact.substr(1), value))
            e.size = value;
        else if (fact[0] == 'm' && ToNumber(fact.substr(1), value) && value < (1ull << 62))
            e.time = std::int64_t(value);
        else if (fact[0] == 'i' && fact.size() > 1)
            e.unique = fact.substr(1);
    }
    e.name = line.substr(tab + 1);
    return true;
}

// ---- MLSD ----

bool FactIs(std::string_view name, const char* expected) {
    const std::size_t n = std::strlen(expected);
    if (name.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (Lower(name[i]) != expected[i])
            return false;
    return true;
}

// MLSD "modify" values: YYYYMMDDHHMMSS with an optional ".fraction", UTC.
bool ParseFactTime(std::string_view v, std::int64_t& t) {
    if (v.size() < 14 || !AllDigits(v.substr(0, 14)))
        return false;
    if (v.size() > 14 && (v[14] != '.' || !AllDigits(v.substr(15))))
        return false;
    const int year = SmallNumber(v.substr(0, 4));
    const int month = SmallNumber(v.substr(4, 2));
    const int day = SmallNumber(v.substr(6, 2));
    const int hour = SmallNumber(v.substr(8, 2));
    const int minute = SmallNumber(v.substr(10, 2));
    const int second = SmallNumber(v.substr(12, 2));
    if (!ValidDate(year, month, day) || hour > 23 || minute > 59 || second > 60)
        return false;
    t = ToUnixTime(year, month, day, hour, minute, second);
    return true;
}

// "OS.unix=slink", "OS.unix=slink:/target", "OS.unix=symlink" and the like.
bool IsLinkType(std::string_view value) {
    const std::size_t eq = value.find('=');
    if (eq == std::string_view::npos || !FactIs(value.substr(0, eq), "os.unix"))
        return false;
    std::string_view kind = value.substr(eq + 1);
    kind = kind.substr(0, kind.find(':'));
    return FactIs(kind, "slink") || FactIs(kind, "symlink");
}

// An octal unix.mode with the file-type bits of a symbolic link (0120000).
bool IsLinkMode(std::string_view value) {
    std::uint64_t mode = 0;
    for (char c : value) {
        if (c < '0' || c > '7')
            return false;
        mode = mode * 8 + std::uint64_t(c - '0');
        if (mode > 07777777)
            return false;
    }
    return (mode & 0170000) == 0120000;
}

void ApplyType(std::string_view value, RawEntry& e, MlsdType& type) {
    if (FactIs(value, "dir"))
        type = MlsdType::Folder;
    else if (FactIs(value, "cdir"))
        type = MlsdType::ThisFolder;
    else if (FactIs(value, "pdir"))
        type = MlsdType::ParentFolder;
    else if (IsLinkType(value))
        e.isLink = true;
}

void ApplyFact(std::string_view key, std::string_view value, RawEntry& e, MlsdType& type) {
    if (FactIs(key, "type")) {
        ApplyType(value, e, type);
    } else if (FactIs(key, "unix.mode")) {
        e.isLink = e.isLink || IsLinkMode(value);
    } else if (FactIs(key, "unique")) {
        e.unique = value;
    } else if (FactIs(key, "size") || FactIs(key, "sizd")) {
        std::uint64_t size = 0;
        if (ToNumber(value, size))
            e.size = size;
    } else if (FactIs(key, "modify")) {
        ParseFactTime(value, e.time);
    }
}

// Facts come in any order and case, each "name=value;" (the last ";" may be
// missing); facts without "=" carry nothing and are passed over.
bool ParseMlsdRaw(std::string_view line, RawEntry& e, MlsdType& type) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return false;
    std::string_view facts = line.substr(0, space);
    e = RawEntry();
    type = MlsdType::File;
    while (!facts.empty()) {
        const std::size_t semi = facts.find(';');
        const std::string_view fact = facts.substr(0, semi);
        facts = semi == std::string_view::npos ? std::string_view() : facts.substr(semi + 1);
        const std::size_t eq = fact.find('=');
        if (eq != std::string_view::npos)
            ApplyFact(fact.substr(0, eq), fact.substr(eq + 1), e, type);
    }
    e.isFolder = type != MlsdType::File;
    e.name = line.substr(space + 1);
    return true;
}

// ---- Delivery ----

// Bytes a delivered name may not hold: "/" would reach outside the folder, and
// control characters (C0 and DEL) would reach file names on disk and terminals.
struct NameByteTable {
    bool bad[256] = {};
    constexpr NameByteTable() {
        for (int c = 0; c < 0x20; ++c)
            bad[c] = true;
        bad[0x7f] = true;
        bad[static_cast<unsigned char>('/')] = true;
    }
};
constexpr NameByteTable kNameByte;

// "." and ".." name this folder and its parent, never an entry of it.
bool IsDeliverable(std::string_view name) {
    return IsUsableName(name) && name != "." && name != "..";
}

void Fill(const RawEntry& raw, FtpListEntry& entry) {
    // A name that is not UTF-8 is shown in Windows-1252 and keeps its bytes, so
    // that commands about it can send them back unchanged.
    entry.name = names::Decode(raw.name);
    if (names::IsUtf8(raw.name))
        entry.rawName.clear();
    else
        entry.rawName.assign(raw.name.data(), raw.name.size());
    entry.isFolder = raw.isFolder;
    entry.size = raw.size;
    entry.lastWriteTime = raw.time;
    entry.isLink = raw.isLink;
    entry.dateOnly = raw.dateOnly;
    entry.linkTarget = names::Decode(raw.target);
    entry.unique.assign(raw.unique.data(), raw.unique.size());
}

bool ParseListRaw(std::string_view line, const Now& now, RawEntry& raw) {
    if (line.empty())
        return false;
    raw = RawEntry();
    bool ok = false;
    if (line[0] == '+')
        ok = ParseEplf(line, raw);
    else if (IsDigit(line[0]))
        ok = ParseDos(line, raw) || ParseVms(line, raw);
    else
        ok = ParseUnix(line, now, raw) || ParseVms(line, raw);
    return ok && IsDeliverable(raw.name);
}

// Gathers the entries of one LIST output. Every line stands alone except on VMS,
// where a long name takes a line of its own with its columns on the next, and a
// file kept in several versions is listed once per version: only its highest
// version is delivered, once, at the place of the first line that named it.
class ListCollector {
public:
    ListCollector(const Now& now, std::vector<FtpListEntry>& out) : m_now(now), m_out(out) {}

    void Line(std::string_view line) {
        if (!m_pending.empty() && JoinPending(line))
            return;
        m_pending = {};
        RawEntry raw;
        if (ParseListRaw(line, m_now, raw))
            Add(raw);
        else if (IsLoneVmsName(line))
            m_pending = line;
    }

private:
    bool JoinPending(std::string_view line) {
        if (line.empty() || !IsBlank(line[0]))
            return false;
        m_joined.assign(m_pending);
        m_joined.append(line);
        m_pending = {};
        RawEntry raw;
        if (!ParseVms(m_joined, raw) || !IsDeliverable(raw.name))
            return false;
        Add(raw);
        return true;
    }

    void Add(const RawEntry& raw) {
        if (raw.version == 0) {
            Fill(raw, m_out.emplace_back());
            return;
        }
        auto [it, added] = m_versions.try_emplace(std::string(raw.name), m_out.size(), 0);
        if (added)
            m_out.emplace_back();
        if (raw.version > it->second.second) {
            it->second.second = raw.version;
            Fill(raw, m_out[it->second.first]);
        }
    }

    Now m_now;
    std::vector<FtpListEntry>& m_out;
    std::string_view m_pending;
    std::string m_joined;
    std::unordered_map<std::string, std::pair<std::size_t, std::uint32_t>> m_versions;
};

// Calls f for each line of text without its line end.
template <class F> void ForEachLine(std::string_view text, F&& f) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const void* nl = std::memchr(text.data() + pos, '\n', text.size() - pos);
        const std::size_t end =
            nl ? std::size_t(static_cast<const char*>(nl) - text.data()) : text.size();
        std::size_t len = end - pos;
        if (len > 0 && text[pos + len - 1] == '\r')
            --len;
        f(text.substr(pos, len));
        pos = end + 1;
    }
}

} // namespace

std::int64_t ToUnixTime(int year, int month, int day, int hour, int minute, int second) {
    // Days from civil (Howard Hinnant's algorithm): no time zone, no library call.
    const std::int64_t y = std::int64_t(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = month > 2 ? month - 3 : month + 9;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

bool IsUsableName(std::string_view name) {
    if (name.empty())
        return false;
    bool bad = false;
    for (char c : name)
        bad |= kNameByte.bad[static_cast<unsigned char>(c)];
    return !bad;
}

bool ParseListLine(std::string_view line, std::int64_t nowUtc, FtpListEntry& entry) {
    RawEntry raw;
    if (!ParseListRaw(line, Now{nowUtc, YearOf(nowUtc)}, raw))
        return false;
    Fill(raw, entry);
    return true;
}

void ParseList(std::string_view text, std::int64_t nowUtc, std::vector<FtpListEntry>& out) {
    ListCollector collector(Now{nowUtc, YearOf(nowUtc)}, out);
    ForEachLine(text, [&](std::string_view line) { collector.Line(line); });
}

bool ParseMlsdLine(std::string_view line, FtpListEntry& entry, MlsdType* type) {
    RawEntry raw;
    MlsdType t = MlsdType::File;
    if (!ParseMlsdRaw(line, raw, t) || !IsUsableName(raw.name))
        return false;
    if (type)
        *type = t;
    Fill(raw, entry);
    return true;
}

void ParseMlsd(std::string_view text, std::vector<FtpListEntry>& out) {
    RawEntry raw;
    MlsdType type = MlsdType::File;
    ForEachLine(text, [&](std::string_view line) {
        if (ParseMlsdRaw(line, raw, type) && type != MlsdType::ThisFolder &&
            type != MlsdType::ParentFolder && IsDeliverable(raw.name))
            Fill(raw, out.emplace_back());
    });
}

} // namespace listing
