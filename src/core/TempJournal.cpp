#include "TempJournal.h"

#include "PrivateFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "TransferPaths.h"

namespace tempjournal {
namespace {

constexpr const char* kHeader = "# Velmar98: temporary names not yet removed "
                                "(version kind pid start boot site path replaced)\n";
// A journal holds the names of the copies running now and of those cut short;
// anything near this size is not ours and is set aside unread.
constexpr qint64 kMaxSize = 1 << 20;
constexpr auto kLockWait = std::chrono::seconds(2);

// The exclusive lock of the journal, held for one read and rewrite. flock ends
// with its holder, so a killed program never leaves the journal locked.
class Lock {
public:
    explicit Lock(const QString& journal) {
        QDir().mkpath(QFileInfo(journal).absolutePath());
        m_fd = ::open(QFile::encodeName(journal + QStringLiteral(".lock")).constData(),
                      O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        const auto until = std::chrono::steady_clock::now() + kLockWait;
        while (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() >= until) {
                ::close(m_fd);
                m_fd = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~Lock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

struct Loaded {
    std::vector<Entry> entries;
    QByteArray original;
    int unreadable = 0;
};

QByteArray Encode(const QString& text) {
    return QUrl::toPercentEncoding(text);
}

bool SameEntry(const Entry& a, const Entry& b) {
    return a.site == b.site && a.path == b.path && a.kind == b.kind && a.owner == b.owner &&
           a.replaces == b.replaces;
}

QByteArray KindLetter(Kind kind) {
    return kind == Kind::File ? "F" : kind == Kind::Folder ? "D" : "L";
}

QByteArray LineOf(const Entry& e) {
    return "1 " + KindLetter(e.kind) + ' ' + QByteArray::number(e.owner.pid) + ' ' +
           QByteArray::number(e.owner.started) + ' ' +
           (e.owner.boot.isEmpty() ? QByteArray("-") : e.owner.boot.toLatin1()) + ' ' +
           Encode(e.site) + ' ' + Encode(e.path) + ' ' +
           (e.replaces.isEmpty() ? QByteArray("-") : Encode(e.replaces)) + '\n';
}

bool IsBootId(const QByteArray& text) {
    if (text == "-")
        return true;
    if (text.size() > 64)
        return false;
    for (char c : text)
        if (!(c == '-' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return !text.isEmpty();
}

// The name an old one was moved aside from lies in the same folder.
bool IsBesideTemp(const QString& replaces, const QString& temp) {
    return transferpaths::ParentOf(replaces) == transferpaths::ParentOf(temp) &&
           pathrules::IsPathElement(transferpaths::NameOf(replaces));
}

// Only what this program writes is read as an entry: a damaged line must never
// name something to remove.
std::optional<Entry> ParseLine(const QByteArray& line) {
    const QList<QByteArray> f = line.split(' ');
    if (f.size() != 8 || f[0] != "1" || f[1].size() != 1 || !QByteArray("FDL").contains(f[1]) ||
        !IsBootId(f[4]))
        return std::nullopt;
    Entry e;
    e.kind = f[1] == "F" ? Kind::File : f[1] == "D" ? Kind::Folder : Kind::Link;
    bool pidOk = false, startOk = false;
    e.owner.pid = f[2].toLongLong(&pidOk);
    e.owner.started = f[3].toULongLong(&startOk);
    e.owner.boot = f[4] == "-" ? QString() : QString::fromLatin1(f[4]);
    e.site = QUrl::fromPercentEncoding(f[5]);
    e.path = QUrl::fromPercentEncoding(f[6]);
    e.replaces = f[7] == "-" ? QString() : QUrl::fromPercentEncoding(f[7]);
    if (!pidOk || !startOk || e.owner.pid <= 0 || e.site.isEmpty() ||
        !transferpaths::IsTempPath(e.path) ||
        (!e.replaces.isEmpty() && !IsBesideTemp(e.replaces, e.path)))
        return std::nullopt;
    return e;
}

Loaded Load(const QString& path) {
    Loaded loaded;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return loaded; // none yet
    loaded.original = file.read(kMaxSize + 1);
    if (loaded.original.size() > kMaxSize) {
        loaded.unreadable = 1;
        return loaded;
    }
    for (const QByteArray& line : loaded.original.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (auto entry = ParseLine(line))
            loaded.entries.push_back(*entry);
        else
            ++loaded.unreadable;
    }
    return loaded;
}

// Writes entries back; lines that could not be read are first kept aside as they
// were, so that a damaged journal is neither acted on nor silently lost.
bool Store(const QString& path, const Loaded& loaded) {
    // Not synced: a killed program loses nothing that was written, and a line
    // lost to a crash of the whole system only leaves a name unremoved.
    constexpr auto kNoSync = privatefile::Sync::No;
    if (loaded.unreadable > 0 &&
        !privatefile::Replace(path + QStringLiteral(".damaged"), loaded.original, kNoSync))
        return false;
    QByteArray out(kHeader);
    for (const Entry& e : loaded.entries)
        out += LineOf(e);
    return privatefile::Replace(path, out, kNoSync);
}

// Applies change to the journal under its lock; change returns whether it
// changed anything.
template <typename Change> bool Update(const QString& path, Change change) {
    Lock lock(path);
    if (!lock)
        return false;
    Loaded loaded = Load(path);
    if (!change(loaded.entries) && loaded.unreadable == 0)
        return true;
    return Store(path, loaded);
}

} // namespace

QString LocalSite() {
    return QStringLiteral("local");
}

QString Journal::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Velmar98/temporary-names");
}

Journal::Journal(QString path) : m_path(std::move(path)) {}

bool Journal::Add(const QString& site, Kind kind, const QString& path,
                  const QString& replaces) const {
    if (site.isEmpty() || !transferpaths::IsTempPath(path) ||
        (!replaces.isEmpty() && !IsBesideTemp(pathrules::Shown(replaces), path)))
        return false;
    const Entry entry{site, kind, path, Self(), pathrules::Shown(replaces)};
    return Update(m_path, [&](std::vector<Entry>& entries) {
        entries.push_back(entry);
        return true;
    });
}

bool Journal::Drop(const QString& site, const QString& path) const {
    if (site.isEmpty() || !transferpaths::IsTempPath(path))
        return false;
    return Update(m_path, [&](std::vector<Entry>& entries) {
        return std::erase_if(entries, [&](const Entry& e) {
                   return e.site == site && e.path == path && e.owner == Self();
               }) > 0;
    });
}

std::vector<Entry> Journal::Entries(int* unreadable) const {
    Lock lock(m_path);
    Loaded loaded = Load(m_path);
    if (unreadable)
        *unreadable = loaded.unreadable;
    return loaded.entries;
}

SweepReport Journal::Sweep(const QString& site, const std::function<Outcome(const Entry&)>& remove,
                           std::chrono::steady_clock::time_point deadline) const {
    SweepReport report;
    std::vector<Entry> candidates;
    {
        Lock lock(m_path);
        if (!lock) {
            report.locked = true;
            return report;
        }
        Loaded loaded = Load(m_path);
        report.unreadable = loaded.unreadable;
        if (loaded.unreadable > 0 && !Store(m_path, loaded))
            report.locked = true;
        for (const Entry& e : loaded.entries) {
            if (e.site != site)
                continue;
            if (IsRunning(e.owner))
                ++report.running;
            else
                candidates.push_back(e);
        }
    }
    // The removals run without the lock: their makers have ended, so nobody else
    // touches these names, and a copy starting meanwhile must not wait on them.
    std::vector<Entry> settled;
    for (const Entry& e : candidates) {
        const Outcome outcome =
            std::chrono::steady_clock::now() < deadline ? remove(e) : Outcome::Kept;
        if (outcome == Outcome::Kept) {
            ++report.kept;
            continue;
        }
        ++(outcome == Outcome::Removed    ? report.removed
           : outcome == Outcome::Restored ? report.restored
                                          : report.gone);
        settled.push_back(e);
    }
    if (!settled.empty() && !Update(m_path, [&](std::vector<Entry>& entries) {
            return std::erase_if(entries, [&](const Entry& e) {
                       return std::any_of(settled.begin(), settled.end(),
                                          [&](const Entry& s) { return SameEntry(e, s); });
                   }) > 0;
        }))
        report.locked = true;
    return report;
}

void Note(const QString& site, Kind kind, const QString& path, const QString& replaces) {
    Journal().Add(site, kind, path, replaces);
}

void Forget(const QString& site, const QString& path) {
    Journal().Drop(site, path);
}

} // namespace tempjournal
