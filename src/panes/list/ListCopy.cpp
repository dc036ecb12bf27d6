// Copying the list pane's items, a tree folder or a file manager's files into a
// folder of either side, and the two purely local copy routines.
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

#include "CommScope.h"
#include "CopyChecks.h"
#include "CopyMessages.h"
#include "FolderReplace.h"
#include "ListItems.h"
#include "LocalFileOps.h"
#include "LocalFind.h"
#include "MessageBox.h"
#include "Messages.h"
#include "MyListView.h"
#include "PaneClipboard.h"
#include "PathRules.h"
#include "TransferPaths.h"
#include "TreeScan.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"

namespace {
// A file (or a link) already at dst is replaced only by a whole copy: the data
// goes to a name beside it first, which then takes dst's name.
bool CopyLocalFileWhole(const QString& src, const QString& dst) {
    struct stat st {};
    const bool replacing = ::lstat(QFile::encodeName(dst).constData(), &st) == 0 &&
                           (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode));
    if (!replacing)
        return core::CopyLocalFileData(src, dst);
    const QString temp = transferpaths::TempSibling(dst, QStringLiteral("part"));
    const QByteArray tempName = QFile::encodeName(temp);
    if (core::CopyLocalFileData(src, temp) &&
        ::rename(tempName.constData(), QFile::encodeName(dst).constData()) == 0)
        return true;
    ::unlink(tempName.constData());
    return false;
}

// Local copies go through the status window for as long as one of these lives.
class LocalCopyWindow {
public:
    LocalCopyWindow(CMyListView* list, CCommStatusDlg* dlg)
        : m_list(list), m_old(list->m_localCopyDlg) {
        list->m_localCopyDlg = dlg;
    }
    ~LocalCopyWindow() { m_list->m_localCopyDlg = m_old; }
    LocalCopyWindow(const LocalCopyWindow&) = delete;
    LocalCopyWindow& operator=(const LocalCopyWindow&) = delete;

private:
    CMyListView* m_list;
    CCommStatusDlg* m_old;
};
} // namespace

bool CMyListView::CopyLocalFile(const QString& src, const QString& dst) {
    if (m_localCopyDlg)
        return m_localCopyDlg->CopyLocalToLocal(src, dst); // it reports its own errors
    if (CopyLocalFileWhole(src, dst))
        return true;
    ReportCopyFileError(this);
    return false;
}

bool CMyListView::CopyLocalFolder(const QString& src, const QString& dst) {
    if (pathrules::IsSameOrInside(src, dst)) {
        ReportSameFolder(this);
        return false;
    }
    // The whole source is looked at before anything is made: links are not
    // followed, and a tree that is too deep or leads back into itself is refused.
    const treescan::Result scan = treescan::ScanLocal(src, nullptr);
    if (copymessages::ReportScanStop(this, scan))
        return false;
    // Always on the local disk, whichever pane is asked.
    if (!CreateLocalFolder(dst))
        return false;
    for (const treescan::Item& item : scan.items) {
        const QString to = JoinLocal(dst, item.relative);
        const bool ok = item.isFolder ? CreateLocalFolder(to)
                                      : CopyLocalFile(JoinLocal(src, item.relative), to);
        if (!ok)
            return false;
    }
    if (!scan.skippedSpecial.empty())
        copymessages::SpecialSkipped(this, copychecks::SkippedList(src, scan.skippedSpecial));
    return true;
}

bool CMyListView::RefuseSameFolder(const QString& src, const QString& dst, bool sameSide) {
    // The replace-check would delete the source, or a folder that holds it,
    // before any copy routine could refuse.
    if (!sameSide || !pathrules::Overlap(src, dst))
        return false;
    ReportSameFolder(this);
    return true;
}

bool CMyListView::CopyItems(CMyListView* source, const QString& destFolder, bool destIsFtp,
                            CCommStatusDlg* dlg) {
    QList<ClipItem> items;
    for (int row : source->SelectedRows()) {
        const QString name = source->ItemName(row);
        items.append({source->m_path + name, name, source->IsFolderItem(row)});
    }
    return CopyEntries(items, source->m_side == 1, destFolder, destIsFtp, dlg);
}

