#include "ListingParser.h"

#include "ListingParts.h"
#include "NameCodec.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>

namespace listing {
namespace {

using namespace parts;

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

bool IsDot(std::string_view name) {
    return name == "." || name == "..";
}

// "." and ".." name this folder and its parent, never an entry of it.
bool IsDeliverable(std::string_view name) {
    return IsUsableName(name) && !IsDot(name);
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

// ---- Which format a line is in ----

struct ModeStart {
    bool mode[256] = {};
    constexpr ModeStart() {
        for (const char* p = "-dlbcpsDn"; *p; ++p)
            mode[static_cast<unsigned char>(*p)] = true;
    }
};
constexpr ModeStart kModeStart;

bool ParseAs(ListFamily family, std::string_view line, const Now& now, RawEntry& raw) {
    switch (family) {
    case ListFamily::Unix:
        raw = RawEntry();
        return ParseUnix(line, now, raw);
    case ListFamily::Windows:
        return ParseDos(line, raw);
    case ListFamily::Vms:
        return ParseVms(line, raw);
    case ListFamily::Eplf:
        return ParseEplf(line, raw);
    case ListFamily::NetWare:
        return ParseNetWare(line, now, raw);
    case ListFamily::Os2:
        return ParseOs2(line, raw);
    case ListFamily::Os400:
        return ParseOs400(line, raw);
    case ListFamily::Nortel:
        return ParseNortel(line, raw);
    case ListFamily::VxWorks:
        return ParseVxWorks(line, raw);
    case ListFamily::Os9:
        return ParseOs9(line, raw);
    case ListFamily::None:
        break;
    }
    return false;
}

// The formats a line can only be in once the common ones have refused it, in an
// order where none takes another's lines.
constexpr ListFamily kRareFamilies[] = {ListFamily::Windows, ListFamily::Os2, ListFamily::VxWorks,
                                        ListFamily::Os9,     ListFamily::Vms, ListFamily::Os400,
                                        ListFamily::Nortel};

// The format that reads line, None when none does; raw holds what it read,
// whatever its name.
ListFamily ParseListRaw(std::string_view line, const Now& now, RawEntry& raw) {
    if (line.empty())
        return ListFamily::None;
    const unsigned char c = static_cast<unsigned char>(line[0]);
    if (c == '+')
        return ParseEplf(line, raw) ? ListFamily::Eplf : ListFamily::None;
    if (kModeStart.mode[c]) {
        raw = RawEntry();
        if (ParseUnix(line, now, raw))
            return ListFamily::Unix;
        if (line.size() > 2 && IsBlank(line[1]) && ParseNetWare(line, now, raw))
            return ListFamily::NetWare;
    }
    for (ListFamily family : kRareFamilies)
        if (ParseAs(family, line, now, raw))
            return family;
    return ListFamily::None;
}

// ---- Lines that carry no entry ----

bool StartsWithWord(std::string_view line, std::string_view word) {
    if (line.size() < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (Lower(line[i]) != word[i])
            return false;
    return true;
}

// "total 12" / "Total 1.2M" of ls; VMS's "Directory DISK:[X]" header and
// "Total of 4 files, 20/32 blocks." / "Grand total of ..." footers; the column
// titles and rules of OS-9 and VxWorks; the head and foot of a DOS "dir".
bool IsBannerLine(std::string_view line) {
    Tokenizer tok(line);
    std::string_view first;
    std::string_view second;
    if (!tok.Next(first))
        return true; // blank
    tok.Next(second);
    std::uint64_t n = 0;
    if (StartsWithWord(first, "total") && first.size() == 5) {
        if (second.size() == 2 && StartsWithWord(second, "of"))
            return true;
        return ToSizeWithUnit(second, n) && !tok.Next(first);
    }
    if (first.find_first_not_of('-') == std::string_view::npos)
        return true;
    static constexpr std::string_view kHeads[] = {"directory", "grand",  "owner",
                                                  "size",      "volume", "dir(s)"};
    for (std::string_view head : kHeads)
        if (first.size() == head.size() && StartsWithWord(first, head))
            return true;
    return StartsWithWord(second, "file(s)") || StartsWithWord(second, "dir(s)");
}

// ---- A whole listing ----

// Gathers the entries of one LIST output. Every line stands alone except on VMS,
// where a long name takes a line of its own with its columns on the next, and a
// file kept in several versions is listed once per version: only its highest
// version is delivered, once, at the place of the first line that named it.
// Numeric dates whose order the line leaves open are read month first, and
// turned round at the end when another line of the listing proved day first.
class ListCollector {
public:
    ListCollector(const Now& now, std::vector<FtpListEntry>& out) : m_now(now), m_out(out) {}

    void Line(std::string_view line) {
        if (!m_pending.empty() && JoinPending(line))
            return;
        DropPending();
        RawEntry raw;
        const ListFamily family = ParseListRaw(line, m_now, raw);
        if (family != ListFamily::None)
            Take(raw);
        else if (IsLoneVmsName(line))
            m_pending = line;
        else if (!IsBannerLine(line))
            ++m_unreadable;
    }

    // Settles the date order; the lines that could not be read.
    std::size_t Finish() {
        DropPending();
        if (m_dayFirst && !m_monthFirst)
            for (const auto& [index, raw] : m_open)
                m_out[index].lastWriteTime =
                    At(raw.year, raw.second, raw.first, raw.dateOnly ? Clock() : raw.clock);
        return m_unreadable;
    }

private:
    void DropPending() {
        if (!m_pending.empty())
            ++m_unreadable; // a VMS name whose columns never came
        m_pending = {};
    }

    bool JoinPending(std::string_view line) {
        if (line.empty() || !IsBlank(line[0]))
            return false;
        m_joined.assign(m_pending);
        m_joined.append(line);
        m_pending = {};
        RawEntry raw;
        if (!ParseVms(m_joined, raw)) {
            ++m_unreadable;
            return true;
        }
        Take(raw);
        return true;
    }

    void Take(const RawEntry& raw) {
        if (!IsDeliverable(raw.name)) {
            // "." and ".." are read and meant to be left out; any other name
            // that cannot be delivered is a line the user does not see.
            m_unreadable += IsDot(raw.name) ? 0 : 1;
            return;
        }
        m_dayFirst = m_dayFirst || raw.evidence == Order::DayFirst;
        m_monthFirst = m_monthFirst || raw.evidence == Order::MonthFirst;
        if (raw.swappable)
            m_open.emplace_back(m_out.size(), raw);
        Add(raw);
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
    std::vector<std::pair<std::size_t, RawEntry>> m_open;
    bool m_dayFirst = false;
    bool m_monthFirst = false;
    std::size_t m_unreadable = 0;
};

// Whether the listing ends its lines with CRLF: its first and its last line end
// both do. A name cannot make both so, since the server writes the line ends.
bool UsesCrLf(std::string_view text) {
    const std::size_t first = text.find('\n');
    const std::size_t last = text.rfind('\n');
    return first != std::string_view::npos && first > 0 && text[first - 1] == '\r' && last > 0 &&
           text[last - 1] == '\r';
}

// Calls f for each line of text without its line end. In a listing whose lines
// end in CRLF, a bare LF is part of a name (which then cannot be delivered), not
// the end of a line: a name must never make an entry of its own.
template <class F> void ForEachLine(std::string_view text, F&& f) {
    const bool crlf = UsesCrLf(text);
    std::size_t pos = 0;
    std::size_t scan = 0;
    while (pos < text.size()) {
        const void* nl = std::memchr(text.data() + scan, '\n', text.size() - scan);
        const std::size_t end =
            nl ? std::size_t(static_cast<const char*>(nl) - text.data()) : text.size();
        if (crlf && nl && (end == pos || text[end - 1] != '\r')) {
            scan = end + 1;
            continue;
        }
        std::size_t len = end - pos;
        if (len > 0 && text[pos + len - 1] == '\r')
            --len;
        f(text.substr(pos, len));
        pos = scan = end + 1;
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

bool ParseListLine(std::string_view line, std::int64_t nowUtc, FtpListEntry& entry,
                   ListFamily* family) {
    RawEntry raw;
    const ListFamily found = ParseListRaw(line, Now{nowUtc, YearOf(nowUtc)}, raw);
    if (family)
        *family = found;
    if (found == ListFamily::None || !IsDeliverable(raw.name))
        return false;
    Fill(raw, entry);
    return true;
}

bool ParseListLineAs(ListFamily family, std::string_view line, std::int64_t nowUtc,
                     FtpListEntry& entry) {
    RawEntry raw;
    if (!ParseAs(family, line, Now{nowUtc, YearOf(nowUtc)}, raw) || !IsDeliverable(raw.name))
        return false;
    Fill(raw, entry);
    return true;
}

bool CarriesNoEntry(std::string_view line) {
    return IsBannerLine(line);
}

void ParseList(std::string_view text, std::int64_t nowUtc, std::vector<FtpListEntry>& out,
               std::size_t* unreadable) {
    ListCollector collector(Now{nowUtc, YearOf(nowUtc)}, out);
    ForEachLine(text, [&](std::string_view line) { collector.Line(line); });
    const std::size_t n = collector.Finish();
    if (unreadable)
        *unreadable = n;
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

void ParseMlsd(std::string_view text, std::vector<FtpListEntry>& out, std::size_t* unreadable) {
    RawEntry raw;
    MlsdType type = MlsdType::File;
    std::size_t missed = 0;
    ForEachLine(text, [&](std::string_view line) {
        if (!ParseMlsdRaw(line, raw, type)) {
            missed += IsBannerLine(line) ? 0 : 1;
            return;
        }
        if (type == MlsdType::ThisFolder || type == MlsdType::ParentFolder || IsDot(raw.name))
            return;
        if (IsUsableName(raw.name))
            Fill(raw, out.emplace_back());
        else
            ++missed;
    });
    if (unreadable)
        *unreadable = missed;
}

} // namespace listing
