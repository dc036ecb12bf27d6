#include "TreeScan.h"

#include <QFile>
#include <set>
#include <sys/stat.h>
#include <utility>

#include "LocalFind.h"

namespace treescan {
namespace {

using FolderId = std::pair<dev_t, ino_t>;

class LocalScan {
public:
    LocalScan(Result& result, const std::function<bool()>& keepGoing)
        : m_result(result), m_keepGoing(keepGoing) {}

    bool Folder(const QString& path, const QString& relative, int level) {
        // The folder the user chose may itself be a link; only the links found
        // inside it are never followed.
        struct stat st {};
        const QByteArray bytes = QFile::encodeName(path);
        const int got =
            level == 1 ? ::stat(bytes.constData(), &st) : ::lstat(bytes.constData(), &st);
        if (got != 0 || !S_ISDIR(st.st_mode))
            return Stopped(Stop::Unreadable, path);
        if (level > kMaxDepth)
            return Stopped(Stop::TooDeep, path);
        if (!m_seen.insert({st.st_dev, st.st_ino}).second)
            return Stopped(Stop::Cycle, path);
        if (m_keepGoing && !m_keepGoing())
            return Stopped(Stop::Cancelled, path);
        CLocalFind find;
        if (!find.FindFirst(JoinLocal(path, QStringLiteral("*.*"))))
            return Stopped(Stop::Unreadable, path);
        do {
            if (!Entry(path, relative, find.Current().name, level))
                return false;
        } while (find.FindNext());
        return true;
    }

private:
    bool Entry(const QString& folder, const QString& relative, const QString& name, int level) {
        if (name == QStringLiteral(".") || name == QStringLiteral(".."))
            return true;
        const QString path = JoinLocal(folder, name);
        const QString childRelative = relative.isEmpty() ? name : relative + '/' + name;
        const QByteArray bytes = QFile::encodeName(path);
        struct stat own {};
        struct stat target {};
        if (::lstat(bytes.constData(), &own) != 0)
            return Stopped(Stop::Unreadable, folder); // gone while we looked
        if (S_ISLNK(own.st_mode)) {
            // Never followed: a link to a folder may point anywhere, even at an
            // ancestor. A link to a file (or to nothing) is copied as a file.
            const bool resolves = ::stat(bytes.constData(), &target) == 0;
            if (resolves && S_ISDIR(target.st_mode)) {
                ++m_result.skippedFolderLinks;
                return true;
            }
            return File(childRelative, !resolves || S_ISREG(target.st_mode));
        }
        if (!S_ISDIR(own.st_mode))
            return File(childRelative, S_ISREG(own.st_mode));
        if (IsHiddenFolderName(name))
            return true;
        m_result.items.push_back({childRelative, true});
        return Folder(path, childRelative, level + 1);
    }

    // A pipe, a socket or a device would hold the copy in its open or its reads.
    bool File(const QString& relative, bool regular) {
        if (regular)
            m_result.items.push_back({relative, false});
        else
            m_result.skippedSpecial.push_back(relative);
        return true;
    }

    bool Stopped(Stop stop, const QString& where) {
        m_result.stop = stop;
        m_result.where = where;
        return false;
    }

    Result& m_result;
    const std::function<bool()>& m_keepGoing;
    std::set<FolderId> m_seen;
};

} // namespace

bool IsHiddenFolderName(const QString& name) {
    return name.startsWith(QLatin1Char('.'));
}

Result ScanLocal(const QString& root, const std::function<bool()>& keepGoing) {
    Result result;
    LocalScan scan(result, keepGoing);
    scan.Folder(root, QString(), 1);
    return result;
}

} // namespace treescan
