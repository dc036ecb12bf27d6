// Copying a folder with everything below it, depth first. The destination folder
// is made first; the first failure anywhere ends the whole copy, on every level,
// and nothing already copied is removed.
#include <QFile>
#include <cerrno>
#include <sys/stat.h>

#include "CommStatusDlg.h"
#include "FrameBase.h"
#include "FtpConnection.h"
#include "FtpFileFind.h"
#include "LocalFind.h"
#include "MessageBox.h"
#include "Messages.h"
#include "TransferPaths.h"
#include "VelmarApp.h"

using transferpaths::IsUsableListingName;
using transferpaths::JoinRemote;

namespace {
bool IsHiddenFolderName(const QString& name) {
    return name.startsWith(QLatin1Char('.'));
}
} // namespace

void CCommStatusDlg::ReportCreateFolderError() {
    ReportCreateDirectoryError(m_mainFrame);
}

bool CCommStatusDlg::CreateRemoteFolder(const QString& path) {
    bool created = false;
    try {
        created = m_app->m_ftpConnection && m_app->m_ftpConnection->CreateDirectory(path);
    } catch (const std::exception&) {
        created = false;
    }
    if (!created)
        ReportCreateFolderError();
    return created;
}

bool CCommStatusDlg::CreateLocalFolder(const QString& path) {
    // Fails when the folder exists already or its parent is missing, as it must:
    // a copy never merges into an existing folder.
    if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0)
        return true;
    ReportCreateFolderError();
    return false;
}

bool CCommStatusDlg::CopyFolderLocalToFtp(QString source, QString destination) {
    if (!CreateRemoteFolder(destination))
        return false;
    CLocalFind find;
    if (!find.FindFirst(JoinLocal(source, QStringLiteral("*.*"))))
        return true;
    do {
        const QString name = find.Current().name;
        const bool isFolder = find.Current().isFolder;
        bool ok = true;
        if (isFolder) {
            if (IsHiddenFolderName(name))
                continue;
            ok = CopyFolderLocalToFtp(JoinLocal(source, name), JoinRemote(destination, name));
        } else {
            ok = CopyLocalToFtp(JoinLocal(source, name), JoinRemote(destination, name));
        }
        if (!ok)
            return false;
    } while (find.FindNext());
    return true;
}

// The walk of a remote source folder, shared by both directions: each level lists
// through a connection of its own, so that the main connection stays free for
// making folders and moving files. The listing is taken whole and its connection
// closed before the entries are copied: a deep tree then holds one connection per
// level only while that level is listed, not for the whole copy.
template <typename CopyFolder, typename CopyFile>
bool CCommStatusDlg::WalkRemoteFolder(const QString& source, CopyFolder copyFolder,
                                      CopyFile copyFile) {
    ExtraConnection enumeration;
    try {
        enumeration = OpenExtraConnection();
    } catch (const std::exception& error) {
        ReportCopyError(error);
        return false;
    }
    std::vector<FtpListEntry> entries;
    try {
        CFtpFileFind find(enumeration.get(), 1);
        bool more = find.FindFile(JoinRemote(source, QStringLiteral("*.*")), INTERNET_FLAG_RELOAD);
        while (more) {
            more = find.FindNextFile();
            FtpListEntry entry;
            entry.name = find.GetFileName();
            entry.isFolder = find.MatchesMask(FILE_ATTRIBUTE_DIRECTORY);
            if (IsUsableListingName(entry.name))
                entries.push_back(std::move(entry));
        }
        find.Close();
    } catch (const std::exception& error) {
        ReportCopyError(error);
        return false;
    }
    enumeration.reset();
    for (const FtpListEntry& entry : entries) {
        bool ok = true;
        if (entry.isFolder) {
            if (IsHiddenFolderName(entry.name))
                continue;
            ok = copyFolder(JoinRemote(source, entry.name), entry.name);
        } else {
            ok = copyFile(JoinRemote(source, entry.name), entry.name);
        }
        if (!ok)
            return false;
    }
    return true;
}

bool CCommStatusDlg::CopyFolderFtpToLocal(QString source, QString destination) {
    if (!CreateLocalFolder(destination))
        return false;
    return WalkRemoteFolder(
        source,
        [&](const QString& child, const QString& name) {
            return CopyFolderFtpToLocal(child, JoinLocal(destination, name));
        },
        [&](const QString& child, const QString& name) {
            return CopyFtpToLocal(child, JoinLocal(destination, name));
        });
}

bool CCommStatusDlg::CopyFolderFtpToFtp(QString source, QString destination) {
    if (!CheckFolderNotInside(source, destination))
        return false;
    if (!CreateRemoteFolder(destination))
        return false;
    return WalkRemoteFolder(
        source,
        [&](const QString& child, const QString& name) {
            return CopyFolderFtpToFtp(child, JoinRemote(destination, name));
        },
        [&](const QString& child, const QString& name) {
            return CopyFtpToFtp(child, JoinRemote(destination, name));
        });
}
