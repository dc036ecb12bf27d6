#pragma once

#include <QString>
#include <QStringList>
#include <QTreeView>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DirEntry.h"
#include "Task.h"

class CFrameBase;
class CVelmarDoc;
class CVelmarApp;
class CMyTreeView;
class CListModel;
class CCommStatusDlg;
class QMenu;
class QMimeData;
class QTreeWidgetItem;
struct ClipItem;

// Commands of the panes' context menu (menu 177).
enum PaneCommand : int {
    ID_NEW_FOLDER = 32776,
    ID_RENAME = 32774,
    ID_DELETE = 32775,
    // The FTP list's own: the text of the listing it shows, for a bug report.
    ID_COPY_RAW_LISTING = 32800,
};

// The MIME type of a drag between the program's panes. Its payload is the drag
// source kind; what is dragged is in the document's drag record. The second
// format names the process whose document holds that record.
inline constexpr const char* kVelmarDragMime = "application/x-velmar98-drag";
inline constexpr const char* kVelmarProcessMime = "application/x-velmar98-process";

// The list pane: the folders and files of the folder selected in the tree pane of
// its row, in the columns "Name", "Size" and "Modified".
class CMyListView : public QTreeView {
    Q_OBJECT
public:
    CMyListView(CVelmarDoc* doc, CFrameBase* frame, QWidget* parent = nullptr);
    ~CMyListView() override;

    // Browsing.
    void OnInitialUpdate();
    core::Task<void> Populate(QString path);
    // Shows the entries read last in the order of the current sort setting,
    // reading nothing.
    void Resort();
    // Empties the list; the entries, the folder and the tree item are kept.
    void DeleteAllItems();
    static QString FormatSize(std::uint64_t bytes);
    static QString FormatModified(std::int64_t time);
    int ItemCount() const;
    QString ItemName(int row) const;  // display name of the item in row
    int ItemImage(int row) const;     // image index of the item in row
    bool IsFolderItem(int row) const; // image 1 or 4
    QList<int> SelectedRows() const;  // top to bottom
    void SelectRows(const QList<int>& rows);
    CListModel* Model() const { return m_model; }

    // File operations.
    core::Task<bool> NewFolder();
    // New Folder as the menus run it, with the status bar's texts.
    core::Task<void> NewFolderCommand();
    void DeleteSelected();
    core::Task<void> RefreshTreeNode();
    core::Task<bool> CreateFolder(QString path);
    core::Task<bool> DeleteOneFile(QString path);
    core::Task<bool> DeleteFolderTree(QString path);
    void OnCommand(int id);
    void StartRename(int row);
    // The end of a label edit on row with the new text (empty: cancelled).
    void OnEndLabelEdit(int row, const QString& text);
    // The context menu at a point of the viewport: null when none is shown.
    // The caller runs it; OnRightClick does both.
    QMenu* MakeContextMenu(const QPoint& viewportPos);
    void OnRightClick(const QPoint& viewportPos, const QPoint& globalPos);
    void OnTabKey(bool shift);

    // Drag and drop.
    core::Task<bool> CopySelectedTo(QString destPath, int destIsFtp);
    core::Task<bool> CopyLocalFolder(QString src, QString dst);
    core::Task<bool> CopyLocalFile(QString src, QString dst);
    // Uploads local files and folders (absolute paths, as a file manager drops
    // them) into the FTP folder destPath (ending in "/"), replacing same-named
    // folders there. Asks nothing and refreshes nothing: the caller does.
    core::Task<bool> UploadLocalPaths(QStringList paths, QString destPath);
    // Copies items of one side (a paste) into destFolder (ending in "/") with the
    // status window, by the same rules as a drop. Asks nothing and refreshes
    // nothing: the caller does.
    core::Task<bool> CopyClipItems(QList<ClipItem> items, bool sourceFtp, QString destFolder,
                                   bool destIsFtp);
    // Makes this pane the holder of the drag.
    void BeginDragHere();
    // Drag feedback at a viewport point: highlights the folder item there.
    // Returns whether a drop there would be taken.
    bool DragMoveTo(const QPoint& viewportPos);
    void DragLeft();
    // The drop on the folder item in row, with the drag's data.
    core::Task<bool> DropOn(int row, std::shared_ptr<const QMimeData> mime);
    // Whether this pane takes a drag that carries mime at all.
    bool AcceptsDrag(const QMimeData* mime) const;
    // The drag source kind of a drag between this program's panes, or -1.
    int OwnDragKind(const QMimeData* mime) const;
    // The local paths of a file manager's drag (text/uri-list with file URLs).
    static QStringList LocalPathsOf(const QMimeData* mime);

    std::vector<DirEntry> m_entries;
    int m_editing = 0;
    int m_forceLocal = 0;
    int m_forceFtp = 0;
    QTreeWidgetItem* m_treeItem = nullptr;
    QString m_path;
    int m_skipFtpRead = 1;
    int m_contextItem = -1;
    int m_side = 0;
    int m_dropTarget = -1;
    int m_pasteRow = -1; // the row the context menu was opened on, for its Paste
    // Of the FTP listing shown: the lines not understood, and its text as sent.
    std::size_t m_unreadableLines = 0;
    std::string m_rawListing;
    // While set, local file copies run through this status window (progress and
    // Cancel) instead of straight to the disk.
    CCommStatusDlg* m_localCopyDlg = nullptr;
    CFrameBase* m_frame;
    CVelmarDoc* m_doc;

protected:
    CMyTreeView* TreeOfRow() const;
    CMyTreeView* TreeOfOtherRow() const;
    CMyListView* ListOfRow(int row) const;
    CVelmarApp* App() const;

    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Which side the delete primitives work on (the force flags decide first).
    bool WorksOnFtp() const;
    void SetStatus(const QString& text);
    void OnFtpAvailabilityChanged(bool unavailable);
    // Around every filling: the rows go first, and come back from m_entries.
    void BeginFill();
    void EndFill();
    void ShowFilled(); // the rows of a filling are in
    void ShowCount();
    void TakeListingNotes();
    void CopyRawListing();
    void ReadLocalEntries(const QString& path);
    core::Task<void> ReadFtpEntries(QString path);
    void FillRows();
    bool FindFolderRow(int row) const { return row >= 0 && row < ItemCount() && IsFolderItem(row); }
    void OnLabelEditCommitted(int row, const QString& text);
    core::Task<bool> RenameItem(QString oldPath, QString newPath);
    core::Task<std::optional<std::int64_t>> ReadModifiedTime(QString path);
    core::Task<void> EndLabelEdit(int row, QString text);
    core::Task<void> DeleteSelectedItems();
    bool CreateLocalFolder(const QString& path);
    core::Task<bool> CreateFtpFolder(QString path);
    core::Task<bool> DeleteLocalFolderTree(QString path);
    core::Task<bool> DeleteFtpFolderTree(QString path);
    bool RefuseSameFolder(const QString& src, const QString& dst, bool sameSide);
    core::Task<bool> CopyEntries(QList<ClipItem> items, bool sourceFtp, QString destFolder,
                                 bool destIsFtp, CCommStatusDlg* dlg);
    core::Task<bool> CopyItems(CMyListView* source, QString destFolder, bool destIsFtp,
                               CCommStatusDlg* dlg);
    core::Task<bool> CopyTreeFolder(QString destFolder, bool destIsFtp, CCommStatusDlg* dlg);
    void EndDrop();

    CListModel* m_model = nullptr;
    int m_pendingRenameRow = -1;
    QString m_pendingRenameText;
    bool m_renamePending = false;
};
