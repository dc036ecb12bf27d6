// Lines per second of the listing parser on a generated 100,000-line LIST output,
// as many lines in the formats of the less common servers, and a 100,000-line
// MLSD output, next to a straightforward stream-based parser of the same Unix
// lines as the peer.
#include <QString>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "ListingParser.h"

namespace {

constexpr int kLines = 100000;
constexpr int kRounds = 20;
constexpr std::int64_t kNow = 1718452800; // 2024-06-15 12:00 UTC

std::string MakeList() {
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::string text;
    char line[256];
    for (int i = 0; i < kLines; ++i) {
        const char* month = months[i % 12];
        if (i % 10 == 0)
            std::snprintf(line, sizeof line,
                          "drwxr-xr-x    2 1000     1000         4096 %s %2d  2019 folder %06d\r\n",
                          month, i % 28 + 1, i);
        else if (i % 3 == 0)
            std::snprintf(
                line, sizeof line,
                "-rw-r--r--    1 ftp      ftp      %10d %s %2d %02d:%02d file_%06d.txt\r\n", i * 37,
                month, i % 28 + 1, i % 24, i % 60, i);
        else
            std::snprintf(
                line, sizeof line,
                "-rw-r--r--    1 ftp      ftp      %10d %s %2d  2021 Document %06d.pdf\r\n", i * 91,
                month, i % 28 + 1, i);
        text += line;
    }
    return text;
}

// The same number of lines in the formats of the less common servers, in turn;
// every line is an entry of its own.
std::string MakeOtherFormats() {
    static const char* lines[] = {
        "d [R----F--] supervisor            512       Jan 16 18:53    folder %06d\r\n",
        "  1234       A          05-23-04   09:05  file %06d.txt\r\n",
        "QPGMR     5263360 06/11/97 12:27:39 *STMF     REPORT%06d.TXT\r\n",
        "FILE%06d.TXT;1  4/9  17-MAR-2011 10:05:12  [GROUP,OWNER]  (RWED,RWED,RE,)\r\n",
        "     5060    Jun 23 2004 18:44:38  image%06d.bin\r\n",
        "  0.0     98/03/23 1427  ------wr     24D2       1760 cmd%06d\r\n",
        "-rw-r--r-- 1 ftp ftp 1234 7. M\xC3\xA4rz 2005 datei %06d\r\n",
        "-rw-r--r-- 1 ftp ftp 1234 06/07/05 12:30 note %06d\r\n",
    };
    std::string text;
    char line[256];
    for (int i = 0; i < kLines; ++i) {
        std::snprintf(line, sizeof line, lines[i % std::size(lines)], i);
        text += line;
    }
    return text;
}

std::string MakeMlsd() {
    std::string text;
    char line[256];
    for (int i = 0; i < kLines; ++i) {
        if (i % 10 == 0)
            std::snprintf(line, sizeof line,
                          "type=dir;modify=2019%02d%02d101010;perm=flcdmpe; folder %06d\r\n",
                          i % 12 + 1, i % 28 + 1, i);
        else
            std::snprintf(line, sizeof line,
                          "type=file;size=%d;modify=2021%02d%02d121314.123;perm=adfrw; "
                          "file_%06d.txt\r\n",
                          i * 37, i % 12 + 1, i % 28 + 1, i);
        text += line;
    }
    return text;
}

// The peer: what a first attempt looks like, a string stream per line.
void PeerParse(const std::string& text, std::vector<FtpListEntry>& out) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string mode, links, owner, group, month, day, when;
        unsigned long long size = 0;
        if (!(fields >> mode >> links >> owner >> group >> size >> month >> day >> when))
            continue;
        std::string name;
        std::getline(fields, name);
        if (!name.empty() && name[0] == ' ')
            name.erase(0, 1);
        if (!name.empty() && name.back() == '\r')
            name.pop_back();
        FtpListEntry& e = out.emplace_back();
        e.name = QString::fromStdString(name);
        e.isFolder = mode[0] == 'd';
        e.size = size;
    }
}

// The machine is shared: the thread's own CPU time counts, not the wall clock,
// and the best of several rounds.
double ThreadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

template <class F> double LinesPerSecond(F&& parse, std::size_t& entries) {
    double best = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<FtpListEntry> out;
        out.reserve(kLines);
        const double start = ThreadSeconds();
        parse(out);
        const double took = ThreadSeconds() - start;
        entries = out.size();
        best = std::max(best, kLines / took);
    }
    return best;
}

} // namespace

int main() {
    const std::string list = MakeList();
    const std::string mlsd = MakeMlsd();
    const std::string others = MakeOtherFormats();
    std::size_t listEntries = 0;
    std::size_t otherEntries = 0;
    std::size_t mlsdEntries = 0;
    std::size_t peerEntries = 0;
    const double listRate = LinesPerSecond(
        [&](std::vector<FtpListEntry>& out) { listing::ParseList(list, kNow, out); }, listEntries);
    const double mlsdRate = LinesPerSecond(
        [&](std::vector<FtpListEntry>& out) { listing::ParseMlsd(mlsd, out); }, mlsdEntries);
    const double otherRate = LinesPerSecond(
        [&](std::vector<FtpListEntry>& out) { listing::ParseList(others, kNow, out); },
        otherEntries);
    const double peerRate =
        LinesPerSecond([&](std::vector<FtpListEntry>& out) { PeerParse(list, out); }, peerEntries);
    std::printf("LIST  %d lines -> %zu entries: %.2f million lines/s\n", kLines, listEntries,
                listRate / 1e6);
    std::printf("MLSD  %d lines -> %zu entries: %.2f million lines/s\n", kLines, mlsdEntries,
                mlsdRate / 1e6);
    std::printf("LIST  %d lines of NetWare, OS/2, OS/400, VMS, VxWorks, OS-9 and localized Unix "
                "-> %zu entries: %.2f million lines/s\n",
                kLines, otherEntries, otherRate / 1e6);
    std::printf("peer  LIST by string streams -> %zu entries: %.2f million lines/s (ours %.1fx)\n",
                peerEntries, peerRate / 1e6, listRate / peerRate);
    const bool ok = listEntries == std::size_t(kLines) && mlsdEntries == std::size_t(kLines) &&
                    otherEntries == std::size_t(kLines);
    if (!ok)
        std::printf("error: not every generated line was parsed\n");
    return ok ? 0 : 1;
}
