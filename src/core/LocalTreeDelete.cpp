#include "LocalTreeDelete.h"

#include <QFile>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

#include "Interrupt.h"
#include "Job.h"
#include "LocalFileOps.h"
#include "PathRules.h"

namespace core {
namespace {

struct Entry {
    QString name;
    bool folder = false; // a real folder, never a link to one
};

// The folder's entries read whole before anything in it goes, so that removing
// them never disturbs the reading.
bool ReadEntries(const QString& folder, std::vector<Entry>& entries) {
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return false;
    const int fd = ::dirfd(dir);
    while (const struct dirent* d = ::readdir(dir)) {
        const char* n = d->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        Entry entry{QFile::decodeName(n), d->d_type == DT_DIR};
        if (d->d_type == DT_UNKNOWN) {
            struct stat st {};
            entry.folder = ::fstatat(fd, n, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return true;
}

class LocalWalk {
public:
    explicit LocalWalk(const DeleteProgress& progress) : m_progress(progress) {}

    OpResult Run(const QString& path) {
        m_root = path;
        const QString self = pathrules::WithoutTrailingSlash(path);
        if (IsLocalSymLink(self))
            return File(self);
        return Folder(path);
    }

private:
    OpResult Folder(const QString& path) {
        std::vector<Entry> entries;
        // An unreadable folder is not emptied; its removal below fails and says so.
        ReadEntries(path, entries);
        for (const Entry& entry : entries) {
            if (ftp::Interrupted())
                return Stopped(path);
            const QString child = path + entry.name;
            if (entry.folder && entry.name.startsWith(QLatin1Char('.')))
                continue;
            const OpResult done = entry.folder ? Folder(child + QLatin1Char('/')) : File(child);
            if (!done)
                return done;
        }
        if (ftp::Interrupted())
            return Stopped(path);
        const OpResult removed = DeleteEmptyLocalFolder(path);
        return removed ? Gone(path, removed) : removed;
    }

    OpResult File(const QString& path) {
        const OpResult deleted = DeleteLocalFile(path);
        return deleted ? Gone(path, deleted) : deleted;
    }

    OpResult Gone(const QString& path, const OpResult& done) {
        ++m_deleted;
        if (m_progress)
            m_progress(m_deleted, path);
        return done;
    }

    OpResult Stopped(const QString& where) const {
        QString detail = QStringLiteral("The delete was cancelled.\n\nThe delete stopped at ") +
                         where + QStringLiteral(".\n");
        if (m_deleted == 0)
            detail += QStringLiteral("Nothing was deleted.");
        else
            detail += QStringLiteral("%1 item(s) were deleted; %2 remains with everything that "
                                     "was not deleted yet.")
                          .arg(m_deleted)
                          .arg(m_root);
        return OpResult::Error(FileOp::DeleteFolder, OpErrorKind::Cancelled, where,
                               QStringLiteral("The operation was cancelled."), detail);
    }

    const DeleteProgress& m_progress;
    QString m_root;
    int m_deleted = 0;
};

} // namespace

OpResult DeleteLocalTreeNow(const QString& path, const DeleteProgress& progress) {
    return LocalWalk(progress).Run(path);
}

OpResult DeleteLocalTree(const QString& path, const std::atomic<int>* cancel,
                         DeleteProgress progress) {
    return RunHere([&] { return DeleteLocalTreeNow(path, progress); }, cancel);
}

} // namespace core
