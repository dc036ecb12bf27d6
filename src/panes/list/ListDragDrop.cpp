// Dragging the selected items out of a list pane, and dropping onto a folder item
// of a list pane.
#include <QCoreApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPointer>
#include <QUrl>
#include <memory>

#include "CommScope.h"
#include "ListModel.h"
#include "MessageBox.h"
#include "Messages.h"
#include "MyListView.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"
#include "WaitCursor.h"

namespace {
// The drag image is drawn 20 pixels below the pointer.
const QPoint kDragImageOffset(0, -20);

std::unique_ptr<QMimeData> CopyOf(const QMimeData* mime) {
    auto copy = std::make_unique<QMimeData>();
    for (const QString& format : mime->formats())
        copy->setData(format, mime->data(format));
    return copy;
}
} // namespace

void CMyListView::BeginDragHere() {
    m_dropTarget = -1;
    m_model->SetDropTarget(-1);
    m_doc->ClearDragHolders();
    if (m_side == 0)
        m_doc->m_dragLocalList = 1;
    else
        m_doc->m_dragFtpList = 1;
    m_doc->m_dragImageOffset = kDragImageOffset;
}

void CMyListView::startDrag(Qt::DropActions) {
    if (SelectedRows().isEmpty() || m_editing)
        return;
    const int kind = m_side == 0 ? DRAG_LOCAL_LIST : DRAG_FTP_LIST;
    m_doc->m_dragImageIndex = m_side;
    m_doc->m_dragSourceKind = kind;
    BeginDragHere();
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kVelmarDragMime), QByteArray::number(kind));
    mime->setData(QString::fromLatin1(kVelmarProcessMime),
                  QByteArray::number(QCoreApplication::applicationPid()));
    QPointer<QDrag> drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(m_doc->m_dragImageList.value(m_doc->m_dragImageIndex));
    drag->setHotSpot(m_doc->m_dragImageOffset);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    // Without a drag on the platform the object comes back undeleted.
    if (drag)
        drag->deleteLater();
    // Wherever it ended, no pane holds the drag any more.
    m_doc->ClearDragHolders();
}

QStringList CMyListView::LocalPathsOf(const QMimeData* mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths.append(url.toLocalFile());
    return paths;
}

int CMyListView::OwnDragKind(const QMimeData* mime) const {
    const QString format = QString::fromLatin1(kVelmarDragMime);
    if (!mime || !mime->hasFormat(format))
        return -1;
    // Another running copy of the program keeps its drag record to itself.
    const QString process = QString::fromLatin1(kVelmarProcessMime);
    if (mime->hasFormat(process) &&
        mime->data(process).toLongLong() != QCoreApplication::applicationPid())
        return -1;
    bool ok = false;
    const int kind = mime->data(format).toInt(&ok);
    if (!ok || kind < DRAG_LOCAL_TREE || kind > DRAG_FTP_LIST || kind != m_doc->m_dragSourceKind)
        return -1;
    return kind;
}

bool CMyListView::AcceptsDrag(const QMimeData* mime) const {
    if (!mime)
        return false;
    if (OwnDragKind(mime) >= 0)
        return true;
    // Files from the desktop go up to the server only.
    return m_side == 1 && !App()->Site().IsUnavailable() && !LocalPathsOf(mime).isEmpty();
}

bool CMyListView::DragMoveTo(const QPoint& viewportPos) {
    const int held = m_side == 0 ? m_doc->m_dragLocalList : m_doc->m_dragFtpList;
    if (!held)
        BeginDragHere();
    const int row = indexAt(viewportPos).row();
    if (!FindFolderRow(row)) {
        m_model->SetDropTarget(-1);
        m_dropTarget = -1;
        return false;
    }
    if (row != m_dropTarget) {
        m_model->SetDropTarget(row);
        m_dropTarget = row;
    }
    return true;
}

void CMyListView::DragLeft() {
    // The flag stays set: the pane entered next takes the drag over.
    m_model->SetDropTarget(-1);
    m_dropTarget = -1;
}

void CMyListView::EndDrop() {
    m_model->SetDropTarget(-1);
    m_dropTarget = -1;
}

void CMyListView::dragEnterEvent(QDragEnterEvent* event) {
    if (!AcceptsDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    BeginDragHere();
    // Taken so that the moves come here; each move says whether a drop would be.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CMyListView::dragMoveEvent(QDragMoveEvent* event) {
    if (AcceptsDrag(event->mimeData()) && DragMoveTo(event->position().toPoint())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void CMyListView::dragLeaveEvent(QDragLeaveEvent* event) {
    DragLeft();
    event->accept();
}

void CMyListView::dropEvent(QDropEvent* event) {
    const QMimeData* mime = event->mimeData();
    if (!AcceptsDrag(mime)) {
        event->ignore();
        return;
    }
    DragMoveTo(event->position().toPoint());
    m_doc->m_dragLocalList = m_doc->m_dragFtpList = 0;
    const int row = m_dropTarget;
    if (row < 0) {
        event->ignore();
        EndDrop();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // The copy runs once the drag has ended: a drag source (ours or a file
    // manager's) waits for the drop event to return, and a copy with its
    // questions and status window may take minutes.
    std::shared_ptr<const QMimeData> data = CopyOf(mime);
    const QString name = ItemName(row);
    QMetaObject::invokeMethod(
        this,
        [this, row, name, data] {
            if (ItemName(row) == name)
                DropOn(row, data).Spawn();
            else
                EndDrop();
        },
        Qt::QueuedConnection);
}

core::Task<bool> CMyListView::DropOn(int row, std::shared_ptr<const QMimeData> data) {
    const QMimeData* mime = data.get();
    m_doc->m_dragLocalList = m_doc->m_dragFtpList = 0;
    if (!FindFolderRow(row) || !AcceptsDrag(mime)) {
        EndDrop();
        co_return false;
    }
    m_dropTarget = row;
    m_model->SetDropTarget(row);
    const int kind = OwnDragKind(mime);
    const bool own = kind >= 0;
    if (!ConfirmFileCopy(this)) {
        EndDrop();
        co_return false;
    }
    bool ok = false;
    {
        CWaitCursor wait;
        const bool destFtp = m_side == 1;
        const QString destFolder = m_path + ItemName(row) + QLatin1Char('/');
        if (!own) {
            ok = co_await UploadLocalPaths(LocalPathsOf(mime), destFolder);
        } else {
            const bool sourceFtp = kind == DRAG_FTP_TREE || kind == DRAG_FTP_LIST;
            CommScope comm(m_frame, App(), CommScope::Operation(sourceFtp, destFtp));
            CCommStatusDlg* dlg = comm.Dlg();
            if (kind == DRAG_LOCAL_LIST || kind == DRAG_FTP_LIST) {
                CMyListView* source = ListOfRow(kind == DRAG_LOCAL_LIST ? 0 : 1);
                if (source)
                    ok = co_await CopyItems(source, destFolder, destFtp, dlg);
            } else {
                ok = co_await CopyTreeFolder(destFolder, destFtp, dlg);
            }
        }
        co_await RefreshTreeNode();
    }
    EndDrop();
    co_return ok;
}
