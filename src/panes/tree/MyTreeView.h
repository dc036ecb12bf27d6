#pragma once

#include <memory>

#include "Task.h"

#include <QAbstractItemDelegate>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <optional>
#include <vector>

#include "DirEntry.h"

class CFrameBase;
class CVelmarDoc;
class CVelmarApp;
class CMyListView;
class QMenu;
class QMimeData;

// The tree pane: the places of one side, read lazily; it drives the list pane of
// its row. An item's kind is told by its normal image index (item data role
// kImageRole), as the list pane tells its items.
class CMyTreeView : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kImageRole = Qt::UserRole + 1;         // normal image index
    static constexpr int kSelectedImageRole = Qt::UserRole + 2; // selected image index
    static constexpr int kLinkRole = Qt::UserRole + 3;          // a folder reached through a link

    // Commands of the context menu (menu 177).
    enum : int { ID_TREE_NEW_FOLDER = 32776, ID_TREE_RENAME = 32774, ID_TREE_DELETE = 32775 };

    CMyTreeView(CVelmarDoc* doc, CFrameBase* frame, QWidget* parent = nullptr);
    ~CMyTreeView() override;

    // Building, expansion and selection.
    // Sets the pane up; BuildTree then fills it.
    void OnInitialUpdate();
    core::Task<bool> BuildTree();
    void BuildLocalTree();
    core::Task<bool> BuildFtpTree();
    void SelectStartItem();
    // Selects the start item and makes sure the list shows it once: the
    // selection change fills it, or, when the item was selected already, this.
    core::Task<void> ShowStartItem();
    core::Task<void> ShowSelectionInList();
    void ReadLocalFolder(const QString& path, QTreeWidgetItem* item);
    // Connects first when there is no session. False when no connection could be
    // made; a folder that could not be read is told and leaves item as it was.
    core::Task<bool> ReadFtpFolder(QString path, QTreeWidgetItem* item);
    // Whether item is still one of this tree's, after a wait.
    bool HoldsItem(const QTreeWidgetItem* item) const;
    // Appends the entry as a folder item under parent (with its placeholder), or
    // skips it (a file, or a name beginning with "."); returns the item or null.
    QTreeWidgetItem* AddFolderItem(const QString& name, QTreeWidgetItem* parent,
                                   const DirEntry& entry);
    QString GetLocalPath(QTreeWidgetItem* item) const;
    QString GetFtpPath(QTreeWidgetItem* item) const;
    // The item's path on this pane's side.
    QString GetPath(QTreeWidgetItem* item) const;
    static int ItemImage(const QTreeWidgetItem* item);
    // The selected item, or null when the selection is empty.
    QTreeWidgetItem* SelectedItem() const;
    void SelectItem(QTreeWidgetItem* item);

    // Event handlers of browsing, callable directly.
    void OnItemExpanded(QTreeWidgetItem* item);
    void OnItemCollapsed(QTreeWidgetItem* item);
    void OnSelChanged();

    // Folder operations.
    core::Task<void> DeleteSelectedFolder();
    void OnCommand(int id);
    // The right click at a viewport position: selects, then shows the menu.
    void OnRightClick(const QPoint& viewportPos);
    // The context menu for the current selection (null: "Local Computer", or the
    // FTP side unavailable). The caller runs it.
    QMenu* MakeContextMenu(QTreeWidgetItem* item);
    // Opens the label edit on an item; false when the item's kind refuses it.
    bool EditLabel(QTreeWidgetItem* item);
    // The end of a label edit with the new text (none: the edit was cancelled).
    void OnEndLabelEdit(QTreeWidgetItem* item, const std::optional<QString>& newText);

    // Drag and drop.
    // Starts the drag of a folder item (runs the drag until it ends).
    void BeginDrag(QTreeWidgetItem* item);
    // Makes this pane the holder of the drag.
    void BeginDragHere(const QPoint& point);
    // The item that a drop at a viewport position would go to, or null.
    QTreeWidgetItem* DropTargetAt(const QPoint& viewportPos, const QMimeData* data) const;
    // The drop itself, on target (null: nothing happens).
    core::Task<void> DropOn(QTreeWidgetItem* target, std::shared_ptr<const QMimeData> data);
    // Moves the drop highlight (null removes it).
    void SetDropTarget(QTreeWidgetItem* item);
    // After a drop or a paste into the folder at path: that folder's item (found
    // again by its chain of labels, as the copy may have read folders anew) reads
    // its subfolders again, and the list shows the selected folder afresh.
    core::Task<void> RefreshAfterCopy(QStringList chain, QString path);
    // The data of a drag of this program (kVelmarDragMime with the source kind,
    // and the process it started in); the rest of the drag record is in the
    // document.
    static QMimeData* MakeDragData(int kind);

    int m_ignoreSelChange = 0;
    int m_editing = 0;
    QTreeWidgetItem* m_rootItem = nullptr;
    char m_reading = 0;
    int m_side = 0;
    QTreeWidgetItem* m_dropTarget = nullptr;
    CVelmarDoc* m_doc;
    CFrameBase* m_frame;
    // Guarded: at teardown Qt may destroy the list before this pane.
    QPointer<CMyListView> m_listView;
    QTreeWidget* m_treeCtrl = this;

protected:
    CVelmarApp* App() const;
    CMyListView* ListOfOtherRow() const;

    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

protected slots:
    void commitData(QWidget* editor) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    QTreeWidgetItem* NewItem(const QString& label, int image, int selectedImage) const;
    void AddPlaceholder(QTreeWidgetItem* item) const;
    void DeleteChildren(QTreeWidgetItem* item);
    void ClearList();
    void ReplaceChildren(QTreeWidgetItem* item, const std::vector<DirEntry>& entries);
    bool IsDescendant(const QTreeWidgetItem* item, const QTreeWidgetItem* ancestor) const;
    core::Task<bool> RenameFolder(QString oldPath, QString newPath);
    core::Task<void> EndLabelEdit(QTreeWidgetItem* item, std::optional<QString> newText);
    void RunContextMenu(QMenu* menu, const QPoint& globalPos);

    // Drop handling by source.
    core::Task<void> DropFolder(int kind, QString target);
    bool RefuseSelfReplace(int kind, const QString& destination);
    static QStringList LocalPathsOf(const QMimeData* data);
    bool AcceptsData(const QMimeData* data) const;

    // How many selection changes have been acted on (not ignored).
    unsigned m_selChangesHandled = 0;
    // A rename whose text the edit field has handed over, applied when it closes.
    QTreeWidgetItem* m_editItem = nullptr;
    QString m_editText;
    bool m_editCommitted = false;
};
