#include "LocalFind.h"

#include <QDir>
#include <QFile>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {
void FillFromStat(LocalFindEntry& entry, const struct stat& st) {
    entry.isFolder = S_ISDIR(st.st_mode);
    entry.size = entry.isFolder ? 0 : static_cast<std::uint64_t>(st.st_size);
    entry.creationTime = st.st_ctim.tv_sec;
    entry.accessTime = st.st_atim.tv_sec;
    entry.lastWriteTime = st.st_mtim.tv_sec;
}

bool StatPath(const QByteArray& path, struct stat& st) {
    if (::stat(path.constData(), &st) == 0)
        return true;
    return ::lstat(path.constData(), &st) == 0;
}

bool IsLinkAt(int dirFd, const char* name) {
    struct stat st {};
    return ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}
} // namespace

CLocalFind::~CLocalFind() {
    Close();
}

void CLocalFind::Close() {
    if (m_dir) {
        ::closedir(static_cast<DIR*>(m_dir));
        m_dir = nullptr;
    }
    m_pending = 0;
}

bool CLocalFind::FindFirst(const QString& pattern) {
    Close();
    QString folder;
    if (pattern.endsWith(QStringLiteral("*.*")))
        folder = pattern.left(pattern.size() - 3);
    else if (pattern.endsWith(QLatin1Char('*')))
        folder = pattern.left(pattern.size() - 1);
    else {
        QString path = pattern;
        while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        struct stat st {};
        if (path.isEmpty() || !StatPath(QFile::encodeName(path), st))
            return false;
        m_current = LocalFindEntry{};
        m_current.name = path == QStringLiteral("/") ? path : path.section(QLatin1Char('/'), -1);
        FillFromStat(m_current, st);
        m_current.isLink = IsLinkAt(AT_FDCWD, QFile::encodeName(path).constData());
        return true;
    }
    if (folder.isEmpty())
        folder = QStringLiteral("./");
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    m_folder = QFile::encodeName(folder);
    DIR* dir = ::opendir(m_folder.constData());
    if (!dir)
        return false;
    m_dir = dir;
    m_pending = 2;
    return FindNext();
}

bool CLocalFind::FindNext() {
    if (!m_dir)
        return false;
    if (m_pending > 0) {
        const bool dot = m_pending == 2;
        --m_pending;
        m_current = LocalFindEntry{};
        m_current.name = dot ? QStringLiteral(".") : QStringLiteral("..");
        struct stat st {};
        if (StatPath(m_folder + (dot ? "." : ".."), st))
            FillFromStat(m_current, st);
        m_current.isFolder = true;
        return true;
    }
    return ReadNextFromDir();
}

bool CLocalFind::ReadNextFromDir() {
    DIR* dir = static_cast<DIR*>(m_dir);
    while (struct dirent* d = ::readdir(dir)) {
        const char* n = d->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        m_current = LocalFindEntry{};
        m_current.name = QFile::decodeName(n);
        struct stat st {};
        const int fd = ::dirfd(dir);
        if (::fstatat(fd, n, &st, 0) == 0 || ::fstatat(fd, n, &st, AT_SYMLINK_NOFOLLOW) == 0)
            FillFromStat(m_current, st);
        m_current.isLink = d->d_type == DT_LNK || (d->d_type == DT_UNKNOWN && IsLinkAt(fd, n));
        return true;
    }
    return false;
}

QStringList LocalDrives() {
    QStringList drives;
    const QString home = QDir::homePath();
    if (!home.isEmpty() && home != QStringLiteral("/") && QDir(home).exists())
        drives << QDir::cleanPath(home);
    drives << QStringLiteral("/");
    return drives;
}

QString JoinLocal(const QString& folder, const QString& name) {
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}
