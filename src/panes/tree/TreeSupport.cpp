#include "TreeSupport.h"

#include "CommStatusDlg.h"
#include "FrameBase.h"
#include "FrameLock.h"
#include "VelmarApp.h"

CommSession::CommSession(CVelmarApp* app, CFrameBase* frame, bool withWindow,
                         const QString& operation)
    : m_app(app), m_frame(frame), m_dlg(std::make_unique<CCommStatusDlg>(frame)) {
    if (withWindow) {
        m_dlg->Create();
        if (!operation.isEmpty())
            m_dlg->SetDlgItemText(CCommStatusDlg::IDC_OPERATION, operation);
    }
    m_lock = std::make_unique<FrameLock>(m_frame);
    m_app->Comm().Begin();
}

CommSession::~CommSession() {
    m_lock.reset();
    m_app->Comm().End();
    m_dlg.reset();
}

QStringList LabelChain(const QTreeWidgetItem* item) {
    QStringList chain;
    for (; item; item = item->parent())
        chain.prepend(item->text(0));
    return chain;
}

QTreeWidgetItem* ItemByChain(QTreeWidget* tree, const QStringList& chain) {
    QTreeWidgetItem* item = nullptr;
    for (const QString& label : chain) {
        QTreeWidgetItem* next = nullptr;
        const int count = item ? item->childCount() : tree->topLevelItemCount();
        for (int i = 0; i < count && !next; ++i) {
            QTreeWidgetItem* child = item ? item->child(i) : tree->topLevelItem(i);
            if (child->text(0) == label)
                next = child;
        }
        if (!next)
            return nullptr;
        item = next;
    }
    return item;
}
