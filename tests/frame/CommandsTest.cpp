// Refresh and the Profiles command against real servers: the FTP side goes away,
// comes back, and follows the active profile.
#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidgetItem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

#include "Await.h"
#include "AppFixture.h"
#include "CommActivity.h"
#include "FtpServer.h"
#include "FtpSite.h"
#include "MainFrame.h"
#include "MyListView.h"
#include "MyTreeView.h"
#include "ProfileFile.h"
#include "ProfilesDlg.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"

namespace {
// Lets events through until done() holds or the time is up.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QTest::qWait(10);
    return done();
}

int Connects(const QSignalSpy& spy) {
    int connects = 0;
    for (const QList<QVariant>& args : spy)
        connects += args.at(0).toBool() ? 1 : 0;
    return connects;
}

QStringList ChildLabels(QTreeWidgetItem* item) {
    QStringList labels;
    for (int i = 0; item && i < item->childCount(); ++i)
        labels << item->child(i)->text(0);
    return labels;
}

QStringList TopLevelLabels(QTreeWidget* tree) {
    QStringList labels;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        labels << tree->topLevelItem(i)->text(0);
    return labels;
}

TEST(Commands, RefreshWhenTheServerHasGoneAndAfterItCameBack) {
    auto server = std::make_unique<FtpServer>(FtpServer::Kind::Pyftpdlib);
    ASSERT_TRUE(server->IsRunning()) << server->Error().toStdString();
    ASSERT_TRUE(server->MakeDir(QStringLiteral("pub")));
    AppFixture f;
    f.SetProfile(server->Address(), server->User(), server->Password());
    ASSERT_TRUE(f.Start());
    CMainFrame* frame = f.Frame();
    CMyTreeView* ftpTree = f.FtpTree();
    ASSERT_EQ(ftpTree->topLevelItemCount(), 1);
    EXPECT_EQ(ftpTree->topLevelItem(0)->text(0), QStringLiteral("/"));
    EXPECT_FALSE(f.App().Site().IsUnavailable());

    server->Kill();
    f.Boxes().Clear();
    frame->Action(ID_REFRESH)->trigger();
    AwaitSpawned();
    EXPECT_EQ(TopLevelLabels(ftpTree), QStringList{QStringLiteral("No Connection")});
    EXPECT_EQ(ftpTree->topLevelItem(0)->childCount(), 0);
    EXPECT_TRUE(f.App().Site().IsUnavailable());
    EXPECT_EQ(f.App().Site().Session(), nullptr);
    EXPECT_EQ(f.Boxes().CountCaption(QStringLiteral("Error Opening FTP Connection")), 1);
    EXPECT_EQ(f.FtpList()->ItemCount(), 0);
    // Nothing of the folder read over the lost connection comes back by sorting.
    for (int id : {ID_SORT_SIZE, ID_SORT_NAME}) {
        frame->Action(id)->trigger();
        EXPECT_EQ(f.FtpList()->ItemCount(), 0) << id;
    }
    // The local side was rebuilt and shows its first drive.
    ASSERT_GE(f.LocalTree()->topLevelItemCount(), 1);
    EXPECT_EQ(f.LocalTree()->topLevelItem(0)->text(0), QStringLiteral("Local Computer"));
    EXPECT_FALSE(f.LocalList()->m_path.isEmpty());
    // No context menu and no drop on the FTP tree while the side is unavailable.
    EXPECT_EQ(ftpTree->MakeContextMenu(ftpTree->topLevelItem(0)), nullptr);
    std::unique_ptr<QMimeData> drag(CMyTreeView::MakeDragData(DRAG_LOCAL_LIST));
    const QRect rootRect = ftpTree->visualItemRect(ftpTree->topLevelItem(0));
    EXPECT_EQ(ftpTree->DropTargetAt(rootRect.center(), drag.get()), nullptr);

    // The server is back (at another address here): Refresh reconnects.
    server = std::make_unique<FtpServer>(FtpServer::Kind::Pyftpdlib);
    ASSERT_TRUE(server->IsRunning());
    ASSERT_TRUE(server->MakeDir(QStringLiteral("back")));
    CProfile profile = f.App().Site().Profile();
    profile.m_address = server->Address();
    f.App().Site().SetProfile(profile);
    f.Boxes().Clear();
    frame->OnRefresh();
    AwaitSpawned();
    EXPECT_EQ(f.Boxes().Count(), 0) << f.Boxes().Captions().join(',').toStdString();
    EXPECT_EQ(TopLevelLabels(ftpTree), QStringList{QStringLiteral("/")});
    EXPECT_FALSE(f.App().Site().IsUnavailable());
    EXPECT_EQ(f.FtpList()->ItemCount(), 1);
    EXPECT_EQ(f.FtpList()->ItemName(0), QStringLiteral("back"));
    EXPECT_NE(ftpTree->MakeContextMenu(ftpTree->topLevelItem(0)), nullptr);
}

