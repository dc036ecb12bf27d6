#pragma once

// Pieces the tree pane's source files share; not part of the pane's interface.

#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <memory>

class CCommStatusDlg;
class CFrameBase;
class CVelmarApp;
class FrameLock;

// A tree item: a label and two image indices, nothing else. The icon follows the
// selection (the selected image while selected), and the drop target of a drag is
// painted highlighted.
class CTreeItem : public QTreeWidgetItem {
public:
    CTreeItem(const QString& label, int image, int selectedImage);
    QVariant data(int column, int role) const override;
};

// One communication with the status window object: the main window disabled and
// the communication marked in progress for as long as it lives, the window shown
// only when asked. Undone in reverse order when it goes.
class CommSession {
public:
    CommSession(CVelmarApp* app, CFrameBase* frame, bool withWindow,
                const QString& operation = QString());
    ~CommSession();
    CommSession(const CommSession&) = delete;
    CommSession& operator=(const CommSession&) = delete;

    CCommStatusDlg* operator->() const { return m_dlg.get(); }
    CCommStatusDlg& Dlg() const { return *m_dlg; }

private:
    CVelmarApp* m_app;
    CFrameBase* m_frame;
    std::unique_ptr<CCommStatusDlg> m_dlg;
    std::unique_ptr<FrameLock> m_lock;
};

// The labels from the top of the tree down to the item, and the item they lead
// to: an item is found again after a copy has read its folders anew (and made
// new items for them). Null when the chain no longer leads anywhere.
QStringList LabelChain(const QTreeWidgetItem* item);
QTreeWidgetItem* ItemByChain(QTreeWidget* tree, const QStringList& chain);
