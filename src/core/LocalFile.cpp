#include "LocalFile.h"

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
} // namespace

LocalFile::~LocalFile() {
    if (!m_tempPath.isEmpty())
        DiscardTemp();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool LocalFile::OpenRead(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    // A folder, a pipe or a device is not a file to copy (a pipe would block forever).
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

bool LocalFile::OpenCreate(const QString& path) {
    m_fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return m_fd >= 0;
}

bool LocalFile::OpenTempBeside(const QString& target) {
    // A few tries: the random part makes a clash unlikely, O_EXCL makes it harmless.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString path = transferpaths::TempSibling(target, QStringLiteral("part"));
        m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                      0600);
        if (m_fd >= 0) {
            m_tempPath = path;
            return true;
        }
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
    m_tempPath.clear();
}

void LocalFile::DiscardTemp() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.isEmpty())
        ::unlink(QFile::encodeName(m_tempPath).constData());
    m_tempPath.clear();
}

std::uint64_t LocalFile::Length() const {
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
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