bool CMyListView::CopyEntries(const QList<ClipItem>& items, bool sourceFtp,
                              const QString& destFolder, bool destIsFtp, CCommStatusDlg* dlg) {
    using Way = core::BatchFile::Way;
    const bool sameSide = sourceFtp == destIsFtp;
    LocalCopyWindow local(this, !sourceFtp && !destIsFtp ? dlg : nullptr);
    // Files next to each other in the selection go as one batch, a few at a time.
    const bool batches = sourceFtp || destIsFtp;
    const Way way = !sourceFtp ? Way::Upload : destIsFtp ? Way::BetweenRemotes : Way::Download;
    std::vector<core::BatchFile> batch;
    auto flush = [&] {
        const bool ok = batch.empty() || dlg->CopyFiles(batch);
        batch.clear();
        return ok;
    };
    for (const ClipItem& item : items) {
        const QString& src = item.path;
        const QString dst = destFolder + item.name;
        if (!item.folder && sameSide && pathrules::IsSamePath(src, dst)) {
            // A file copied onto itself would be emptied by its own copy.
            if (flush())
                ReportCopyFileError(this);
            return false;
        }
        if (!item.folder && batches) {
            batch.push_back({way, src, dst, false, 0});
            continue;
        }
        if (!flush())
            return false;
        bool ok = false;
        if (item.folder) {
            if (RefuseSameFolder(src, dst, sameSide))
                return false;
            ok = CopyFolderReplacing(this, destIsFtp, dst, [&](const QString& into) {
                if (!sourceFtp)
                    return destIsFtp ? dlg->CopyFolderLocalToFtp(src, into)
                                     : CopyLocalFolder(src, into);
                return destIsFtp ? dlg->CopyFolderFtpToFtp(src, into)
                                 : dlg->CopyFolderFtpToLocal(src, into);
            });
        } else {
            ok = CopyLocalFile(src, dst);
        }
        if (!ok)
            return false;
    }
    return flush();
}

bool CMyListView::CopyTreeFolder(const QString& destFolder, bool destIsFtp, CCommStatusDlg* dlg) {
    const int kind = m_doc->m_dragSourceKind;
    const bool sourceFtp = kind == DRAG_FTP_TREE;
    const QString src = m_doc->m_dragFolderPath;
    const QString name = m_doc->m_dragFolderName;
    if (!pathrules::IsPathElement(name) || src.isEmpty())
        return false;
    const QString dst = destFolder + name;
    if (RefuseSameFolder(src, dst, sourceFtp == destIsFtp))
        return false;
    LocalCopyWindow local(this, !sourceFtp && !destIsFtp ? dlg : nullptr);
    return CopyFolderReplacing(this, destIsFtp, dst, [&](const QString& into) {
        if (!sourceFtp) {
            if (!destIsFtp)
                return CopyLocalFolder(src, into);
            return dlg->CopyFolderLocalToFtp(pathrules::WithoutTrailingSlash(src), into);
        }
        return destIsFtp ? dlg->CopyFolderFtpToFtp(src, into)
                         : dlg->CopyFolderFtpToLocal(src, into);
    });
}

bool CMyListView::CopySelectedTo(const QString& destPath, int destIsFtp) {
    const bool toFtp = destIsFtp != 0;
    const bool fromFtp = m_side == 1;
    CommScope comm(m_frame, App(), CommScope::Operation(fromFtp, toFtp));
    return CopyItems(this, destPath, toFtp, comm.Dlg());
}

bool CMyListView::UploadLocalPaths(const QStringList& paths, const QString& destPath) {
    CommScope comm(m_frame, App(), CommScope::Operation(false, true));
    QList<ClipItem> items;
    for (const QString& path : paths) {
        const QString src = pathrules::WithoutTrailingSlash(path);
        const QString name = src.section(QLatin1Char('/'), -1);
        // The root or a path without a name of its own has nothing to name the
        // copy after.
        if (!src.startsWith(QLatin1Char('/')) || !pathrules::IsPathElement(name))
            continue;
        items.append({src, name, QFileInfo(src).isDir()});
    }
    // As a drop from the local pane: files next to each other go as one batch.
    return CopyEntries(items, false, destPath, true, comm.Dlg());
}
