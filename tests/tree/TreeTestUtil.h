#pragma once

#include "Await.h"

// What the tree pane tests share: the whole program with its local "drive" in a
// temporary home folder and, when asked, a real FTP server on the other side.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QDragEnterEvent>
#include <QFile>
#include <QLabel>
#include <QMap>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidgetItem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

#include "AppFixture.h"
#include "FtpServer.h"
#include "MainFrame.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"

// The server set-ups the FTP cases run against.
struct TreeServer {
    FtpServer::Kind kind;
    const char* name;
};

inline const TreeServer kTreeServers[] = {
    {FtpServer::Kind::Vsftpd, "vsftpd"},
    {FtpServer::Kind::Pyftpdlib, "pyftpdlib"},
};

// Every server of the suite, for the browsing cases.
inline const TreeServer kAllTreeServers[] = {
    {FtpServer::Kind::Vsftpd, "vsftpd"},
    {FtpServer::Kind::Pyftpdlib, "pyftpdlib"},
    {FtpServer::Kind::PureFtpd, "pureftpd"},
    {FtpServer::Kind::Proftpd, "proftpd"},
};

inline std::string TreeServerName(const testing::TestParamInfo<TreeServer>& info) {
    return info.param.name;
}

// Watches the communication status windows (dialog 184): how often one is shown,
// and whether its message line (1034, where the connect texts go while starting
// up) was shown.
class StatusWindowWatch : public QObject {
public:
    StatusWindowWatch() { qApp->installEventFilter(this); }
    ~StatusWindowWatch() override { qApp->removeEventFilter(this); }

    int m_shown = 0;
    int m_messageLineShown = 0;
    QStringList m_operations; // the operation line (1032) as each window went

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide && watched->objectName() == QStringLiteral("184"))
            if (auto* line = watched->findChild<QLabel*>(QStringLiteral("1032")))
                m_operations << line->text();
        if (event->type() != QEvent::Show)
            return false;
        if (watched->objectName() == QStringLiteral("184"))
            ++m_shown;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && watched->objectName() == QStringLiteral("1034") &&
            widget->window()->objectName() == QStringLiteral("184"))
            ++m_messageLineShown;
        return false;
    }
};

// Content helpers: a list of relative paths, folders ending in "/", files holding
// their own path as data.
inline bool MakeLocal(const QString& root, const QStringList& paths) {
    for (const QString& p : paths) {
        const QString full = root + QLatin1Char('/') + p;
        if (p.endsWith(QLatin1Char('/'))) {
            if (!QDir().mkpath(full))
                return false;
            continue;
        }
        QDir().mkpath(QFileInfo(full).path());
        QFile f(full);
        if (!f.open(QIODevice::WriteOnly) || f.write(p.toUtf8()) != p.toUtf8().size())
            return false;
    }
    return true;
}

inline bool MakeRemote(const FtpServer& server, const QStringList& paths) {
    for (const QString& p : paths) {
        // Level by level, so that every folder is the server user's to change.
        const QStringList parts = p.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        QString sofar;
        const int folders = p.endsWith(QLatin1Char('/')) ? parts.size() : parts.size() - 1;
        for (int i = 0; i < folders; ++i) {
            sofar += (sofar.isEmpty() ? QString() : QStringLiteral("/")) + parts[i];
            if (!QFileInfo(server.PathOf(sofar)).isDir() && !server.MakeDir(sofar))
                return false;
        }
        if (!p.endsWith(QLatin1Char('/')) && !server.WriteFile(p, p.toUtf8()))
            return false;
    }
    return true;
}

// Every entry under root: relative path -> data ("/" for a folder).
inline QMap<QString, QByteArray> Snapshot(const QString& root) {
    QMap<QString, QByteArray> result;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            result.insert(rel, QByteArray("/"));
        } else {
            QFile f(path);
            result.insert(rel, f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?"));
        }
    }
    return result;
}

inline QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& label) {
    for (int i = 0; parent && i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == label)
            return parent->child(i);
    return nullptr;
}

inline QStringList ChildLabels(const QTreeWidgetItem* item) {
    QStringList labels;
    for (int i = 0; item && i < item->childCount(); ++i)
        labels << item->child(i)->text(0);
    return labels;
}

inline QStringList ListNames(const CMyListView* list) {
    QStringList names;
    for (int row = 0; row < list->ItemCount(); ++row)
        names << list->ItemName(row);
    return names;
}

