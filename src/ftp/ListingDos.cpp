// Windows and IIS lines ("03-07-98  09:05AM  <DIR>  name") and OS/2 lines
// ("  1234  A  12-04-98  16:06  name").
#include "ListingParts.h"

namespace listing::parts {
namespace {

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

} // namespace

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
    e = RawEntry();
    if (!tok.Next(date) || date.size() > 10 || !tok.Next(clock) ||
        !ParseDosClock(tok, clock, c, twelveHour) ||
        NumericDate(date, e, year, month, day) != DateRead::Ok || !tok.Next(sizeText) ||
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
    SetNumericTime(e, year, month, day, c, false);
    return !name.empty();
}

namespace {

// OS/2 writes its attributes between the size and the date: "DIR" for a folder,
// A, R, H and S (alone or together) for files.
bool IsOs2Attribute(std::string_view t, bool& folder) {
    if (t == "DIR") {
        folder = true;
        return true;
    }
    if (t.size() > 4)
        return false;
    for (char c : t)
        if (c != 'A' && c != 'R' && c != 'H' && c != 'S')
            return false;
    return true;
}

} // namespace

// "     0           DIR   12-04-98   16:06  Spaced Dir", "  1234  A  12-04-98  16:06  f.txt".
bool ParseOs2(std::string_view line, RawEntry& e) {
    Tokenizer tok(line);
    std::string_view t;
    e = RawEntry();
    if (!tok.Next(t) || !ToNumber(t, e.size) || !tok.Next(t))
        return false;
    for (int n = 0; n < 3 && IsOs2Attribute(t, e.isFolder); ++n)
        if (!tok.Next(t))
            return false;
    int year = 0;
    int month = 0;
    int day = 0;
    Clock c;
    if (t.size() != 8 || t[2] != '-' || NumericDate(t, e, year, month, day) != DateRead::Ok ||
        !tok.Next(t) || t.size() != 5 || !ParseClock(t, c))
        return false;
    SetNumericTime(e, year, month, day, c, false);
    e.name = PaddedNameAfter(tok);
    return !e.name.empty();
}

} // namespace listing::parts
