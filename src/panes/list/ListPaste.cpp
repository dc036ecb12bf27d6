// A paste: items recorded by Ctrl+C (or copied in a file manager) copied into a
// folder of either side, with the status window, by the rules of a drop.
#include "CommScope.h"
#include "ListItems.h"
#include "LocalOps.h"
#include "Messages.h"
#include "MyListView.h"
#include "PaneClipboard.h"

namespace {
QString PasteOperation(bool sourceFtp, bool destFtp) {
    if (!sourceFtp && !destFtp)
        return QStringLiteral("Copying files from Local Computer to Local Computer - Please Wait");
    return CommScope::Operation(sourceFtp, destFtp);
}
} // namespace

bool CMyListView::CopyClipItems(const QList<ClipItem>& items, bool sourceFtp,
                                const QString& destFolder, bool destIsFtp) {
    CommScope comm(m_frame, App(), PasteOperation(sourceFtp, destIsFtp));
    CCommStatusDlg* dlg = comm.Dlg();
    const bool sameSide = sourceFtp == destIsFtp;
    for (const ClipItem& item : items) {
        // A name that would lead out of the destination names no copy.
        if (!IsValidItemName(item.name))
            continue;
        const QString& src = item.path;
        const QString dst = destFolder + item.name;
        bool ok = false;
        if (item.folder) {
            if (RefuseSameFolder(src, dst, sameSide) || !ReplaceCheck(dst, destIsFtp))
                return false;
            if (!sourceFtp)
                ok = destIsFtp ? dlg->CopyFolderLocalToFtp(src, dst) : CopyLocalFolder(src, dst);
            else
                ok = destIsFtp ? dlg->CopyFolderFtpToFtp(src, dst)
                               : dlg->CopyFolderFtpToLocal(src, dst);
        } else {
            if (sameSide && NormalizedPath(src) == NormalizedPath(dst)) {
                // A file copied onto itself would be emptied by its own copy.
                ReportCopyFileError(this);
                return false;
            }
            if (!sourceFtp)
                ok = destIsFtp ? dlg->CopyLocalToFtp(src, dst) : CopyLocalFile(src, dst);
            else
                ok = destIsFtp ? dlg->CopyFtpToFtp(src, dst) : dlg->CopyFtpToLocal(src, dst);
        }
        if (!ok)
            return false;
    }
    return true;
}