TEST(Commands, ClosingTheProfilesDialogReconnectsToTheNewActiveProfile) {
    FtpServer first(FtpServer::Kind::Pyftpdlib);
    FtpServer second(FtpServer::Kind::Vsftpd);
    ASSERT_TRUE(first.IsRunning()) << first.Error().toStdString();
    ASSERT_TRUE(second.IsRunning()) << second.Error().toStdString();
    ASSERT_TRUE(second.MakeDir(QStringLiteral("on-second")));
    AppFixture f;
    std::vector<CProfile> profiles(2);
    profiles[0].m_name = QStringLiteral("First");
    profiles[0].m_address = first.Address();
    profiles[0].m_userId = first.User();
    profiles[0].m_password = first.Password();
    profiles[0].m_default = 1;
    profiles[1].m_name = QStringLiteral("Second");
    profiles[1].m_address = second.Address();
    profiles[1].m_userId = second.User();
    profiles[1].m_password = second.Password();
    ASSERT_TRUE(SaveProfileList(f.App().m_profileFilePath, profiles));
    ASSERT_TRUE(f.InitInstance());
    CMainFrame* frame = f.Frame();
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Velmar98 - First"));

    // In the dialog: select "Second", close, and answer Yes to making it active.
    QTimer::singleShot(0, [] {
        auto* dlg = qobject_cast<CProfilesDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        auto* list = dlg->findChild<QListWidget*>(QStringLiteral("1012"));
        ASSERT_NE(list, nullptr);
        list->setCurrentRow(1);
        dlg->findChild<QPushButton*>(QStringLiteral("1011"))->click();
    });
    f.Boxes().Answer(IDYES);
    frame->Action(ID_PROFILES)->trigger();
    AwaitSpawned();
    EXPECT_EQ(f.Boxes().CountCaption(QStringLiteral("Confirm Active Profile Selection")), 1);
    EXPECT_EQ(f.App().Site().ProfileIndex(), 1);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Velmar98 - Second"));
    EXPECT_FALSE(f.App().Site().IsUnavailable());
    ASSERT_EQ(f.FtpTree()->topLevelItemCount(), 1);
    EXPECT_EQ(f.FtpList()->ItemCount(), 1);
    EXPECT_EQ(f.FtpList()->ItemName(0), QStringLiteral("on-second"));
}

TEST(Commands, ARebuildAskedForOnAWorkerReconnectsOnceAfterTheCommunicationEnds) {
    FtpServer server(FtpServer::Kind::Pyftpdlib);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    ASSERT_TRUE(server.MakeDir(QStringLiteral("pub")));
    AppFixture f;
    f.SetProfile(server.Address(), server.User(), server.Password());
    ASSERT_TRUE(f.Start());
    core::FtpSite& site = f.App().Site();
    QSignalSpy connection(&site, &core::FtpSite::connectionChanged);
    ASSERT_TRUE(server.MakeDir(QStringLiteral("later")));
    auto askOnAWorker = [&site] { std::thread([&site] { site.RequestRebuild(); }).join(); };

    // Asked while a communication holds the window: the request waits for its end.
    {
        CommHold hold(f.App().Comm());
        askOnAWorker();
        QTest::qWait(100);
        EXPECT_TRUE(site.IsRebuildRequested());
        EXPECT_EQ(connection.count(), 0);
    }
    ASSERT_TRUE(WaitFor([&] { return !site.IsRebuildRequested() && Connects(connection) > 0; }));
    AwaitSpawned(); // the folders read on the new connection
    CMyTreeView* tree = f.FtpTree();
    EXPECT_EQ(TopLevelLabels(tree), QStringList{QStringLiteral("/")});
    EXPECT_EQ(ChildLabels(tree->topLevelItem(0)), (QStringList{"later", "pub"}));
    EXPECT_EQ(f.FtpList()->ItemCount(), 2);
    EXPECT_FALSE(site.IsUnavailable());
    EXPECT_EQ(f.Boxes().Count(), 0) << f.Boxes().Captions().join(',').toStdString();

    // Asked with the window free: handled at once, and once, however often it
    // was asked before it was taken.
    ASSERT_TRUE(server.MakeDir(QStringLiteral("last")));
    askOnAWorker();
    askOnAWorker();
    ASSERT_TRUE(WaitFor([&] { return Connects(connection) >= 2; }));
    QTest::qWait(200);
    AwaitSpawned();
    EXPECT_EQ(Connects(connection), 2);
    EXPECT_EQ(ChildLabels(tree->topLevelItem(0)), (QStringList{"last", "later", "pub"}));
    EXPECT_FALSE(site.IsRebuildRequested());
}

TEST(Commands, TheProfilesCommandRebuildsOnceItselfEvenWithEventsLetThrough) {
    FtpServer server(FtpServer::Kind::Pyftpdlib);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    AppFixture f;
    std::vector<CProfile> profiles(1);
    profiles[0].m_name = QStringLiteral("Only");
    profiles[0].m_address = server.Address();
    profiles[0].m_userId = server.User();
    profiles[0].m_password = server.Password();
    profiles[0].m_default = 1;
    ASSERT_TRUE(SaveProfileList(f.App().m_profileFilePath, profiles));
    ASSERT_TRUE(f.InitInstance());
    QSignalSpy connection(&f.App().Site(), &core::FtpSite::connectionChanged);
    QTimer::singleShot(0, [] {
        auto* dlg = qobject_cast<CProfilesDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        dlg->findChild<QPushButton*>(QStringLiteral("1011"))->click();
    });
    f.Frame()->Action(ID_PROFILES)->trigger();
    AwaitSpawned();
    EXPECT_EQ(Connects(connection), 1);
    QTest::qWait(200);
    EXPECT_EQ(Connects(connection), 1);
    EXPECT_FALSE(f.App().Site().IsRebuildRequested());
    EXPECT_FALSE(f.App().Site().IsUnavailable());
}
} // namespace
