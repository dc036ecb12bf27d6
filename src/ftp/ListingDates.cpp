// Numbers, clocks, month names and dates as the listing formats write them.
#include <cmath>

#include "ListingParts.h"

namespace listing::parts {

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

namespace {
int UnitPower(char c) {
    switch (Lower(c)) {
    case 'k':
        return 1;
    case 'm':
        return 2;
    case 'g':
        return 3;
    case 't':
        return 4;
    case 'p':
        return 5;
    default:
        return 0;
    }
}
} // namespace

bool ToSizeWithUnit(std::string_view s, std::uint64_t& value) {
    if (ToNumber(s, value))
        return true;
    // The unit, then "B" or "iB" after it.
    if (s.size() > 1 && Lower(s.back()) == 'b')
        s.remove_suffix(s.size() > 2 && Lower(s[s.size() - 2]) == 'i' ? 2 : 1);
    if (s.size() < 2 || UnitPower(s.back()) == 0)
        return false;
    const int power = UnitPower(s.back());
    s.remove_suffix(1);
    const std::size_t dot = s.find_first_of(".,");
    const std::string_view whole = s.substr(0, dot);
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
    std::uint64_t w = 0;
    std::uint64_t f = 0;
    if (whole.size() > 6 || !ToNumber(whole, w) || fraction.size() > 3 ||
        (dot != std::string_view::npos && !ToNumber(fraction, f)))
        return false;
    const double frac = double(f) / std::pow(10.0, double(fraction.size()));
    const double bytes = (double(w) + frac) * std::pow(1024.0, power) + 0.5;
    if (!(bytes < 18446744073709549568.0)) // the largest double below 2^64
        return false;
    value = std::uint64_t(bytes);
    return true;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

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

// ---- Month names ----

namespace {

// A letter of a month name folded to ASCII lower case, from ASCII, UTF-8 or
// Latin-1; 0 for anything else. n: the bytes it took.
char FoldLetter(std::string_view s, std::size_t& n) {
    const unsigned char c = static_cast<unsigned char>(s[0]);
    n = 1;
    if (c < 0x80)
        return (Lower(char(c)) >= 'a' && Lower(char(c)) <= 'z') ? Lower(char(c)) : 0;
    unsigned char latin = c;
    if (c == 0xC3 && s.size() > 1) {
        latin = static_cast<unsigned char>(s[1]) + 0x40;
        n = 2;
    }
    switch (latin | 0x20) {
    case 0xE0: // à
    case 0xE2: // â
    case 0xE4: // ä
        return 'a';
    case 0xE7:
        return 'c';
    case 0xE8:
    case 0xE9:
    case 0xEA:
        return 'e';
    case 0xF4:
    case 0xF6:
        return 'o';
    case 0xFB:
    case 0xFC:
        return 'u';
    default:
        return 0;
    }
}

// "6月" (Chinese, Japanese) or "6월" (Korean).
int AsianMonth(std::string_view s) {
    std::size_t digits = 0;
    while (digits < s.size() && digits < 2 && IsDigit(s[digits]))
        ++digits;
    const std::string_view mark = s.substr(digits);
    if (digits == 0 || (mark != "\xE6\x9C\x88" && mark != "\xEC\x9B\x94"))
        return 0;
    const int month = SmallNumber(s.substr(0, digits));
    return month >= 1 && month <= 12 ? month : 0;
}

// Every month name once, with its month, split at start-up.
struct MonthNames {
    struct Name {
        std::string_view text;
        int month;
    };
    Name names[80] = {};
    int count = 0;
    MonthNames() {
        for (int m = 0; m < 12; ++m) {
            std::string_view all = kMonthNames[m];
            while (!all.empty()) {
                const std::size_t space = all.find(' ');
                names[count++] = {all.substr(0, space), m + 1};
                all = space == std::string_view::npos ? std::string_view() : all.substr(space + 1);
            }
        }
    }
};

const MonthNames& Names() {
    static const MonthNames names;
    return names;
}

// The month whose names one begins with fold (at least three letters); 0 when
// none or more than one month would fit.
int MonthOfPrefix(std::string_view fold) {
    const MonthNames& all = Names();
    if (!kMonthStarts.Has(fold[0], fold[1]))
        return 0;
    int found = 0;
    for (int i = 0; i < all.count; ++i) {
        const MonthNames::Name& n = all.names[i];
        if (n.text.starts_with(fold)) {
            if (found && found != n.month)
                return 0;
            found = n.month;
        }
    }
    return found;
}

} // namespace

int LocalMonth(std::string_view s) {
    if (IsDigit(s[0]))
        return AsianMonth(s);
    if (s.back() == '.')
        s.remove_suffix(1);
    char fold[12];
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++n) {
        std::size_t took = 0;
        const char letter = FoldLetter(s.substr(i), took);
        if (!letter || n == sizeof fold)
            return 0;
        fold[n] = letter;
        i += took;
    }
    if (n < 3)
        return 0;
    return MonthOfPrefix(std::string_view(fold, n));
}

// ---- Dates ----

bool RecentTime(int month, int day, const Clock& c, const Now& now, When& when) {
    // This year, or the year before when it would be more than a day ahead of now
    // (or does not exist this year, as Feb 29).
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

namespace {

// "7", "07", "7." or "7日"/"7일": the day of a date with a month name.
int DayOf(std::string_view t) {
    if (t.size() > 1 && t.back() == '.')
        t.remove_suffix(1);
    else if (t.size() > 3 && (t.ends_with("\xE6\x97\xA5") || t.ends_with("\xEC\x9D\xBC")))
        t.remove_suffix(3);
    const int day = t.size() <= 2 ? SmallNumber(t) : -1;
    return day >= 1 && day <= 31 ? day : -1;
}

// The third column of "Mar 7 1998" / "Mar 7 09:05": a year or a time. A year may
// be followed by the time as well ("Mar 7 1998 09:05", as VShell writes it).
DateRead YearOrTime(std::string_view t, Tokenizer& tok, int month, int day, const Now& now,
                    When& when) {
    Clock c;
    if (t.size() == 4 && IsDigit(t[0]) && t.find(':') == std::string_view::npos) {
        const int year = SmallNumber(t);
        if (!ValidDate(year, month, day))
            return DateRead::Bad;
        Tokenizer ahead = tok;
        std::string_view next;
        if (ahead.Next(next) && ParseClock(next, c) && !ahead.Rest().empty()) {
            tok = ahead;
            when = When{At(year, month, day, c), false};
            return DateRead::Ok;
        }
        when = When{ToUnixTime(year, month, day), true};
        return DateRead::Ok;
    }
    if (!ParseClock(t, c))
        return DateRead::None;
    when.dateOnly = false;
    return Result(RecentTime(month, day, c, now, when));
}

} // namespace

DateRead NamedMonthDate(std::string_view first, Tokenizer& tok, const Now& now, When& when) {
    std::string_view second;
    std::string_view third;
    int month = MonthFromName(first);
    int day = 0;
    if (month) {
        if (!tok.Next(second) || (day = DayOf(second)) < 0)
            return DateRead::None;
    } else {
        // "7 Mar 1998" / "7. März 12:30", as some servers in Europe write it.
        if (!IsDigit(first[0]) || (day = DayOf(first)) < 0 || !tok.Next(second) ||
            (month = MonthFromName(second)) == 0)
            return DateRead::None;
    }
    if (!tok.Next(third))
        return DateRead::None;
    return YearOrTime(third, tok, month, day, now, when);
}

namespace {

bool IsDateSeparator(char c) {
    return c == '-' || c == '/' || c == '.';
}

// "2005年6月7日": fields between the marks of year, month and day.
bool AsianDate(std::string_view t, int& year, int& month, int& day) {
    const std::size_t y = t.find("\xE5\xB9\xB4");
    const std::size_t m = t.find("\xE6\x9C\x88");
    if (y != 4 || m == std::string_view::npos || m < 8 || !t.ends_with("\xE6\x97\xA5"))
        return false;
    year = SmallNumber(t.substr(0, 4));
    month = t.size() > m + 3 ? SmallNumber(t.substr(7, m - 7)) : -1;
    day = SmallNumber(t.substr(m + 3, t.size() - m - 6));
    return year >= 0 && month >= 0 && day >= 0;
}

int FullYear(int year, std::size_t digits) {
    return digits == 2 ? year + (year < 70 ? 2000 : 1900) : year;
}

} // namespace

DateRead NumericDate(std::string_view t, RawEntry& e, int& year, int& month, int& day) {
    if (t.size() < 5 || t.size() > 20 || !IsDigit(t[0]))
        return DateRead::None;
    if (t.size() > 10)
        return AsianDate(t, year, month, day) ? Result(ValidDate(year, month, day))
                                              : DateRead::None;
    const std::size_t s1 = t.find_first_of("-/.");
    const std::size_t s2 = s1 == std::string_view::npos ? s1 : t.find(t[s1], s1 + 1);
    if (s2 == std::string_view::npos || s1 == 0 || s2 == s1 + 1 || s2 + 1 == t.size() ||
        !IsDateSeparator(t[s1]))
        return DateRead::None;
    const std::string_view a = t.substr(0, s1);
    const std::string_view b = t.substr(s1 + 1, s2 - s1 - 1);
    const std::string_view c = t.substr(s2 + 1);
    const int va = SmallNumber(a);
    const int vb = SmallNumber(b);
    const int vc = SmallNumber(c);
    if (va < 0 || vb < 0 || vc < 0 || b.size() > 2)
        return DateRead::None;
    if (a.size() == 4) { // year first: 2005-06-07, 2005/06/07, 2005.06.07
        year = va;
        month = vb;
        day = c.size() <= 2 ? vc : -1;
        return Result(ValidDate(year, month, day));
    }
    if (a.size() > 2 || (c.size() != 2 && c.size() != 4))
        return DateRead::None;
    year = FullYear(vc, c.size());
    if (t[s1] == '.') { // 07.06.2005: day first wherever it is written so
        day = va;
        month = vb;
        return Result(ValidDate(year, month, day));
    }
    // 06/07/05 and 06-07-2005: month first unless the values or the listing say
    // otherwise.
    const bool dayFirst = va > 12 && vb <= 12;
    month = dayFirst ? vb : va;
    day = dayFirst ? va : vb;
    e.evidence = dayFirst ? Order::DayFirst : vb > 12 ? Order::MonthFirst : Order::Unknown;
    e.swappable = va <= 12 && vb <= 12 && va != vb;
    e.year = year;
    e.first = va;
    e.second = vb;
    return Result(ValidDate(year, month, day));
}

void SetNumericTime(RawEntry& e, int year, int month, int day, const Clock& c, bool dateOnly) {
    e.clock = dateOnly ? Clock() : c;
    e.dateOnly = dateOnly;
    e.time = At(year, month, day, e.clock);
}

} // namespace listing::parts
