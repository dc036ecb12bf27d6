#include "LocalFileOps.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "LocalFile.h"

namespace core {
namespace {
OpResult Outcome(bool ok, FileOp op, const QString& path) {
    if (ok)
        return OpResult::Done(op);
    const bool taken = op == FileOp::Rename && errno == EEXIST;
    return OpResult::Error(op, taken ? OpErrorKind::NameTaken : OpErrorKind::Failed, path,
                           SystemWords());
}
} // namespace

QString SystemWords() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool RenameLocalNoReplace(const QString& oldPath, const QString& newPath) {
    const QByteArray from = QFile::encodeName(oldPath);
    const QByteArray to = QFile::encodeName(newPath);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace flag: look first, then rename.
    struct stat st {};
    if (::lstat(to.constData(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
}

bool RemoveLocalFile(const QString& path) {
    const QByteArray bytes = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(bytes.constData(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    // Read-only means "not writable by us" (the effective user, as the kernel
    // checks); a link has no permissions of its own.
    if (!S_ISLNK(st.st_mode) && ::faccessat(AT_FDCWD, bytes.constData(), W_OK, AT_EACCESS) != 0)
        return false;
    return ::unlink(bytes.constData()) == 0;
}

bool RemoveLocalFolder(const QString& path) {
    return ::rmdir(QFile::encodeName(path).constData()) == 0;
}

bool MakeLocalFolder(const QString& path) {
    return ::mkdir(QFile::encodeName(path).constData(), 0777) == 0;
}

bool IsLocalSymLink(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool LocalPathExists(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool CopyLocalFileData(const QString& src, const QString& dst) {
    // Through LocalFile, so that a pipe, a socket or a device at either end is
    // refused and never opened (its open could wait for good).
    struct stat from {};
    struct stat to {};
    const QByteArray dstName = QFile::encodeName(dst);
    if (::stat(QFile::encodeName(src).constData(), &from) != 0)
        return false;
    // The source under another name would be emptied before it is read.
    if (::stat(dstName.constData(), &to) == 0 && to.st_dev == from.st_dev &&
        to.st_ino == from.st_ino)
        return false;
    LocalFile in;
    LocalFile out;
    if (!in.OpenRead(src) || !out.OpenCreate(dst))
        return false;
    try {
        std::vector<char> buffer(std::size_t{1} << 16);
        while (const std::size_t n = in.Read(buffer.data(), buffer.size()))
            out.Write(buffer.data(), n);
        out.Close();
    } catch (const LocalFileError&) {
        return false;
    }
    ::chmod(dstName.constData(), from.st_mode & 07777);
    const struct timespec times[2] = {from.st_atim, from.st_mtim};
    ::utimensat(AT_FDCWD, dstName.constData(), times, 0);
    return true;
}

OpResult CreateLocalFolder(const QString& path) {
    return Outcome(MakeLocalFolder(path), FileOp::CreateFolder, path);
}

OpResult RenameLocal(const QString& oldPath, const QString& newPath) {
    return Outcome(RenameLocalNoReplace(oldPath, newPath), FileOp::Rename, newPath);
}

OpResult DeleteLocalFile(const QString& path) {
    return Outcome(RemoveLocalFile(path), FileOp::DeleteFile, path);
}

OpResult DeleteEmptyLocalFolder(const QString& path) {
    return Outcome(RemoveLocalFolder(path), FileOp::DeleteFolder, path);
}

} // namespace core
