#include "FtpFileFind.h"

#include <QDateTime>
#include <algorithm>
#include <fnmatch.h>

#include "FtpConnection.h"
#include "FtpControl.h"
#include "Interrupt.h"
#include "ListingParser.h"
#include "NameCodec.h"

namespace {

constexpr int kMaxLinkProbes = 200;

const QString kStranded =
    QStringLiteral("The server let the program into a linked folder but not back out of it.");

bool IsWildcard(const QString& s) {
    return s.contains(QLatin1Char('*')) || s.contains(QLatin1Char('?'));
}

// Strips trailing "/" but keeps the root.
QString WithoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

// What a folder's listing said beyond its entries: its text as the server sent it,
// and how many of its lines could not be read.
struct ListingText {
    std::string raw;
    std::size_t unreadable = 0;
};

// LIST of a folder ("-a" first, for the names that begin with "."); false when the
// server refuses it. A server that takes "-a" for a file name refuses it, and plain
// LIST is all it has.
bool FetchList(FtpControl& control, const std::string& suffix, std::vector<FtpListEntry>& out,
               ListingText* kept = nullptr) {
    std::string text;
    bool listed = false;
    if (!control.ListDashARefused()) {
        listed = control.FetchListing("LIST -a" + suffix, text);
        if (!listed && control.FetchListing("LIST" + suffix, text)) {
            control.SetListDashARefused();
            listed = true;
        }
    } else {
        listed = control.FetchListing("LIST" + suffix, text);
    }
    if (!listed)
        return false;
    std::size_t unreadable = 0;
    listing::ParseList(text, QDateTime::currentSecsSinceEpoch(), out, &unreadable);
    if (kept)
        *kept = ListingText{std::move(text), unreadable};
    return true;
}

bool IsUnmarkedFolder(const FtpListEntry& e) {
    return e.isFolder && !e.isLink;
}

// Some servers (pyftpdlib among them) follow links when they answer MLSD, so a
// link to a folder comes as a plain "type=dir" and its unique fact is the
// target's. Their LIST lines still say "l": when the MLSD listing holds folders
// that nothing marks as links, one LIST of the same folder tells which are.
// A server that marks links in MLSD itself needs no second look.
void MarkLinksFromList(FtpControl& control, const std::string& suffix,
                       std::vector<FtpListEntry>& entries) {
    if (std::none_of(entries.begin(), entries.end(), IsUnmarkedFolder))
        return;
    if (std::any_of(entries.begin(), entries.end(), [](const FtpListEntry& e) { return e.isLink; }))
        return;
    std::vector<FtpListEntry> lines;
    if (!FetchList(control, suffix, lines))
        return;
    for (const FtpListEntry& line : lines) {
        if (!line.isLink)
            continue;
        for (FtpListEntry& e : entries) {
            if (e.name == line.name) {
                e.isLink = true;
                e.targetKnown = true; // the MLSD facts are the target's
                e.linkTarget = line.linkTarget;
            }
        }
    }
}

std::string PathSuffix(const std::string& arg) {
    return arg.empty() ? std::string() : " " + arg;
}

void LearnNames(FtpControl& control, const std::vector<FtpListEntry>& entries);

bool ListFolder(FtpControl& control, const QString& folder, std::vector<FtpListEntry>& out,
                ListingText* kept = nullptr) {
    std::string arg;
    if (!CommandPath(control, folder, arg))
        return false;
    const std::string suffix = PathSuffix(arg);
    if (!control.HasMlst()) {
        if (!FetchList(control, suffix, out, kept))
            return false;
    } else {
        std::string text;
        if (!control.FetchListing("MLSD" + suffix, text))
            return false;
        std::size_t unreadable = 0;
        listing::ParseMlsd(text, out, &unreadable);
        if (kept)
            *kept = ListingText{std::move(text), unreadable};
        MarkLinksFromList(control, suffix, out);
    }
    LearnNames(control, out);
    return true;
}

// Whether the parent's listing shows name as a link; false when it does not or
// cannot be read. The listing is MLSD where there is one (some servers mark
// links only there) with LIST to check its folders (some mark them only there).
bool ParentListsLink(FtpControl& control, const QString& parent, const QString& name,
                     FtpListEntry& entry) {
    std::vector<FtpListEntry> siblings;
    if (!ListFolder(control, parent, siblings))
        return false;
    for (const FtpListEntry& sibling : siblings) {
        if (sibling.name == name && sibling.isLink) {
            entry.isLink = true;
            entry.targetKnown = true;
            entry.linkTarget = sibling.linkTarget;
            return true;
        }
    }
    return false;
}

// The text after a reply's code ("213 1234" gives "1234"); empty for a bare code.
std::string ReplyArgument(const FtpReply& reply) {
    return reply.text.size() > 4 ? reply.text.substr(4) : std::string();
}

// The working folder in the server's own bytes, from PWD; empty when the server
// gives no absolute path (we could not find our way back to it).
std::string WorkingFolder(FtpControl& control) {
    FtpReply pwd;
    if (!control.CommandOk("PWD", 2, &pwd) || pwd.code != 257)
        return std::string();
    const std::size_t open = pwd.text.find('"');
    const std::size_t close = pwd.text.rfind('"');
    if (open == std::string::npos || close <= open)
        return std::string();
    std::string home = pwd.text.substr(open + 1, close - open - 1);
    for (std::size_t i = home.find("\"\""); i != std::string::npos; i = home.find("\"\"", i + 1))
        home.erase(i, 1);
    return home.starts_with('/') ? home : std::string();
}

enum class Entered { No, Yes, Stranded };

// Whether the server lets us enter path; the working folder is home again after.
// Stranded: it let us in and not back.
Entered EnterAndLeave(FtpControl& control, const std::string& path, const std::string& home) {
    if (home.empty() || !control.CommandOk("CWD " + path))
        return Entered::No;
    if (control.CommandOk("CWD " + home))
        return Entered::Yes;
    if (control.ReconnectDue()) {
        // A stop cut the way back short: the fresh login goes home, not in here.
        control.ReturnTo(home);
        ftp::ThrowCancelled();
    }
    return Entered::Stranded;
}

QString JoinPath(const QString& folder, const QString& name) {
    if (folder.isEmpty())
        return name;
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// Finds out what the links of a listing point to where the listing does not say
// (LIST "l" lines, MLSD link types): SIZE answers for a file, with the target's
// size; a folder lets us in. A link that does neither (dangling, no permission)
// stays a file of unknown size. Costs one SIZE per such link; a link that is no
// file adds two CWDs, and the listing one PWD. A folder of thousands of links
// would cost thousands of round trips on every reading: past kMaxLinkProbes the
// links stay files of unknown size. False when the server let us into a link and
// not back: the connection is then in the wrong folder.
bool ResolveLinks(FtpControl& control, const QString& folder, std::vector<FtpListEntry>& entries) {
    std::string home;
    bool homeAsked = false;
    int probes = 0;
    for (FtpListEntry& e : entries) {
        std::string path;
        if (!e.isLink || e.isFolder || e.targetKnown || probes >= kMaxLinkProbes ||
            !CommandPath(control, JoinPath(folder, e.name), path))
            continue;
        ++probes;
        e.targetKnown = true;
        FtpReply reply;
        if (control.CommandOk("SIZE " + path, 2, &reply) && reply.code == 213) {
            const std::string size = ReplyArgument(reply);
            if (!size.empty() &&
                std::all_of(size.begin(), size.end(), [](char c) { return c >= '0' && c <= '9'; }))
                e.size = std::strtoull(size.c_str(), nullptr, 10);
            continue;
        }
        if (!homeAsked) {
            home = WorkingFolder(control);
            homeAsked = true;
        }
        const Entered entered = EnterAndLeave(control, path, home);
        if (entered == Entered::Stranded)
            return false;
        if (entered == Entered::Yes) {
            e.isFolder = true;
            e.size = 0;
        } else {
            e.size = 0; // the link's own length says nothing of what it points to
        }
    }
    return true;
}

// Keeps the bytes of the names that are not UTF-8 for this connection's commands.
void LearnNames(FtpControl& control, const std::vector<FtpListEntry>& entries) {
    for (const FtpListEntry& e : entries)
        if (!e.rawName.empty())
            NameCodec::Learn(&control, e.rawName, e.name);
}

bool EntryByMlst(FtpControl& control, const std::string& path, const QString& name,
                 FtpListEntry& entry) {
    FtpReply reply;
    if (!control.CommandOk("MLST " + path, 2, &reply))
        return false;
    // The fact line is the one indented line between the first and the last.
    std::size_t pos = reply.text.find("\n ");
    if (pos == std::string::npos)
        return false;
    const std::size_t end = reply.text.find('\n', pos + 2);
    const std::string line = reply.text.substr(pos + 2, end - pos - 2);
    // The server's pathname may be absolute; only its facts are taken.
    const std::size_t space = line.find(' ');
    if (space == std::string::npos)
        return false;
    if (!listing::ParseMlsdLine(line.substr(0, space) + " x", entry))
        return false;
    entry.name = name;
    return true;
}

// Without MLST: a file answers SIZE (and MDTM), a folder can be entered.
bool EntryByProbe(FtpControl& control, const std::string& path, const QString& name,
                  FtpListEntry& entry) {
    FtpReply reply;
    entry = FtpListEntry();
    entry.name = name;
    if (control.CommandOk("SIZE " + path, 2, &reply) && reply.code == 213) {
        // A bare "213" tells that the file is there, not how long it is.
        entry.size = std::strtoull(ReplyArgument(reply).c_str(), nullptr, 10);
        if (control.CommandOk("MDTM " + path, 2, &reply) && reply.code == 213) {
            FtpListEntry stamp;
            if (listing::ParseMlsdLine("modify=" + ReplyArgument(reply) + "; x", stamp))
                entry.lastWriteTime = stamp.lastWriteTime;
        }
        return true;
    }
    const std::string home = WorkingFolder(control);
    if (EnterAndLeave(control, path, home) != Entered::Yes)
        return false;
    entry.isFolder = true;
    return true;
}

} // namespace

CFtpFileFind::CFtpFileFind(CFtpConnection* connection, int) : m_connection(connection) {}

CFtpFileFind::~CFtpFileFind() = default;

bool CFtpFileFind::FindFile(const QString& pattern, unsigned) {
    Close();
    m_failed = false;
    m_lost = false;
    m_errorText.clear();
    if (!m_connection)
        return Fail(QStringLiteral("There is no connection to the server."));
    FtpControl& control = m_connection->Control();
    if (control.m_openFile)
        return Fail(QStringLiteral("A transfer is still running on this connection."));
    if (!control.Alive() && !control.ReconnectDue() && !control.WillRedial()) {
        m_lost = true;
        return Fail(QStringLiteral("The connection to the server is closed."));
    }
    // A look-up only reads: one that lost its connection is run again whole on
    // the fresh one (its listing needs a new data connection too), once.
    const int reconnects = control.Reconnects();
    for (int attempt = 0;; ++attempt) {
        try {
            return FindOnce(pattern);
        } catch (const CInternetException& e) {
            const bool stopped =
                e.m_dwError == ERROR_INTERNET_OPERATION_CANCELLED || ftp::Interrupted();
            if (!stopped && attempt == 0 && control.WillRedial() &&
                control.Reconnects() == reconnects) {
                Close();
                continue;
            }
            m_entries.clear();
            m_lost = !stopped && !control.Alive() && !control.ReconnectDue();
            return Fail(e.Message().isEmpty() ? QStringLiteral("The listing failed.")
                                              : e.Message());
        }
    }
}

bool CFtpFileFind::FindOnce(const QString& pattern) {
    FtpControl& control = m_connection->Control();
    const qsizetype slash = pattern.lastIndexOf(QLatin1Char('/'));
    const QString last = pattern.mid(slash + 1);
    if (pattern.isEmpty() || IsWildcard(last)) {
        QString folder = pattern.left(slash + 1);
        folder = WithoutTrailingSlash(folder);
        ListingText kept;
        if (!ListFolder(control, folder, m_entries, &kept))
            return Fail(QStringLiteral("The server refused to list the folder."));
        m_rawListing = std::move(kept.raw);
        m_unreadableLines = kept.unreadable;
        if (!last.isEmpty() && last != QLatin1String("*.*") && last != QLatin1String("*")) {
            const QByteArray mask = last.toUtf8();
            std::erase_if(m_entries, [&](const FtpListEntry& e) {
                return fnmatch(mask.constData(), e.name.toUtf8().constData(), 0) != 0;
            });
        }
        if (!ResolveLinks(control, folder, m_entries))
            return Fail(kStranded);
        return !m_entries.empty();
    }
    return FindOwnEntry(WithoutTrailingSlash(pattern));
}

bool CFtpFileFind::Fail(const QString& text) {
    m_entries.clear();
    m_failed = true;
    m_errorText = text;
    return false;
}

bool CFtpFileFind::IsLink() const {
    return m_current >= 0 && m_entries[std::size_t(m_current)].isLink;
}

bool CFtpFileFind::FindOwnEntry(const QString& path) {
    FtpControl& control = m_connection->Control();
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    std::string arg;
    if (name.isEmpty() || !CommandPath(control, path, arg) ||
        !listing::IsUsableName(arg.substr(arg.rfind('/') + 1)))
        return false;
    const QString parent = slash < 0    ? QString()
                           : slash == 0 ? QStringLiteral("/")
                                        : path.left(slash);
    FtpListEntry entry;
    if (control.HasMlst()) {
        if (!EntryByMlst(control, arg, name, entry))
            return false;
        // MLST follows a link on some servers; the one a delete or a replace is
        // about must be known as a link, or the folder it points to would go.
        if (IsUnmarkedFolder(entry))
            ParentListsLink(control, parent, name, entry);
        m_entries.push_back(std::move(entry));
        return ResolveLinks(control, parent, m_entries) || Fail(kStranded);
    }
    // A listing of the parent holds the entry with its size and time, as a folder
    // listing would show it.
    std::vector<FtpListEntry> siblings;
    if (ListFolder(control, parent, siblings)) {
        for (FtpListEntry& e : siblings) {
            if (e.name == name) {
                m_entries.push_back(std::move(e));
                return ResolveLinks(control, parent, m_entries) || Fail(kStranded);
            }
        }
    }
    if (!EntryByProbe(control, arg, name, entry))
        return false;
    m_entries.push_back(std::move(entry));
    return true;
}

bool CFtpFileFind::FindNextFile() {
    if (m_current + 1 >= std::ptrdiff_t(m_entries.size()))
        return false;
    ++m_current;
    return m_current + 1 < std::ptrdiff_t(m_entries.size());
}

QString CFtpFileFind::GetFileName() const {
    return m_current >= 0 ? m_entries[std::size_t(m_current)].name : QString();
}

std::uint64_t CFtpFileFind::GetLength() const {
    return m_current >= 0 ? m_entries[std::size_t(m_current)].size : 0;
}

bool CFtpFileFind::GetLastWriteTime(std::int64_t& time) const {
    if (m_current < 0)
        return false;
    time = m_entries[std::size_t(m_current)].lastWriteTime;
    return true;
}

bool CFtpFileFind::MatchesMask(unsigned mask) const {
    if (m_current < 0)
        return false;
    // A link is never a directory to a walk that goes by this test: a walk that
    // descended into it could reach anywhere, even the folder it came from. The
    // panes, which open a link to a folder, read isFolder from Entries().
    const FtpListEntry& e = m_entries[std::size_t(m_current)];
    return (mask & FILE_ATTRIBUTE_DIRECTORY) && e.isFolder && !e.isLink;
}

void CFtpFileFind::Close() {
    m_entries.clear();
    m_current = -1;
    m_rawListing.clear();
    m_unreadableLines = 0;
}
