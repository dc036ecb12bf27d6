// Unix "ls -l" lines in the forms servers send: with or without group, numeric
// owners, devices, ACL and xattr marks, month names in many languages and either
// order, numeric dates of every common style, sizes with units.
#include "ListingParts.h"

namespace listing::parts {
namespace {

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
    if (ToSizeWithUnit(token, size)) {
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

// "06/07/05 12:30", "07.06.2005", "2005/06/07" or "2005年6月7日", with or
// without a time after it.
DateRead NumericUnixDate(std::string_view first, Tokenizer& tok, RawEntry& e, When& when) {
    int year = 0;
    int month = 0;
    int day = 0;
    const DateRead read = NumericDate(first, e, year, month, day);
    if (read != DateRead::Ok)
        return read;
    Tokenizer ahead = tok;
    std::string_view t;
    Clock c;
    const bool timed = ahead.Next(t) && ParseClock(t, c);
    if (!timed && t.size() > 2 && IsDigit(t[0]) && (t[1] == ':' || t[2] == ':'))
        return DateRead::Bad;
    if (timed)
        tok = ahead;
    SetNumericTime(e, year, month, day, c, !timed);
    when = When{e.time, !timed};
    return DateRead::Ok;
}

// Reads a date that begins with the token first; tok stands after first and, on
// success, after the date's last token.
DateRead UnixDate(std::string_view first, Tokenizer& tok, const Now& now, RawEntry& e, When& when) {
    // A month or day of its own: "Jun", "7", "7.", "6月", "12월".
    if (!IsDigit(first[0]) || first.size() <= 3 ||
        (first.size() <= 5 && static_cast<unsigned char>(first.back()) >= 0x80))
        return NamedMonthDate(first, tok, now, when);
    if (first.size() == 10 && first[4] == '-' && first[7] == '-')
        return IsoDate(first, tok, when);
    if (first.size() == 5 && first[2] == '-')
        return IsoRecent(first, tok, now, when);
    return NumericUnixDate(first, tok, e, when);
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

// The size run into the group column when the size is wider than its column
// ("ftpusers123456789"): the digits at its end.
bool SizeAtEnd(std::string_view token, std::uint64_t& size) {
    std::size_t digits = 0;
    while (digits < token.size() && IsDigit(token[token.size() - 1 - digits]))
        ++digits;
    return digits > 0 && digits < token.size() &&
           ToNumber(token.substr(token.size() - digits), size);
}

} // namespace

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
            const DateRead read = UnixDate(token, ahead, now, e, when);
            std::uint64_t size = 0;
            if (read != DateRead::None && (ParseUnixSize(previous, before, size) ||
                                           (column >= 4 && SizeAtEnd(previous, size))))
                return read == DateRead::Ok && TakeUnixName(mode[0], token, ahead, when, size, e);
        }
        before = previous;
        previous = token;
    }
    return false;
}

} // namespace listing::parts
