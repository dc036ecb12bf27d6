// Feeds arbitrary bytes to the listing parser as LIST and as MLSD output and
// stops at the first entry that breaks a promise the rest of the program relies
// on: a name that could leave the folder or carry control characters, a time or
// size that the line does not say, or a listing that parses differently as a
// whole than line by line.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ListingParser.h"
#include "NameCodec.h"

namespace {

constexpr std::int64_t kNow = 1718452800; // 2024-06-15 12:00 UTC

void Fail(const char* what, std::string_view input) {
    std::fprintf(stderr, "listing invariant broken: %s\n%.*s\n", what, int(input.size()),
                 input.data());
    std::abort();
}

bool SafeName(const QString& name) {
    if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral(".."))
        return false;
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QLatin1Char('/'))
            return false;
    return true;
}

// A whole LIST listing may turn the order of numeric dates round from what a
// line alone shows ("06/07/05" after a "13/07/05"), so times are compared only
// where the caller says they must agree.
bool Same(const FtpListEntry& a, const FtpListEntry& b, bool times = true) {
    return a.name == b.name && a.isFolder == b.isFolder && a.size == b.size &&
           (!times || a.lastWriteTime == b.lastWriteTime) && a.isLink == b.isLink &&
           a.linkTarget == b.linkTarget && a.dateOnly == b.dateOnly && a.unique == b.unique;
}

bool SameList(const std::vector<FtpListEntry>& a, const std::vector<FtpListEntry>& b,
              bool times = true) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!Same(a[i], b[i], times))
            return false;
    return true;
}

// Lines as the parser sees them: a listing whose first and last line ends are
// CRLF is split at CRLF alone (a bare LF belongs to a name); any other at LF,
// one CR before it dropped.
std::vector<std::string_view> Lines(std::string_view text) {
    const std::size_t firstEnd = text.find('\n');
    const std::size_t lastEnd = text.rfind('\n');
    const bool crlf = firstEnd != std::string_view::npos && firstEnd > 0 &&
                      text[firstEnd - 1] == '\r' && text[lastEnd - 1] == '\r';
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    std::size_t scan = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', scan);
        if (end == std::string_view::npos)
            end = text.size();
        else if (crlf && (end == pos || text[end - 1] != '\r')) {
            scan = end + 1;
            continue;
        }
        std::string_view line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        pos = scan = end + 1;
    }
    return lines;
}

// Every dated format but EPLF writes a civil date of the years 1900 to 9999; a
// zone moves it by less than a day. A date without a time is a midnight.
void CheckTime(const FtpListEntry& e, std::string_view line) {
    if (!line.empty() && line[0] == '+')
        return;
    const std::int64_t lowest = listing::ToUnixTime(1900, 1, 1) - 86400;
    const std::int64_t highest = listing::ToUnixTime(10000, 1, 1) + 86400;
    if (e.lastWriteTime < lowest || e.lastWriteTime > highest)
        Fail("a time outside the years a listing can write", line);
    if (e.dateOnly && e.lastWriteTime % 86400 != 0)
        Fail("a date without a time that is not a midnight", line);
}

bool FactIs(std::string_view key, std::string_view name) {
    if (key.size() != name.size())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i)
        if ((key[i] | 0x20) != name[i])
            return false;
    return true;
}

// The size an MLSD line says: the last "size" or "sizd" fact that is a number.
bool MlsdSize(std::string_view line, std::uint64_t& size) {
    std::string_view facts = line.substr(0, line.find(' '));
    bool found = false;
    while (!facts.empty()) {
        const std::size_t semi = facts.find(';');
        const std::string_view fact = facts.substr(0, semi);
        facts = semi == std::string_view::npos ? std::string_view() : facts.substr(semi + 1);
        const std::size_t eq = fact.find('=');
        if (eq == std::string_view::npos ||
            !(FactIs(fact.substr(0, eq), "size") || FactIs(fact.substr(0, eq), "sizd")))
            continue;
        const std::string_view value = fact.substr(eq + 1);
        if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos)
            continue;
        // A size past 2^64 - 1 is no size at all.
        errno = 0;
        const unsigned long long v = std::strtoull(std::string(value).c_str(), nullptr, 10);
        if (errno == ERANGE)
            continue;
        size = v;
        found = true;
    }
    return found;
}

void CheckMlsdLine(std::string_view line, const FtpListEntry& e) {
    const std::size_t space = line.find(' ');
    if (e.name != names::Decode(line.substr(space + 1)))
        Fail("an MLSD name that is not the text after the facts", line);
    std::uint64_t size = 0;
    if (MlsdSize(line, size) ? e.size != size : e.size != 0)
        Fail("an MLSD size that the facts do not say", line);
    if (e.lastWriteTime != 0)
        CheckTime(e, line);
}

void CheckMlsd(std::string_view text) {
    std::vector<FtpListEntry> whole;
    listing::ParseMlsd(text, whole);
    std::vector<FtpListEntry> byLine;
    for (std::string_view line : Lines(text)) {
        FtpListEntry e;
        listing::MlsdType type = listing::MlsdType::File;
        if (!listing::ParseMlsdLine(line, e, &type) || type == listing::MlsdType::ThisFolder ||
            type == listing::MlsdType::ParentFolder || e.name == QStringLiteral(".") ||
            e.name == QStringLiteral(".."))
            continue;
        CheckMlsdLine(line, e);
        byLine.push_back(std::move(e));
    }
    if (!SameList(whole, byLine))
        Fail("an MLSD listing parsed differently as a whole than line by line", text);
}

void CheckList(std::string_view text) {
    std::vector<FtpListEntry> whole;
    std::size_t unreadable = 0;
    listing::ParseList(text, kNow, whole, &unreadable);
    const std::vector<std::string_view> lines = Lines(text);
    if (unreadable > lines.size())
        Fail("more lines not understood than the listing has", text);
    std::vector<FtpListEntry> byLine;
    bool vms = false;
    for (std::string_view line : lines) {
        // VMS joins a name alone on its line with the next, and lists versions.
        vms = vms || line.find(';') != std::string_view::npos;
        FtpListEntry e;
        if (!listing::ParseListLine(line, kNow, e))
            continue;
        if (!SafeName(e.name))
            Fail("an unsafe name from one LIST line", line);
        CheckTime(e, line);
        byLine.push_back(std::move(e));
    }
    if (!vms && !SameList(whole, byLine, false))
        Fail("a LIST listing parsed differently as a whole than line by line", text);
    for (const FtpListEntry& e : whole)
        if (!SafeName(e.name))
            Fail("an unsafe name from a LIST listing", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckList(text);
    CheckMlsd(text);
    std::vector<FtpListEntry> mlsd;
    listing::ParseMlsd(text, mlsd);
    for (const FtpListEntry& e : mlsd)
        if (!SafeName(e.name))
            Fail("an unsafe name from an MLSD listing", text);
    return 0;
}
