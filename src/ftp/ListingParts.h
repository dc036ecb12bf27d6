#pragma once

// The pieces the listing parser's formats share: what a line yields before
// anything is allocated for it, the tokenizer, numbers, clocks and dates. Only
// the parser's own files include this.

#include <cstdint>
#include <string_view>

#include "ListingParser.h"

namespace listing::parts {

// How a numeric date with two fields of 12 or less is to be read. A listing keeps
// one order, so a line that shows it (a first field over 12) decides for the rest.
enum class Order : std::uint8_t { Unknown, MonthFirst, DayFirst };

// A time of day as listings write it.
struct Clock {
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool hasSeconds = false;
};

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
    // A date read month first that could as well be day first; the listing may
    // turn it round. evidence: what this line's own date proved.
    bool swappable = false;
    Order evidence = Order::Unknown;
    int year = 0;
    int first = 0;
    int second = 0;
    Clock clock;
};

// "Now" of the year rule, with its year worked out once per listing.
struct Now {
    std::int64_t utc;
    int year;
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

inline bool AllDigits(std::string_view s) {
    for (char c : s)
        if (!IsDigit(c))
            return false;
    return !s.empty();
}

// Digits only, no overflow: the value; anything else: false.
bool ToNumber(std::string_view s, std::uint64_t& value);

// Up to four digits; -1 for anything else.
inline int SmallNumber(std::string_view s) {
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

// "33.5k", "1.2M", "3G", "12KB": binary units, as "ls -lh" and some servers write
// them; a plain number is taken as it stands.
bool ToSizeWithUnit(std::string_view s, std::uint64_t& value);

// A date that exists: Feb 31 is refused rather than rolled over into March.
bool ValidDate(int year, int month, int day);
int YearOf(std::int64_t t);

inline std::int64_t At(int year, int month, int day, const Clock& c) {
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
inline std::string_view NameAfter(const Tokenizer& tok) {
    const std::string_view rest = tok.Rest();
    return rest.size() > 1 ? rest.substr(1) : std::string_view();
}

// The name of formats that pad their last column: every leading blank goes.
inline std::string_view PaddedNameAfter(const Tokenizer& tok) {
    std::string_view rest = tok.Rest();
    while (!rest.empty() && IsBlank(rest[0]))
        rest.remove_prefix(1);
    return rest;
}

// "HH:MM", "HH:MM:SS" or "HH:MM:SS.fraction"; the fraction is dropped.
bool ParseClock(std::string_view t, Clock& c);

// Whole month names, without accents; an abbreviation is a beginning of one.
inline constexpr const char* kMonthNames[12] = {
    "january januar janvier enero gennaio januari janeiro",
    "february februar fevrier febrero febbraio februari fevereiro",
    "march marz mars marzo maart marco mrz mrt",
    "april avril abril aprile",
    "may mai mayo maggio mei maio maj",
    "june juni juin junio giugno junho",
    "july juli juillet julio luglio julho",
    "august aout agosto augustus augusti",
    "september septembre septiembre settembre setembro",
    "october oktober octobre octubre ottobre outubro",
    "november novembre noviembre novembro",
    "december dezember decembre diciembre dicembre dezembro",
};

// Which pairs of first letters begin one of those names: most tokens looked at
// for a date are owners, groups and sizes, refused here without a call.
struct MonthStarts {
    std::uint32_t second[26] = {};
    constexpr MonthStarts() {
        for (const char* names : kMonthNames)
            for (const char* p = names; *p; ++p)
                if (p == names || p[-1] == ' ')
                    second[p[0] - 'a'] |= 1u << (p[1] - 'a');
    }
    constexpr bool Has(char a, char b) const {
        return a >= 'a' && a <= 'z' && b >= 'a' && b <= 'z' && (second[a - 'a'] >> (b - 'a') & 1u);
    }
};
inline constexpr MonthStarts kMonthStarts;

// A month's name in English or in one of the languages servers list in (German,
// French, Spanish, Italian, Dutch, Portuguese, Swedish), abbreviated or whole,
// with or without a trailing dot, accents in UTF-8 or Latin-1; "6月" and "6월"
// of Asian listings. 0 when it is none.
int LocalMonth(std::string_view s);

inline int MonthFromName(std::string_view s) {
    if (s.size() == 3 && s[0] >= 'A') {
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
            break;
        }
    }
    if (s.size() < 3)
        return 0;
    const char a = Lower(s[0]);
    const char b = Lower(s[1]);
    // Plain letters that begin no month's name; accents and digits are looked at.
    if (a >= 'a' && a <= 'z' && b >= 'a' && b <= 'z' && !kMonthStarts.Has(a, b))
        return 0;
    return LocalMonth(s);
}

// What a date column turned out to be: not a date at all (look further along the
// line), a date that cannot be (refuse the line), or a date.
enum class DateRead { None, Bad, Ok };

struct When {
    std::int64_t time = 0;
    bool dateOnly = false;
};

inline DateRead Result(bool ok) {
    return ok ? DateRead::Ok : DateRead::Bad;
}

// A date with a time but no year lies within the last six months.
bool RecentTime(int month, int day, const Clock& c, const Now& now, When& when);

// "Jun 7 2005", "Jun 7 12:30", "juin 7 2005", "6月 7日 2005", "7. Juni 12:30" and
// the like, starting at first; tok stands after first and, on success, after
// the date's last token.
DateRead NamedMonthDate(std::string_view first, Tokenizer& tok, const Now& now, When& when);

// "06/07/05", "07.06.2005", "2005/06/07", "2005-06-07", "2005年6月7日" as one
// token. The fields go to e when the order is open; false when first is no such
// date, bad when it is one that cannot be.
DateRead NumericDate(std::string_view first, RawEntry& e, int& year, int& month, int& day);

// Sets e's time from a numeric date read by NumericDate, with the clock.
void SetNumericTime(RawEntry& e, int year, int month, int day, const Clock& c, bool dateOnly);

// The formats, each on one line without its line end.
bool ParseUnix(std::string_view line, const Now& now, RawEntry& e);
bool ParseDos(std::string_view line, RawEntry& e);
bool ParseOs2(std::string_view line, RawEntry& e);
bool ParseVms(std::string_view line, RawEntry& e);
bool IsLoneVmsName(std::string_view line);
bool ParseEplf(std::string_view line, RawEntry& e);
bool ParseNetWare(std::string_view line, const Now& now, RawEntry& e);
bool ParseOs400(std::string_view line, RawEntry& e);
bool ParseNortel(std::string_view line, RawEntry& e);
bool ParseVxWorks(std::string_view line, RawEntry& e);
bool ParseOs9(std::string_view line, RawEntry& e);

} // namespace listing::parts