// Lets queued calls (the drops) run.
inline void Settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    AwaitSpawned();
}

// The program started with its home "drive" in a temporary folder, against a
// real server of the given kind, or against a closed port when there is none.
class TreeApp {
    // Declared first so that they outlive the program: the server sees its
    // connection closed, and the home folder its last reading.
    QTemporaryDir m_home;
    QByteArray m_oldHome;
    std::unique_ptr<FtpServer> m_server;

public:
    explicit TreeApp(std::optional<FtpServer::Kind> kind = std::nullopt, bool start = true)
        : m_oldHome(qgetenv("HOME")) {
        qputenv("HOME", QFile::encodeName(m_home.path()));
        if (kind) {
            m_server = std::make_unique<FtpServer>(*kind);
            EXPECT_TRUE(m_server->IsRunning()) << m_server->Error().toStdString();
            f.SetProfile(m_server->Address(), m_server->User(), m_server->Password());
        } else {
            f.SetProfile(QStringLiteral("127.0.0.1:1"));
        }
        if (start)
            Start();
    }
    ~TreeApp() { qputenv("HOME", m_oldHome); }

    bool Start() {
        const bool ok = f.Start();
        QApplication::setActiveWindow(f.Frame());
        Settle();
        return ok;
    }

    QString Home() const { return QDir::cleanPath(m_home.path()); }
    FtpServer& Server() { return *m_server; }
    CMyTreeView* Local() const { return f.LocalTree(); }
    CMyTreeView* Ftp() const { return f.FtpTree(); }
    QTreeWidgetItem* HomeDrive() const { return Local()->m_rootItem->child(0); }

    // Expands the items along the labels from start, reading each on the way.
    QTreeWidgetItem* Open(QTreeWidgetItem* start, const QStringList& labels) const {
        QTreeWidgetItem* item = start;
        Expand(item, true);
        for (const QString& label : labels) {
            item = Child(item, label);
            if (!item)
                return nullptr;
            Expand(item, true);
        }
        return item;
    }
    // Opens or closes the item as a click on its arrow does, and lets the
    // reading that starts end.
    static void Expand(QTreeWidgetItem* item, bool open) {
        item->setExpanded(open);
        AwaitSpawned();
    }
    // Selects the item, as a click does: the list of the row shows it.
    static void Select(QTreeWidgetItem* item) {
        static_cast<CMyTreeView*>(item->treeWidget())->SelectItem(item);
        AwaitSpawned();
    }

    AppFixture f;
};

// A drag of this program arriving at a tree pane: enter, move to the item (or
// point), and, when asked, the drop. Returns whether the move was accepted.
struct DragResult {
    bool enterAccepted = false;
    bool moveAccepted = false;
};

inline QPoint CentreOf(CMyTreeView* tree, QTreeWidgetItem* item) {
    tree->scrollToItem(item);
    return tree->visualItemRect(item).center();
}

inline DragResult DragOver(CMyTreeView* tree, const QPoint& pos, const QMimeData* data, bool drop) {
    DragResult result;
    QWidget* viewport = tree->viewport();
    QDragEnterEvent enter(pos, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    result.enterAccepted = enter.isAccepted();
    if (!result.enterAccepted)
        return result;
    QDragMoveEvent move(pos, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    result.moveAccepted = move.isAccepted();
    if (drop) {
        QDropEvent dropEvent(QPointF(pos), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &dropEvent);
        Settle();
    } else {
        QDragLeaveEvent leave;
        QApplication::sendEvent(viewport, &leave);
    }
    return result;
}

// Sets the drag record as the list pane's drag start does, for its selected rows.
inline std::unique_ptr<QMimeData> ListDrag(CVelmarDoc* doc, CMyListView* list,
                                           const QStringList& names) {
    QList<int> rows;
    for (int row = 0; row < list->ItemCount(); ++row)
        if (names.contains(list->ItemName(row)))
            rows << row;
    list->SelectRows(rows);
    const int kind = list->m_side == 0 ? DRAG_LOCAL_LIST : DRAG_FTP_LIST;
    doc->m_dragSourceKind = kind;
    doc->m_dragImageIndex = list->m_side;
    return std::unique_ptr<QMimeData>(CMyTreeView::MakeDragData(kind));
}
