// VMS and MultiNet lines: "NAME.EXT;1  4/9  17-MAR-2011 10:05:12  [GROUP,OWNER]
// (RWED,RWED,RE,)", with their columns in the orders the servers use.
#include "ListingParts.h"

namespace listing::parts {
namespace {

// "NAME.EXT;12": the name and its version. A device and folder before the name
// ("DISK$USER:[ME.SUB]NAME.EXT;1") say where it is, not what it is called.
bool SplitVmsName(std::string_view t, std::string_view& name, std::uint32_t& version) {
    const std::size_t semi = t.rfind(';');
    if (semi == std::string_view::npos || semi == 0 || t.size() - semi > 6 ||
        !AllDigits(t.substr(semi + 1)))
        return false;
    version = std::uint32_t(SmallNumber(t.substr(semi + 1, 4)));
    if (t.size() - semi == 6)
        version = version * 10 + std::uint32_t(t.back() - '0');
    name = t.substr(0, semi);
    const std::size_t where = name.find_last_of(":]>");
    if (where != std::string_view::npos)
        name.remove_prefix(where + 1);
    return version > 0 && !name.empty();
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

// The columns after the name, in whatever order: the blocks, the date and its
// time, "[owner]" and "(protection)" (either may hold blanks). Anything else
// before the date refuses the line ("%RMS-E-PRV, insufficient privilege").
struct VmsColumns {
    bool blocks = false;
    bool date = false;
    bool clock = false;
    int year = 0;
    int month = 0;
    int day = 0;
    Clock c;
};

bool TakeVmsColumn(std::string_view t, Tokenizer& tok, VmsColumns& v, RawEntry& e) {
    const char open = t[0];
    if (open == '[' || open == '(') {
        const char close = open == '[' ? ']' : ')';
        while (t.back() != close)
            if (!tok.Next(t))
                return false;
        return true;
    }
    if (!v.date && ParseVmsDate(t, v.year, v.month, v.day))
        return v.date = true;
    if (v.date && !v.clock && ParseClock(t, v.c))
        return v.clock = true;
    if (!v.blocks && ParseVmsBlocks(t, e.size))
        return v.blocks = true;
    return v.date; // trailing columns of other servers are passed over
}

} // namespace

bool ParseVms(std::string_view line, RawEntry& e) {
    Tokenizer tok(line);
    std::string_view token;
    e = RawEntry();
    if (!tok.Next(token) || !SplitVmsName(token, e.name, e.version) || !tok.Next(token))
        return false;
    VmsColumns v;
    do {
        if (!TakeVmsColumn(token, tok, v, e))
            return false;
    } while (tok.Next(token));
    if (!v.date)
        return false;
    e.dateOnly = !v.clock;
    e.time = At(v.year, v.month, v.day, v.clock ? v.c : Clock());
    // Folders are files "NAME.DIR"; their name without it is what CWD takes.
    e.isFolder = EndsWithDir(e.name);
    if (e.isFolder)
        e.name = e.name.substr(0, e.name.size() - 4);
    return true;
}

bool IsLoneVmsName(std::string_view line) {
    Tokenizer tok(line);
    std::string_view token;
    std::string_view name;
    std::uint32_t version = 0;
    return tok.Next(token) && SplitVmsName(token, name, version) && !tok.Next(token);
}

} // namespace listing::parts
