#include "ListingParser.h"

#include <cstring>

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

// Digits only, no overflow: the value; anything else: false.
bool ToNumber(std::string_view s, std::uint64_t& value) {
    if (s.empty() || s.size() > 20)
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
    std::size_t Position() const { return m_pos; }

private:
    std::string_view m_line;
    std::size_t m_pos = 0;
};

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

// "HH:MM" (or "HH:MM:SS"): hour and minute; false otherwise.
bool ParseClock(std::string_view t, int& hour, int& minute) {
    const std::size_t colon = t.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2)
        return false;
    hour = SmallNumber(t.substr(0, colon));
    std::string_view rest = t.substr(colon + 1);
    if (rest.size() == 5 && rest[2] == ':')
        rest = rest.substr(0, 2);
    minute = rest.size() == 2 ? SmallNumber(rest) : -1;
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60;
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

bool ParseUnix(std::string_view line, std::int64_t nowUtc, int nowYear, RawEntry& e) {
    Tokenizer tok(line);
    std::string_view tokens[10];
    if (!tok.Next(tokens[0]) || !IsUnixMode(tokens[0]))
        return false;
    const char kind = tokens[0][0];
    int count = 1;
    // The month column follows the size column; owner, group and link count before
    // them come and go between servers, so the date is found by its shape.
    while (count < 10 && tok.Next(tokens[count])) {
        const int m = count;
        ++count;
        if (m < 2)
            continue;
        const int month = MonthFromName(tokens[m]);
        if (month == 0)
            continue;
        std::uint64_t size = 0;
        if (!ParseUnixSize(tokens[m - 1], tokens[m - 2], size))
            continue;
        Tokenizer ahead = tok;
        std::string_view dayText;
        std::string_view whenText;
        if (!ahead.Next(dayText) || !ahead.Next(whenText))
            return false;
        const int day = SmallNumber(dayText);
        if (day < 1 || day > 31)
            continue;
        int year = 0;
        int hour = 0;
        int minute = 0;
        if (whenText.size() == 4 && IsDigit(whenText[0]) && whenText.find(':') == whenText.npos)
            year = SmallNumber(whenText);
        else if (ParseClock(whenText, hour, minute))
            year = nowYear;
        else
            continue;
        if (!ValidDate(year, month, day))
            return false;
        std::int64_t t = ToUnixTime(year, month, day, hour, minute);
        if (whenText.find(':') != whenText.npos && t > nowUtc + 86400)
            t = ToUnixTime(year - 1, month, day, hour, minute);
        const std::size_t nameStart = ahead.Position() + 1;
        if (nameStart >= line.size())
            return false;
        std::string_view name = line.substr(nameStart);
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
        e.dateOnly = whenText.find(':') == whenText.npos;
        e.size = size;
        e.time = t;
        return true;
    }
    return false;
}

// "03-07-98  09:05AM  <DIR>  name" or "03-07-1998  21:05  1234 name".
bool ParseDos(std::string_view line, RawEntry& e) {
    Tokenizer tok(line);
    std::string_view date;
    std::string_view clock;
    std::string_view sizeText;
    if (!tok.Next(date) || !tok.Next(clock) || !tok.Next(sizeText))
        return false;
    if ((date.size() != 8 && date.size() != 10) || (date[2] != '-' && date[2] != '/') ||
        date[5] != date[2])
        return false;
    const int month = SmallNumber(date.substr(0, 2));
    const int day = SmallNumber(date.substr(3, 2));
    int year = SmallNumber(date.substr(6));
    if (date.size() == 8 && year >= 0)
        year += year < 70 ? 2000 : 1900;
    if (!ValidDate(year, month, day))
        return false;
    int hour = 0;
    int minute = 0;
    std::string_view hhmm = clock;
    const bool am =
        clock.size() > 2 && Lower(clock[clock.size() - 2]) == 'a' && Lower(clock.back()) == 'm';
    const bool pm =
        clock.size() > 2 && Lower(clock[clock.size() - 2]) == 'p' && Lower(clock.back()) == 'm';
    if (am || pm)
        hhmm = clock.substr(0, clock.size() - 2);
    if (!ParseClock(hhmm, hour, minute))
        return false;
    if (am || pm) {
        if (hour < 1 || hour > 12)
            return false;
        hour = hour % 12 + (pm ? 12 : 0);
    }
    std::uint64_t size = 0;
    bool folder = false;
    if (sizeText == "<DIR>" || sizeText == "<dir>")
        folder = true;
    else if (!ToNumber(sizeText, size))
        return false;
    std::size_t p = tok.Position();
    while (p < line.size() && IsBlank(line[p]))
        ++p;
    if (p >= line.size())
        return false;
    e.name = line.substr(p);
    e.isFolder = folder;
    e.size = size;
    e.time = ToUnixTime(year, month, day, hour, minute);
    return true;
}

