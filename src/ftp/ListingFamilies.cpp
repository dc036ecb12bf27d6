// The formats of the less common servers: EPLF, NetWare, IBM OS/400, Nortel's
// wfFtp, VxWorks and OS-9.
#include "ListingParts.h"

namespace listing::parts {

// "+i8388621.29609,m824255902,/,\tname": "/" a folder, "r" a file, "s" the size,
// "m" the time in seconds since 1970 UTC, "i" an identifier unique on the server.
bool ParseEplf(std::string_view line, RawEntry& e) {
    const std::size_t tab = line.find('\t');
    if (line.empty() || line[0] != '+' || tab == std::string_view::npos)
        return false;
    e = RawEntry();
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

namespace {

// "[RWCEAFMS]" or "[R----F--]": NetWare's rights.
bool IsNetWareRights(std::string_view t) {
    if (t.size() < 3 || t.front() != '[' || t.back() != ']')
        return false;
    for (char c : t.substr(1, t.size() - 2))
        if (c != '-' && (c < 'A' || c > 'Z'))
            return false;
    return true;
}

} // namespace

// "d [R----F--] supervisor            512       Jan 16 18:53    login".
bool ParseNetWare(std::string_view line, const Now& now, RawEntry& e) {
    Tokenizer tok(line);
    std::string_view t;
    e = RawEntry();
    if (!tok.Next(t) || t.size() != 1 || (t[0] != 'd' && t[0] != '-') || !tok.Next(t) ||
        !IsNetWareRights(t) || !tok.Next(t) || !tok.Next(t) || !ToNumber(t, e.size) || !tok.Next(t))
        return false;
    When when;
    if (NamedMonthDate(t, tok, now, when) != DateRead::Ok)
        return false;
    e.isFolder = line[0] == 'd';
    e.time = when.time;
    e.dateOnly = when.dateOnly;
    e.name = PaddedNameAfter(tok);
    return !e.name.empty();
}

namespace {

// "*FILE", "*MEM", "*DIR", "*STMF", "*LIB", "*FLR" and the other object types.
bool IsOs400Type(std::string_view t) {
    if (t.size() < 3 || t.size() > 10 || t[0] != '*')
        return false;
    for (char c : t.substr(1))
        if ((c < 'A' || c > 'Z') && !IsDigit(c))
            return false;
    return true;
}

// "15:09:55" or, with the separator of some server jobs, "15.09.55".
bool ParseOs400Clock(std::string_view t, Clock& c) {
    if (t.size() != 8 || t[2] != t[5] || (t[2] != ':' && t[2] != '.'))
        return false;
    char text[8];
    for (std::size_t i = 0; i < 8; ++i)
        text[i] = (i == 2 || i == 5) ? ':' : t[i];
    return ParseClock(std::string_view(text, 8), c);
}

bool IsOs400Folder(std::string_view type, std::string_view name) {
    // A file of the library file system holds members and is entered like a
    // folder; a save file elsewhere is a file to fetch.
    return type == "*DIR" || type == "*LIB" || type == "*FLR" || type == "*DDIR" ||
           (type == "*FILE" && (name.ends_with('/') || name.ends_with(".FILE")));
}

// The columns before the type: [owner] [size] [date time]; a member often has
// none of them.
bool TakeOs400Columns(const std::string_view* cols, int n, RawEntry& e) {
    int at = 0;
    if (at < n && !IsDigit(cols[at][0]))
        ++at; // the owner
    if (n - at == 3 || n - at == 1) {
        if (!ToNumber(cols[at], e.size))
            return false;
        ++at;
    }
    if (n - at == 0)
        return true;
    int year = 0;
    int month = 0;
    int day = 0;
    Clock c;
    if (n - at != 2 || NumericDate(cols[at], e, year, month, day) != DateRead::Ok ||
        !ParseOs400Clock(cols[at + 1], c))
        return false;
    SetNumericTime(e, year, month, day, c, false);
    return true;
}

} // namespace

// "QSYS           77824 02/23/00 15:09:55 *DIR       QSYS/",
// "                                      *MEM       QGPL/QCLSRC.FILE/UPDATE.MBR".
bool ParseOs400(std::string_view line, RawEntry& e) {
    Tokenizer tok(line);
    std::string_view cols[5];
    int n = 0;
    std::string_view t;
    e = RawEntry();
    while (tok.Next(t) && !IsOs400Type(t)) {
        if (n == 4)
            return false;
        cols[n++] = t;
    }
    if (!IsOs400Type(t) || !TakeOs400Columns(cols, n, e))
        return false;
    std::string_view name = PaddedNameAfter(tok);
    e.isFolder = IsOs400Folder(t, name);
    while (!name.empty() && name.back() == '/')
        name.remove_suffix(1);
    // A path names the object in its library or file; the entry is its last part.
    const std::size_t slash = name.rfind('/');
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    e.name = name;
    return !name.empty();
}

namespace {

// "Thur." and the other days of the week that Nortel's wfFtp writes.
bool IsWeekday(std::string_view t) {
    if (t.size() > 1 && t.back() == '.')
        t.remove_suffix(1);
    static constexpr std::string_view kDays[] = {"Sun", "Mon",  "Tue",   "Tues", "Wed",
                                                 "Thu", "Thur", "Thurs", "Fri",  "Sat"};
    for (std::string_view d : kDays)
        if (t == d)
            return true;
    return false;
}

} // namespace

// "nortel.wfftp       1014196  06/03/04  Thur.   10:20:03": the name comes first
// and holds no blank.
bool ParseNortel(std::string_view line, RawEntry& e) {
    Tokenizer tok(line);
    std::string_view name;
    std::string_view t;
    int year = 0;
    int month = 0;
    int day = 0;
    Clock c;
    e = RawEntry();
    if (line.empty() || IsBlank(line[0]) || !tok.Next(name) || !tok.Next(t) ||
        !ToNumber(t, e.size) || !tok.Next(t) ||
        NumericDate(t, e, year, month, day) != DateRead::Ok || !tok.Next(t) || !IsWeekday(t) ||
        !tok.Next(t) || !ParseClock(t, c) || !c.hasSeconds || tok.Next(t))
        return false;
    SetNumericTime(e, year, month, day, c, false);
    e.name = name;
    return true;
}

namespace {

// "Jun 23 2004" in three columns or "Feb-28-1998" in one.
bool ParseVxWorksDate(std::string_view t, Tokenizer& tok, int& year, int& month, int& day) {
    std::string_view dayText;
    std::string_view yearText;
    if (t.size() == 11 && t[3] == '-' && t[6] == '-') {
        dayText = t.substr(4, 2);
        yearText = t.substr(7);
        t = t.substr(0, 3);
    } else if (!tok.Next(dayText) || !tok.Next(yearText)) {
        return false;
    }
    month = MonthFromName(t);
    day = dayText.size() <= 2 ? SmallNumber(dayText) : -1;
    year = yearText.size() == 4 ? SmallNumber(yearText) : -1;
    return month != 0 && ValidDate(year, month, day);
}

} // namespace

// "    5060    Jun 23 2004 18:44:38  NC2-6.16", "512  Feb-28-1998  05:23:30  bin <DIR>".
bool ParseVxWorks(std::string_view line, RawEntry& e) {
    Tokenizer tok(line);
    std::string_view t;
    int year = 0;
    int month = 0;
    int day = 0;
    Clock c;
    e = RawEntry();
    if (!tok.Next(t) || !ToNumber(t, e.size) || !tok.Next(t) ||
        !ParseVxWorksDate(t, tok, year, month, day) || !tok.Next(t) || !ParseClock(t, c) ||
        !c.hasSeconds)
        return false;
    e.time = At(year, month, day, c);
    std::string_view name = PaddedNameAfter(tok);
    if (name.ends_with("<DIR>")) {
        e.isFolder = true;
        name.remove_suffix(5);
        while (!name.empty() && IsBlank(name.back()))
            name.remove_suffix(1);
    }
    e.name = name;
    return !name.empty();
}

namespace {

// "d-ewrewr": a folder mark, then the owner's and the others' rights.
bool IsOs9Attributes(std::string_view t) {
    if (t.size() != 8)
        return false;
    for (char c : t)
        if (c != '-' && c != 'd' && c != 's' && c != 'e' && c != 'w' && c != 'r')
            return false;
    return true;
}

bool IsHex(std::string_view t) {
    for (char c : t)
        if (!IsDigit(c) && (Lower(c) < 'a' || Lower(c) > 'f'))
            return false;
    return !t.empty();
}

} // namespace

// "  0.0     98/03/23 1427  d-----wr     24D2       1760 CMDS": owner (group.user),
// date (year first), time without a colon, attributes, sector, size, name.
bool ParseOs9(std::string_view line, RawEntry& e) {
    Tokenizer tok(line);
    std::string_view t;
    e = RawEntry();
    if (!tok.Next(t) || t.find('.') == std::string_view::npos || t.front() == '.' ||
        t.back() == '.' || !AllDigits(t.substr(0, t.find('.'))) ||
        !AllDigits(t.substr(t.find('.') + 1)) || !tok.Next(t) || t.size() != 8 || t[2] != '/' ||
        t[5] != '/')
        return false;
    const int year = SmallNumber(t.substr(0, 2));
    const int month = SmallNumber(t.substr(3, 2));
    const int day = SmallNumber(t.substr(6, 2));
    std::string_view hhmm;
    std::string_view attributes;
    std::string_view sector;
    std::string_view size;
    if (year < 0 || !ValidDate(year + (year < 70 ? 2000 : 1900), month, day) || !tok.Next(hhmm) ||
        hhmm.size() != 4 || !tok.Next(attributes) || !IsOs9Attributes(attributes) ||
        !tok.Next(sector) || !IsHex(sector) || !tok.Next(size) || !ToNumber(size, e.size))
        return false;
    const int hour = SmallNumber(hhmm.substr(0, 2));
    const int minute = SmallNumber(hhmm.substr(2));
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return false;
    e.time = ToUnixTime(year + (year < 70 ? 2000 : 1900), month, day, hour, minute);
    e.isFolder = attributes[0] == 'd';
    e.name = PaddedNameAfter(tok);
    return !e.name.empty();
}

} // namespace listing::parts
