#pragma once

#include <QString>
#include <QTreeWidget>

class CFrameBase;
class CVelmarDoc;
class CVelmarApp;
class CMyListView;

// The tree pane: the places of one side, read lazily; it drives the list pane of
// its row. An item's kind is told by its normal image index (item data role
// kImageRole), as the list pane tells its items.
class CMyTreeView : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kImageRole = Qt::UserRole + 1;         // normal image index
    static constexpr int kSelectedImageRole = Qt::UserRole + 2; // selected image index

    CMyTreeView(CVelmarDoc* doc, CFrameBase* frame, QWidget* parent = nullptr);
    ~CMyTreeView() override;

    // Building, expansion and selection.
    void OnInitialUpdate();
    bool BuildTree();
    void BuildLocalTree();
    bool BuildFtpTree();
    void SelectStartItem();
    void ShowSelectionInList();
    void ReadLocalFolder(const QString& path, QTreeWidgetItem* item);
    bool ReadFtpFolder(const QString& path, QTreeWidgetItem* item);
    QString GetLocalPath(QTreeWidgetItem* item) const;
    QString GetFtpPath(QTreeWidgetItem* item) const;
    static int ItemImage(const QTreeWidgetItem* item);

    // Folder operations and drag and drop.
    void DeleteSelectedFolder();
    void OnCommand(int id);

    int m_ignoreSelChange = 0;
    int m_editing = 0;
    QTreeWidgetItem* m_rootItem = nullptr;
    char m_reading = 0;
    int m_side = 0;
    QTreeWidgetItem* m_dropTarget = nullptr;
    CVelmarDoc* m_doc;
    CFrameBase* m_frame;
    CMyListView* m_listView = nullptr;
    QTreeWidget* m_treeCtrl = this;

protected:
    CVelmarApp* App() const;
};