// "+i8388621.29609,m824255902,/,\tname"
bool ParseEplf(std::string_view line, RawEntry& e) {
    const std::size_t tab = line.find('\t');
    if (line.empty() || line[0] != '+' || tab == std::string_view::npos)
        return false;
    std::string_view facts = line.substr(1, tab - 1);
    e = RawEntry();
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
    }
    e.name = line.substr(tab + 1);
    return true;
}

bool FactIs(std::string_view name, const char* expected) {
    const std::size_t n = std::strlen(expected);
    if (name.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (Lower(name[i]) != expected[i])
            return false;
    return true;
}

// MLSD "modify" (and "modify"-like) values: YYYYMMDDHHMMSS[.sss], UTC.
bool ParseFactTime(std::string_view v, std::int64_t& t) {
    if (v.size() < 14)
        return false;
    for (int i = 0; i < 14; ++i)
        if (!IsDigit(v[i]))
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
        if (eq == std::string_view::npos)
            continue;
        const std::string_view key = fact.substr(0, eq);
        const std::string_view value = fact.substr(eq + 1);
        if (FactIs(key, "type")) {
            if (FactIs(value, "dir"))
                type = MlsdType::Folder;
            else if (FactIs(value, "cdir"))
                type = MlsdType::ThisFolder;
            else if (FactIs(value, "pdir"))
                type = MlsdType::ParentFolder;
            else if (IsLinkType(value))
                e.isLink = true;
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
    e.isFolder = type != MlsdType::File;
    e.name = line.substr(space + 1);
    return true;
}

void Fill(const RawEntry& raw, FtpListEntry& entry) {
    entry.name = QString::fromUtf8(raw.name.data(), qsizetype(raw.name.size()));
    entry.isFolder = raw.isFolder;
    entry.size = raw.size;
    entry.lastWriteTime = raw.time;
    entry.isLink = raw.isLink;
    entry.dateOnly = raw.dateOnly;
    entry.linkTarget = QString::fromUtf8(raw.target.data(), qsizetype(raw.target.size()));
    entry.unique.assign(raw.unique.data(), raw.unique.size());
}

void Append(const RawEntry& raw, std::vector<FtpListEntry>& out) {
    Fill(raw, out.emplace_back());
}

bool ParseListRaw(std::string_view line, std::int64_t nowUtc, int nowYear, RawEntry& raw) {
    if (line.empty())
        return false;
    bool ok = false;
    if (line[0] == '+')
        ok = ParseEplf(line, raw);
    else if (IsDigit(line[0]))
        ok = ParseDos(line, raw);
    else
        ok = ParseUnix(line, nowUtc, nowYear, raw);
    return ok && IsUsableName(raw.name);
}

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
    // Control characters (C0 and DEL) would reach file names on disk and terminals.
    for (char c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

bool ParseListLine(std::string_view line, std::int64_t nowUtc, FtpListEntry& entry) {
    RawEntry raw;
    if (!ParseListRaw(line, nowUtc, YearOf(nowUtc), raw))
        return false;
    Fill(raw, entry);
    return true;
}

void ParseList(std::string_view text, std::int64_t nowUtc, std::vector<FtpListEntry>& out) {
    const int nowYear = YearOf(nowUtc);
    RawEntry raw;
    ForEachLine(text, [&](std::string_view line) {
        if (ParseListRaw(line, nowUtc, nowYear, raw))
            Append(raw, out);
    });
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
            type != MlsdType::ParentFolder && IsUsableName(raw.name))
            Append(raw, out);
    });
}

} // namespace listing
