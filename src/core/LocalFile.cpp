#include "LocalFile.h"

#include "TempJournal.h"
#include "TransferPaths.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
[[noreturn]] void Fail(const char* what) {
    throw LocalFileError(std::string(what) + ": " + std::strerror(errno));
}

bool IsSpecialMode(mode_t mode) {
    return S_ISFIFO(mode) || S_ISSOCK(mode) || S_ISCHR(mode) || S_ISBLK(mode);
}

// Opens with O_NONBLOCK, so that a pipe put in the file's place after it was
// looked at cannot hold the open, and keeps the descriptor only when it is a
// regular file. Reads and writes of a regular file never block on that flag, but
// it is cleared all the same.
int OpenRegular(const QString& path, int flags, mode_t mode) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), flags | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status >= 0)
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return fd;
}
} // namespace

namespace localfile {
Kind KindOf(const QString& path, bool followLink) {
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if ((followLink ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0)
        return Kind::Missing;
    if (S_ISREG(st.st_mode))
        return Kind::Regular;
    if (S_ISDIR(st.st_mode))
        return Kind::Folder;
    if (S_ISLNK(st.st_mode))
        return Kind::Link;
    return IsSpecialMode(st.st_mode) ? Kind::Special : Kind::Other;
}
} // namespace localfile

LocalFile::~LocalFile() {
    if (!m_tempPath.isEmpty())
        DiscardTemp();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool LocalFile::OpenRead(const QString& path) {
    // A folder, a pipe, a socket or a device is not a file to copy: a pipe's open
    // waits for a writer, and its reads for data that may never come. A link to
    // a file is read as the file.
    if (localfile::KindOf(path, true) != localfile::Kind::Regular) {
        errno = EINVAL;
        return false;
    }
    m_fd = OpenRegular(path, O_RDONLY, 0);
    return m_fd >= 0;
}

bool LocalFile::OpenCreate(const QString& path) {
    // Never written through a link, nor into a pipe or device of that name (the
    // open of a pipe without a reader would wait for good). The file is emptied
    // only once it is known to be a regular one.
    const localfile::Kind kind = localfile::KindOf(path, false);
    if (kind != localfile::Kind::Regular && kind != localfile::Kind::Missing) {
        errno = kind == localfile::Kind::Folder ? EISDIR : EINVAL;
        return false;
    }
    m_fd = OpenRegular(path, O_WRONLY | O_CREAT | O_NOFOLLOW, 0666);
    if (m_fd >= 0 && ::ftruncate(m_fd, 0) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    return m_fd >= 0;
}

bool LocalFile::OpenTempBeside(const QString& target) {
    // A few tries: the random part makes a clash unlikely, O_EXCL makes it harmless.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString path = transferpaths::TempSibling(target, QStringLiteral("part"));
        // Written down first: a kill right after the open still leaves a record.
        tempjournal::Note(tempjournal::LocalSite(), tempjournal::Kind::File, path);
        m_fd = ::open(QFile::encodeName(path).constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            m_tempPath = path;
            return true;
        }
        const int error = errno;
        tempjournal::Forget(tempjournal::LocalSite(), path);
        errno = error;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

void LocalFile::CommitOver(const QString& target, mode_t mode, uid_t owner, gid_t group) {
    try {
        if (::fchmod(m_fd, mode & 07777) != 0)
            Fail("chmod");
        // Only root may give a file away; anyone else keeps the file as theirs.
        if (::geteuid() == 0 && ::fchown(m_fd, owner, group) != 0)
            Fail("chown");
        if (::fsync(m_fd) != 0)
            Fail("fsync");
        Close();
        if (::rename(QFile::encodeName(m_tempPath).constData(),
                     QFile::encodeName(target).constData()) != 0)
            Fail("rename");
    } catch (const LocalFileError&) {
        DiscardTemp();
        throw;
    }
    tempjournal::Forget(tempjournal::LocalSite(), m_tempPath);
    m_tempPath.clear();
}

void LocalFile::DiscardTemp() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    // A part that cannot be removed now stays in the journal, for a later run.
    if (!m_tempPath.isEmpty() &&
        (::unlink(QFile::encodeName(m_tempPath).constData()) == 0 || errno == ENOENT))
        tempjournal::Forget(tempjournal::LocalSite(), m_tempPath);
    m_tempPath.clear();
}

std::uint64_t LocalFile::Length() const {
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

void LocalFile::ContinueAt(std::uint64_t offset, bool cut) {
    if (cut && ::ftruncate(m_fd, static_cast<off_t>(offset)) != 0)
        Fail("truncate");
    if (::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0)
        Fail("seek");
}

std::pair<std::uint64_t, std::int64_t> LocalFile::Stamp() const {
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return {0, 0};
    return {static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::size_t LocalFile::Read(char* buffer, std::size_t count) {
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, count);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            Fail("read");
    }
}

void LocalFile::Write(const char* buffer, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(m_fd, buffer, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("write");
        }
        buffer += n;
        count -= static_cast<std::size_t>(n);
    }
}

void LocalFile::Close() {
    if (m_fd < 0)
        return;
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR)
        Fail("close");
}
