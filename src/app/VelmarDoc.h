#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QString>

// Image indices of the small image list; the kind of a tree or list item is told
// by its image.
enum SmallImage : int {
    IMG_DRIVE = 0,
    IMG_LOCAL_FOLDER = 1,
    IMG_LOCAL_FILE = 2,
    IMG_LOCAL_FOLDER_SEL = 3,
    IMG_FTP_FOLDER = 4,
    IMG_FTP_FILE = 5,
    IMG_FTP_FOLDER_SEL = 6,
    IMG_LOCAL_COMPUTER = 7,
    IMG_FTP_ROOT = 8,
    IMG_COUNT = 9,
};

// Kinds of drag source.
enum DragKind : int {
    DRAG_LOCAL_TREE = 0,
    DRAG_LOCAL_LIST = 1,
    DRAG_FTP_TREE = 2,
    DRAG_FTP_LIST = 3,
};

// The document: no file data, only the image lists, the pane counters that give
// each pane its side, and the drag record shared by the four panes.
class CVelmarDoc : public QObject {
    Q_OBJECT
public:
    CVelmarDoc();
    ~CVelmarDoc() override;

    QString m_dragFolderName;
    QString m_dragFolderPath;
    int m_dragSourceKind = -1;
    int m_listPaneCounter = 0;
    int m_treePaneCounter = 0;
    int m_dragImageIndex = -1;
    QPoint m_dragImageOffset;
    QList<QIcon> m_smallImageList; // 16 x 16, indices of SmallImage
    int m_dragLocalList = 0;       // which pane holds the drag: at most one is set
    int m_dragFtpList = 0;
    int m_dragLocalTree = 0;
    int m_dragFtpTree = 0;
    QList<QPixmap> m_dragImageList; // 32 x 32: 0 from the local side, 1 from the FTP side
    QList<QIcon> m_linkImageList;   // the small images with the link mark

    QIcon SmallIcon(int index) const;
    // The small icon with a link mark in its lower left corner, for an item that
    // is a link to a folder.
    QIcon LinkIcon(int index) const;
    void ClearDragHolders() {
        m_dragLocalList = m_dragFtpList = m_dragLocalTree = m_dragFtpTree = 0;
    }

    // The program's own icon.
    static QIcon AppIcon();
};
