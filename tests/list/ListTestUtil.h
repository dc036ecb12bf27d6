#pragma once

// Shared ground of the list pane's widget tests: real temporary folders, the
// whole program started offscreen, and ways to reach a folder through the tree
// as a user would.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidgetItem>
#include <gtest/gtest.h>
#include <memory>
#include "Await.h"

#include "Await.h"
#include "AppFixture.h"
#include "FtpServer.h"
#include "ListModel.h"
#include "MainFrame.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"

namespace listtest {

// A temporary local folder with helpers relative to it.
class LocalDir {
public:
    LocalDir() { EXPECT_TRUE(m_dir.isValid()); }
    // The folder as the list pane holds it: absolute, ending in "/".
    QString Path() const { return m_dir.path() + QLatin1Char('/'); }
    QString PathOf(const QString& rel) const { return Path() + rel; }
    bool File(const QString& rel, const QByteArray& data = QByteArray("x")) const {
        QFile f(PathOf(rel));
        return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    }
    bool Dir(const QString& rel) const { return QDir().mkpath(PathOf(rel)); }
    bool Exists(const QString& rel) const { return QFileInfo::exists(PathOf(rel)); }
    QByteArray Read(const QString& rel) const {
        QFile f(PathOf(rel));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
};

inline QStringList Names(const CMyListView* list) {
    QStringList names;
    for (int r = 0; r < list->ItemCount(); ++r)
        names << list->ItemName(r);
    return names;
}

inline QString Cell(const CMyListView* list, int row, int column) {
    return list->Model()->index(row, column).data().toString();
}

inline int RowOf(const CMyListView* list, const QString& name) {
    return Names(list).indexOf(name);
}

// The program with its FTP side offline (a closed port of this machine).
inline std::unique_ptr<AppFixture> StartOffline() {
    auto f = std::make_unique<AppFixture>();
    f->SetProfile(QStringLiteral("127.0.0.1:1"), QStringLiteral("nobody"), QStringLiteral("x"));
    EXPECT_TRUE(f->Start());
    f->Boxes().Clear();
    return f;
}

// The program connected to a real server.
inline std::unique_ptr<AppFixture> StartWith(const FtpServer& server) {
    auto f = std::make_unique<AppFixture>();
    f->SetProfile(server.Address(), server.User(), server.Password());
    EXPECT_TRUE(f->Start());
    EXPECT_FALSE(f->App().Site().IsUnavailable())
        << "connection to " << server.Address().toStdString();
    return f;
}

// Fills a list pane with a folder as the tree pane does, without a tree item.
inline void Show(CMyListView* list, const QString& path) {
    list->m_treeItem = nullptr;
    list->m_path = path;
    Await(list->Populate(path));
}

inline QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const QString& label) {
    for (int i = 0; parent && i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == label)
            return parent->child(i);
    return nullptr;
}

// Opens an absolute local folder in the local tree from the drive "/" down and
// selects it, so that the list pane shows it with its tree item.
inline QTreeWidgetItem* OpenLocal(CMyTreeView* tree, const QString& path) {
    QTreeWidgetItem* item = ChildNamed(tree->m_rootItem, QStringLiteral("/"));
    for (const QString& part : QDir::cleanPath(path).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (!item)
            return nullptr;
        item->setExpanded(true);
        AwaitSpawned(); // the folder's reading
        item = ChildNamed(item, part);
    }
    if (item) {
        tree->SelectItem(item);
        AwaitSpawned();
    }
    return item;
}

// Opens a folder below the FTP root (names from the root down) and selects it.
inline QTreeWidgetItem* OpenFtp(CMyTreeView* tree, const QStringList& names) {
    QTreeWidgetItem* item = tree->m_rootItem;
    for (const QString& part : names) {
        if (!item)
            return nullptr;
        item->setExpanded(true);
        AwaitSpawned(); // the folder's reading
        item = ChildNamed(item, part);
    }
    if (item) {
        tree->SelectItem(item);
        AwaitSpawned();
    }
    return item;
}

inline QStringList Labels(QTreeWidgetItem* item) {
    QStringList labels;
    for (int i = 0; item && i < item->childCount(); ++i)
        labels << item->child(i)->text(0);
    return labels;
}

// Records every text that status bar pane 0 shows while it lives: the frame
// paints the pane at once on every change, so each text is seen as it is painted.
class StatusRecorder : public QObject {
public:
    explicit StatusRecorder(CMainFrame* frame)
        : m_label(frame->findChild<QLabel*>(QStringLiteral("statusPane0"))) {
        EXPECT_NE(m_label, nullptr);
        // Nothing is painted before the window is on the screen.
        EXPECT_TRUE(QTest::qWaitForWindowExposed(frame));
        if (m_label)
            m_label->installEventFilter(this);
    }
    ~StatusRecorder() override {
        if (m_label)
            m_label->removeEventFilter(this);
    }
    const QStringList& Texts() const { return m_texts; }
    void Clear() { m_texts.clear(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_label && event->type() == QEvent::Paint &&
            (m_texts.isEmpty() || m_texts.last() != m_label->text()))
            m_texts << m_label->text();
        return false;
    }

private:
    QLabel* m_label;
    QStringList m_texts;
};

// The two real servers every FTP case runs against.
inline std::vector<FtpServer::Kind> ServerKinds() {
    return {FtpServer::Kind::Vsftpd, FtpServer::Kind::Pyftpdlib};
}

// Every server of the suite, for the cases that run where each applies.
inline std::vector<FtpServer::Kind> AllServerKinds() {
    return {FtpServer::Kind::Vsftpd, FtpServer::Kind::Pyftpdlib, FtpServer::Kind::PureFtpd,
            FtpServer::Kind::Proftpd};
}

inline std::string KindName(const testing::TestParamInfo<FtpServer::Kind>& info) {
    return FtpServer::KindName(info.param);
}

} // namespace listtest
