// The tree pane's drag and drop: a folder dragged out of the tree, and whatever
// the panes (or the desktop's file manager) drop on a tree item.
#include <QCoreApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPointer>
#include <QUrl>
#include <memory>

#include "CommStatusDlg.h"
#include "FolderReplace.h"
#include "FrameBase.h"
#include "LocalFind.h"
#include "MessageBox.h"
#include "Messages.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "PathRules.h"
#include "TreeSupport.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"
#include "WaitCursor.h"

using pathrules::WithoutTrailingSlash;

namespace {
// The process that started a drag: the drag record lives in that process's
// document, so a drag of another running copy of the program is not ours.
const char* const kProcessMimeType = "application/x-velmar98-process";

const QString kToFtp =
    QStringLiteral("Copying files from Local Computer to FTP Server - Please Wait");
const QString kToLocal =
    QStringLiteral("Copying files from FTP Server to Local Computer - Please Wait");
const QString kLocalToLocal =
    QStringLiteral("Copying files from Local Computer to Local Computer - Please Wait");
const QString kFtpToFtp =
    QStringLiteral("Copying files from FTP Server to FTP Server - Please Wait");

} // namespace

QMimeData* CMyTreeView::MakeDragData(int kind) {
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kVelmarDragMime), QByteArray::number(kind));
    data->setData(QString::fromLatin1(kProcessMimeType),
                  QByteArray::number(QCoreApplication::applicationPid()));
    return data;
}

namespace {
// The drag source kind a drag of this program carries, or -1.
int DragKindOf(const QMimeData* data, const CVelmarDoc* doc) {
    if (!data || !data->hasFormat(QString::fromLatin1(kVelmarDragMime)))
        return -1;
    const QString process = QString::fromLatin1(kProcessMimeType);
    if (data->hasFormat(process) &&
        data->data(process).toLongLong() != QCoreApplication::applicationPid())
        return -1;
    bool ok = false;
    const int kind = data->data(QString::fromLatin1(kVelmarDragMime)).toInt(&ok);
    if (!ok || kind < DRAG_LOCAL_TREE || kind > DRAG_FTP_LIST || kind != doc->m_dragSourceKind)
        return -1;
    return kind;
}
} // namespace

QStringList CMyTreeView::LocalPathsOf(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = WithoutTrailingSlash(url.toLocalFile());
        if (!path.isEmpty() && path != QStringLiteral("/"))
            paths << path;
    }
    return paths;
}

bool CMyTreeView::AcceptsData(const QMimeData* data) const {
    if (DragKindOf(data, m_doc) >= 0)
        return true;
    // Files from the desktop go up to the server; the local side has its own
    // file manager for copies between local folders.
    return m_side == 1 && !LocalPathsOf(data).isEmpty();
}

void CMyTreeView::startDrag(Qt::DropActions) {
    BeginDrag(currentItem());
}

void CMyTreeView::BeginDrag(QTreeWidgetItem* item) {
    const int image = ItemImage(item);
    if (image != IMG_LOCAL_FOLDER && image != IMG_FTP_FOLDER)
        return; // drives, roots and placeholders stay where they are
    if (m_side == 0) {
        m_doc->m_dragImageIndex = 0;
        m_doc->m_dragSourceKind = DRAG_LOCAL_TREE;
        m_doc->m_dragFolderPath = GetLocalPath(item);
    } else {
        m_doc->m_dragImageIndex = 1;
        m_doc->m_dragSourceKind = DRAG_FTP_TREE;
        m_doc->m_dragFolderPath = GetFtpPath(item).chopped(1);
    }
    m_doc->m_dragFolderName = item->text(0);
    SelectItem(item);
    BeginDragHere(visualItemRect(item).center());

    QPointer<CMyTreeView> self(this);
    auto* drag = new QDrag(this);
    drag->setMimeData(MakeDragData(m_doc->m_dragSourceKind));
    drag->setPixmap(m_doc->m_dragImageList.value(m_doc->m_dragImageIndex));
    drag->setHotSpot(m_doc->m_dragImageOffset);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    if (!self)
        return;
    // Wherever it ended, the drag is over: no pane holds it any longer.
    m_doc->ClearDragHolders();
    SetDropTarget(nullptr);
}

