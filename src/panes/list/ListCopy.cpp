// Copying the list pane's items, a tree folder or a file manager's files into a
// folder of either side, and the two purely local copy routines.
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

core::Task<bool> CMyListView::CopyLocalFile(QString src, QString dst) {
    if (m_localCopyDlg)
        co_return co_await m_localCopyDlg->CopyLocalToLocal(src, dst); // it reports its own errors
    if (CopyLocalFileWhole(src, dst))
        co_return true;
    ReportCopyFileError(this);
    co_return false;
}

core::Task<bool> CMyListView::CopyLocalFolder(QString src, QString dst) {
    if (pathrules::IsSameOrInside(src, dst)) {
        ReportSameFolder(this);
        co_return false;
    }
    // The whole source is looked at before anything is made: links are not
    // followed, and a tree that is too deep or leads back into itself is refused.
    const treescan::Result scan = treescan::ScanLocal(src, nullptr);
    if (copymessages::ReportScanStop(this, scan))
        co_return false;
    // Always on the local disk, whichever pane is asked.
    if (!CreateLocalFolder(dst))
        co_return false;
    for (const treescan::Item& item : scan.items) {
        const QString to = JoinLocal(dst, item.relative);
        bool ok = false;
        if (item.isFolder)
            ok = CreateLocalFolder(to);
        else
            ok = co_await CopyLocalFile(JoinLocal(src, item.relative), to);
        if (!ok)
            co_return false;
    }
    if (!scan.skippedSpecial.empty())
        copymessages::SpecialSkipped(this, copychecks::SkippedList(src, scan.skippedSpecial));
    co_return true;
}

bool CMyListView::RefuseSameFolder(const QString& src, const QString& dst, bool sameSide) {
    // The replace-check would delete the source, or a folder that holds it,
    // before any copy routine could refuse.
    if (!sameSide || !pathrules::Overlap(src, dst))
        return false;
    ReportSameFolder(this);
    return true;
}

core::Task<bool> CMyListView::CopyItems(CMyListView* source, QString destFolder, bool destIsFtp,
                                        CCommStatusDlg* dlg) {
    QList<ClipItem> items;
    for (int row : source->SelectedRows()) {
        const QString name = source->ItemName(row);
        items.append({source->m_path + name, name, source->IsFolderItem(row)});
    }
    co_return co_await CopyEntries(items, source->m_side == 1, destFolder, destIsFtp, dlg);
}

namespace {
// Copies a whole folder from src to into, by the side each is on.
core::Task<bool> CopyFolderTo(CMyListView* pane, CCommStatusDlg* dlg, bool sourceFtp,
                              bool destIsFtp, QString src, QString into) {
    if (!sourceFtp) {
        if (!destIsFtp)
            co_return co_await pane->CopyLocalFolder(src, into);
        co_return co_await dlg->CopyFolderLocalToFtp(pathrules::WithoutTrailingSlash(src), into);
    }
    if (destIsFtp)
        co_return co_await dlg->CopyFolderFtpToFtp(src, into);
    co_return co_await dlg->CopyFolderFtpToLocal(src, into);
}
} // namespace

core::Task<bool> CMyListView::CopyEntries(QList<ClipItem> items, bool sourceFtp,
                                          QString destFolder, bool destIsFtp,
                                          CCommStatusDlg* dlg) {
    using Way = core::BatchFile::Way;
    const bool sameSide = sourceFtp == destIsFtp;
    LocalCopyWindow local(this, !sourceFtp && !destIsFtp ? dlg : nullptr);
    // Files next to each other in the selection go as one batch, a few at a time.
    const bool batches = sourceFtp || destIsFtp;
    const Way way = !sourceFtp ? Way::Upload : destIsFtp ? Way::BetweenRemotes : Way::Download;
    std::vector<core::BatchFile> batch;
    for (const ClipItem& item : items) {
        const QString src = item.path;
        const QString dst = destFolder + item.name;
        const bool selfCopy = !item.folder && sameSide && pathrules::IsSamePath(src, dst);
        if (!item.folder && batches && !selfCopy) {
            batch.push_back({way, src, dst, false, 0});
            continue;
        }
        if (!batch.empty()) {
            const bool flushed = co_await dlg->CopyFiles(std::exchange(batch, {}));
            if (!flushed)
                co_return false;
        }
        if (selfCopy) {
            // A file copied onto itself would be emptied by its own copy.
            ReportCopyFileError(this);
            co_return false;
        }
        bool ok = false;
        if (item.folder) {
            if (RefuseSameFolder(src, dst, sameSide))
                co_return false;
            const FolderCopier copy = [=, this](QString into) {
                return CopyFolderTo(this, dlg, sourceFtp, destIsFtp, src, into);
            };
            ok = co_await CopyFolderReplacing(this, destIsFtp, dst, copy);
        } else {
            ok = co_await CopyLocalFile(src, dst);
        }
        if (!ok)
            co_return false;
    }
    if (batch.empty())
        co_return true;
    co_return co_await dlg->CopyFiles(std::move(batch));
}

core::Task<bool> CMyListView::CopyTreeFolder(QString destFolder, bool destIsFtp,
                                             CCommStatusDlg* dlg) {
    const int kind = m_doc->m_dragSourceKind;
    const bool sourceFtp = kind == DRAG_FTP_TREE;
    const QString src = m_doc->m_dragFolderPath;
    const QString name = m_doc->m_dragFolderName;
    if (!pathrules::IsPathElement(name) || src.isEmpty())
        co_return false;
    const QString dst = destFolder + name;
    if (RefuseSameFolder(src, dst, sourceFtp == destIsFtp))
        co_return false;
    LocalCopyWindow local(this, !sourceFtp && !destIsFtp ? dlg : nullptr);
    const FolderCopier copy = [=, this](QString into) {
        return CopyFolderTo(this, dlg, sourceFtp, destIsFtp, src, into);
    };
    co_return co_await CopyFolderReplacing(this, destIsFtp, dst, copy);
}

core::Task<bool> CMyListView::CopySelectedTo(QString destPath, int destIsFtp) {
    const bool toFtp = destIsFtp != 0;
    const bool fromFtp = m_side == 1;
    CommScope comm(m_frame, App(), CommScope::Operation(fromFtp, toFtp));
    co_return co_await CopyItems(this, destPath, toFtp, comm.Dlg());
}

core::Task<bool> CMyListView::UploadLocalPaths(QStringList paths, QString destPath) {
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
    co_return co_await CopyEntries(items, false, destPath, true, comm.Dlg());
}
