// Who made a journal entry, whether that maker still runs, and the removal of
// local leftovers.
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "TempJournal.h"
#include "TransferPaths.h"

namespace tempjournal {
namespace {

constexpr int kMaxDepth = 64;
constexpr auto kLocalSweepBound = std::chrono::seconds(3);

QByteArray ReadSmall(const QByteArray& path) {
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
}

enum class Seen { Missing, Unknown, Ended, Running };

// The state and start time of a process from /proc/<pid>/stat. The name in
// parentheses may hold blanks and parentheses, so the fields are counted after
// its last ")": the state is field 3, the start time field 22.
Seen ReadStat(qint64 pid, quint64* started) {
    const QByteArray path = "/proc/" + QByteArray::number(pid) + "/stat";
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Seen::Missing : Seen::Unknown;
    char buffer[1024];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    const QByteArray text(buffer, n > 0 ? qsizetype(n) : 0);
    const qsizetype close = text.lastIndexOf(')');
    const QList<QByteArray> fields = text.mid(close + 1).trimmed().split(' ');
    if (close < 0 || fields.size() < 20)
        return Seen::Unknown;
    bool ok = false;
    *started = fields[19].toULongLong(&ok);
    if (!ok)
        return Seen::Unknown;
    // A zombie has ended and only waits to be reaped; it touches nothing more.
    return fields[0] == "Z" || fields[0] == "X" ? Seen::Ended : Seen::Running;
}

Owner ReadSelf() {
    Owner self;
    self.pid = ::getpid();
    ReadStat(self.pid, &self.started);
    self.boot = QString::fromLatin1(ReadSmall("/proc/sys/kernel/random/boot_id").trimmed());
    return self;
}

// Removes the folder open at fd's entry name with everything in it, never
// through a link: each element is opened relative to its folder, without
// following one.
bool RemoveTreeAt(int parent, const char* name, int depth) {
    if (depth > kMaxDepth)
        return false;
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    while (const dirent* entry = ::readdir(dir)) {
        const char* n = entry->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        struct stat st {};
        if (::fstatat(fd, n, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            continue;
        }
        // A folder whose name begins with "." is kept, as every delete of the
        // program keeps it; the folder holding it then stays too.
        if (S_ISDIR(st.st_mode))
            ok = n[0] != '.' && RemoveTreeAt(fd, n, depth + 1) && ok;
        else
            ok = ::unlinkat(fd, n, 0) == 0 && ok;
    }
    ::closedir(dir);
    return ok && ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

bool IsKind(Kind kind, mode_t mode) {
    switch (kind) {
    case Kind::File:
        return S_ISREG(mode);
    case Kind::Folder:
        return S_ISDIR(mode);
    case Kind::Link:
        return S_ISLNK(mode);
    }
    return false;
}

} // namespace

const Owner& Self() {
    static const Owner self = ReadSelf();
    return self;
}

bool IsRunning(const Owner& owner) {
    // Every process of another boot has ended; a boot that cannot be told, or a
    // process whose state cannot be read, is taken as running, so that nothing
    // of a live copy is ever removed.
    if (!owner.boot.isEmpty() && !Self().boot.isEmpty() && owner.boot != Self().boot)
        return false;
    quint64 started = 0;
    switch (ReadStat(owner.pid, &started)) {
    case Seen::Missing:
    case Seen::Ended:
        return false;
    case Seen::Unknown:
        return true;
    case Seen::Running:
        return owner.started == 0 || started == owner.started;
    }
    return true;
}

Outcome RemoveLocal(const Entry& entry) {
    const QByteArray path = QFile::encodeName(entry.path);
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Outcome::Gone : Outcome::Kept;
    // Something else under the name now is not ours: it stays, and so does
    // nothing of the entry.
    if (!IsKind(entry.kind, st.st_mode))
        return Outcome::Gone;
    if (!entry.replaces.isEmpty()) {
        // The old one was moved aside and nothing took its place: it goes back,
        // never over something that came meanwhile.
        const QByteArray replaces = QFile::encodeName(entry.replaces);
        if (::lstat(replaces.constData(), &st) != 0) {
            if (errno != ENOENT)
                return Outcome::Kept;
            return ::renameat2(AT_FDCWD, path.constData(), AT_FDCWD, replaces.constData(),
                               RENAME_NOREPLACE) == 0
                       ? Outcome::Restored
                       : Outcome::Kept;
        }
    }
    if (entry.kind != Kind::Folder)
        return ::unlink(path.constData()) == 0 ? Outcome::Removed : Outcome::Kept;
    const int parent = ::open(QFile::encodeName(transferpaths::ParentOf(entry.path)).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0)
        return Outcome::Kept;
    const QByteArray name = QFile::encodeName(transferpaths::NameOf(entry.path));
    const bool removed = RemoveTreeAt(parent, name.constData(), 1);
    ::close(parent);
    return removed ? Outcome::Removed : Outcome::Kept;
}

SweepReport SweepLocalOnce() {
    static std::once_flag once;
    SweepReport report;
    std::call_once(once, [&] {
        report = Journal().Sweep(LocalSite(), RemoveLocal,
                                 std::chrono::steady_clock::now() + kLocalSweepBound);
    });
    return report;
}

bool FirstVisit(const QString& site) {
    static std::mutex mutex;
    static std::set<QString> visited;
    std::lock_guard lock(mutex);
    return visited.insert(site).second;
}

} // namespace tempjournal