void CMyTreeView::BeginDragHere(const QPoint&) {
    SetDropTarget(nullptr);
    m_doc->ClearDragHolders();
    if (m_side == 0)
        m_doc->m_dragLocalTree = 1;
    else
        m_doc->m_dragFtpTree = 1;
    // The image hangs 20 pixels below the pointer.
    m_doc->m_dragImageOffset = QPoint(0, -20);
}

void CMyTreeView::SetDropTarget(QTreeWidgetItem* item) {
    if (item == m_dropTarget)
        return;
    QTreeWidgetItem* old = m_dropTarget;
    m_dropTarget = item;
    if (old)
        viewport()->update(visualItemRect(old).adjusted(-40, -40, 40, 40));
    if (item)
        viewport()->update(visualItemRect(item));
}

QTreeWidgetItem* CMyTreeView::DropTargetAt(const QPoint& viewportPos, const QMimeData* data) const {
    if (m_side == 1 && App()->Site().IsUnavailable())
        return nullptr;
    if (!AcceptsData(data))
        return nullptr;
    QTreeWidgetItem* item = itemAt(viewportPos);
    if (!item || ItemImage(item) == IMG_LOCAL_COMPUTER)
        return nullptr;
    return item;
}

void CMyTreeView::dragEnterEvent(QDragEnterEvent* event) {
    if (!AcceptsData(event->mimeData()) || !(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return;
    }
    // The pane under the pointer takes the drag over.
    BeginDragHere(event->position().toPoint());
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CMyTreeView::dragMoveEvent(QDragMoveEvent* event) {
    const QPoint pos = event->position().toPoint();
    QTreeWidgetItem* target = DropTargetAt(pos, event->mimeData());
    SetDropTarget(target);
    const QRect viewRect = viewport()->rect();
    if (hasAutoScroll() && !viewRect
                                .adjusted(autoScrollMargin(), autoScrollMargin(),
                                          -autoScrollMargin(), -autoScrollMargin())
                                .contains(pos))
        startAutoScroll();
    if (!target) {
        event->ignore(); // the no-entry cursor
        return;
    }
    // Only a copy: a file manager offering a move must not delete its files.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CMyTreeView::dragLeaveEvent(QDragLeaveEvent* event) {
    // Leaving gives the drag up; the holder flag stays until another pane takes it.
    SetDropTarget(nullptr);
    stopAutoScroll();
    event->accept();
}

void CMyTreeView::dropEvent(QDropEvent* event) {
    m_doc->m_dragLocalTree = 0;
    m_doc->m_dragFtpTree = 0;
    stopAutoScroll();
    const QMimeData* data = event->mimeData();
    QTreeWidgetItem* target = DropTargetAt(event->position().toPoint(), data);
    if (!target || !(event->possibleActions() & Qt::CopyAction)) {
        SetDropTarget(nullptr);
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // The drag source (ours, or a file manager) waits for the drop event to
    // return; the question and the copy come after, from the event loop.
    auto copy = std::make_shared<QMimeData>();
    for (const QString& format : data->formats())
        copy->setData(format, data->data(format));
    const QStringList chain = LabelChain(target);
    QPointer<CMyTreeView> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, copy, chain] {
            if (self)
                self->DropOn(ItemByChain(self, chain), copy).Spawn();
        },
        Qt::QueuedConnection);
}

core::Task<void> CMyTreeView::DropOn(QTreeWidgetItem* target,
                                     std::shared_ptr<const QMimeData> mime) {
    const QMimeData* data = mime.get();
    if (!target || target->treeWidget() != this || !AcceptsData(data) ||
        ItemImage(target) == IMG_LOCAL_COMPUTER || (m_side == 1 && App()->Site().IsUnavailable())) {
        SetDropTarget(nullptr);
        co_return;
    }
    SetDropTarget(target);
    const int kind = DragKindOf(data, m_doc);
    if (ConfirmFileCopy(this)) {
        CWaitCursor wait;
        const QString path = GetPath(target);
        const QStringList chain = LabelChain(target);
        if (kind == DRAG_LOCAL_TREE || kind == DRAG_FTP_TREE) {
            co_await DropFolder(kind, path);
        } else if (kind == DRAG_LOCAL_LIST || kind == DRAG_FTP_LIST) {
            const int row = kind == DRAG_LOCAL_LIST ? 0 : 1;
            if (auto* source = qobject_cast<CMyListView*>(m_frame->GetPane(row, 1)))
                co_await source->CopySelectedTo(path, m_side);
        } else if (m_side == 1 && m_listView) {
            co_await m_listView->UploadLocalPaths(LocalPathsOf(data), path);
        }
        co_await RefreshAfterCopy(chain, path);
    }
    SetDropTarget(nullptr);
}

core::Task<void> CMyTreeView::RefreshAfterCopy(QStringList chain, QString path) {
    // The copy routines may have read folders again meanwhile; the target is
    // looked up afresh rather than trusted to still be there.
    if (QTreeWidgetItem* target = ItemByChain(this, chain)) {
        if (m_side == 0)
            ReadLocalFolder(path, target);
        else
            co_await ReadFtpFolder(path, target);
    }
    co_await ShowSelectionInList();
}

bool CMyTreeView::RefuseSelfReplace(int kind, const QString& destination) {
    const bool sourceLocal = kind == DRAG_LOCAL_TREE;
    if (sourceLocal != (m_side == 0))
        return false; // across sides nothing of the source can be replaced
    const QString source = WithoutTrailingSlash(m_doc->m_dragFolderPath);
    bool overlap = pathrules::Overlap(source, destination);
    if (!overlap && sourceLocal) {
        // The same folder may be reached through a link under another name.
        const QString s = QFileInfo(source).canonicalFilePath();
        const QString d = QFileInfo(destination).canonicalFilePath();
        overlap = !s.isEmpty() && !d.isEmpty() && pathrules::Overlap(s, d);
    }
    if (overlap)
        ReportSameFolder(this);
    return overlap;
}

core::Task<void> CMyTreeView::DropFolder(int kind, QString target) {
    const QString name = m_doc->m_dragFolderName;
    const QString source = m_doc->m_dragFolderPath;
    if (name.isEmpty() || source.isEmpty() || !m_listView)
        co_return;
    const QString destination = target + name;
    if (RefuseSelfReplace(kind, destination))
        co_return;
    CVelmarApp* app = App();
    // An existing folder of that name is kept until the copy is whole.
    if (m_side == 0) {
        if (kind == DRAG_LOCAL_TREE) {
            CommSession comm(app, m_frame, true, kLocalToLocal);
            // The local copy's files go through the status window, to be seen
            // and cancelled.
            m_listView->m_localCopyDlg = &comm.Dlg();
            const FolderCopier copy = [&](QString into) {
                return m_listView->CopyLocalFolder(WithoutTrailingSlash(source), into);
            };
            co_await CopyFolderReplacing(m_listView, false, destination, copy);
            m_listView->m_localCopyDlg = nullptr;
            co_return;
        }
        CommSession comm(app, m_frame, true, kToLocal);
        const FolderCopier copy = [&](QString into) {
            return comm->CopyFolderFtpToLocal(source, into);
        };
        co_await CopyFolderReplacing(m_listView, false, destination, copy);
        co_return;
    }
    CommSession comm(app, m_frame, true, kind == DRAG_LOCAL_TREE ? kToFtp : kFtpToFtp);
    const FolderCopier copy = [&](QString into) {
        if (kind == DRAG_LOCAL_TREE)
            return comm->CopyFolderLocalToFtp(WithoutTrailingSlash(source), into);
        return comm->CopyFolderFtpToFtp(source, into);
    };
    co_await CopyFolderReplacing(m_listView, true, destination, copy);
}
