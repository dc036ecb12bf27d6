#include "LocalFileOps.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace core {
namespace {
std::filesystem::path FsPath(const QString& path) {
    const QByteArray bytes = QFile::encodeName(path);
    return std::filesystem::path(std::string(bytes.constData(), std::size_t(bytes.size())));
}

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
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path from = FsPath(src);
    const fs::path to = FsPath(dst);
    // Only a regular file is copied; copy_file refuses a source that is the
    // destination itself.
    if (!fs::is_regular_file(from, error))
        return false;
    if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, error))
        return false;
    const auto when = fs::last_write_time(from, error);
    if (!error)
        fs::last_write_time(to, when, error);
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
