#pragma once

#include <QString>
#include <QTreeView>
#include <vector>

#include "DirEntry.h"

class CFrameBase;
class CVelmarDoc;
class CVelmarApp;
class CMyTreeView;
class CListModel;
class QTreeWidgetItem;

// Commands of the panes' context menu (menu 177).
enum PaneCommand : int {
    ID_NEW_FOLDER = 32776,
    ID_RENAME = 32774,
    ID_DELETE = 32775,
};

// The list pane: the folders and files of the folder selected in the tree pane of
// its row, in the columns "Name", "Size" and "Modified".
class CMyListView : public QTreeView {
    Q_OBJECT
public:
    CMyListView(CVelmarDoc* doc, CFrameBase* frame, QWidget* parent = nullptr);
    ~CMyListView() override;

    // Browsing.
    void OnInitialUpdate();
    void Populate(const QString& path);
    static QString FormatSize(std::uint64_t bytes);
    static QString FormatModified(std::int64_t time);
    int ItemCount() const;
    QString ItemName(int row) const;   // display name of the item in row
    int ItemImage(int row) const;      // image index of the item in row
    bool IsFolderItem(int row) const;  // image 1 or 4
    QList<int> SelectedRows() const;   // top to bottom
    CListModel* Model() const { return m_model; }

    // File operations.
    bool NewFolder();
    void DeleteSelected();
    void RefreshTreeNode();
    bool CreateFolder(const QString& path);
    bool DeleteOneFile(const QString& path);
    bool DeleteFolderTree(const QString& path);
    void OnCommand(int id);
    void StartRename(int row);

    // Drag and drop.
    bool CopySelectedTo(const QString& destPath, int destIsFtp);
    bool CopyLocalFolder(const QString& src, const QString& dst);
    bool CopyLocalFile(const QString& src, const QString& dst);

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
    CFrameBase* m_frame;
    CVelmarDoc* m_doc;

protected:
    CMyTreeView* TreeOfRow() const;
    CVelmarApp* App() const;

private:
    CListModel* m_model = nullptr;
};
