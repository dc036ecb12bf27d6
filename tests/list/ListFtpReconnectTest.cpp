// A connection the server closed (a restart, its idle time-out) is made afresh
// by the next action without a word; one that cannot be made again is told once
// as lost, never as a folder the server refused.
#include <functional>
#include "Await.h"

#include "ListTestUtil.h"

using namespace listtest;

namespace {
// The boxes other than the delete's question.
QStringList Complaints(AppFixture& f) {
    QStringList captions = f.Boxes().Captions();
    captions.removeAll(QStringLiteral("Confirm File Delete"));
    return captions;
}

struct Action {
    const char* name;
    std::function<void(CMyListView*, CMyTreeView*)> run;
    const char* gone; // on the server afterwards, or null
    const char* made;
};

const Action kActions[] = {
    {"read", [](CMyListView*, CMyTreeView* t) { OpenFtp(t, {QStringLiteral("docs")}); }, nullptr,
     nullptr},
    {"new folder", [](CMyListView* l, CMyTreeView*) { Await(l->NewFolder()); }, nullptr, "NewFolder1"},
    {"rename",
     [](CMyListView* l, CMyTreeView*) {
         l->OnEndLabelEdit(RowOf(l, QStringLiteral("old.txt")), QStringLiteral("new.txt")); AwaitSpawned();
     },
     "old.txt", "new.txt"},
    {"delete",
     [](CMyListView* l, CMyTreeView*) {
         l->SelectRows({RowOf(l, QStringLiteral("keep.txt"))});
         l->DeleteSelected(); AwaitSpawned();
     },
     "keep.txt", nullptr},
};

bool Has(const FtpServer& server, const char* name) {
    return QFileInfo::exists(server.PathOf(QLatin1String(name)));
}

// The program connected to server, showing its root: docs/a.txt, keep.txt, old.txt.
std::unique_ptr<AppFixture> Connect(const FtpServer& server) {
    EXPECT_TRUE(server.IsRunning()) << server.Error().toStdString();
    server.MakeDir(QStringLiteral("docs"));
    server.WriteFile(QStringLiteral("docs/a.txt"), "a");
    server.WriteFile(QStringLiteral("keep.txt"), "k");
    server.WriteFile(QStringLiteral("old.txt"), "o");
    auto f = StartWith(server);
    f->Boxes().Clear();
    return f;
}
} // namespace

TEST(FtpReconnect, AServerRestartedBetweenTwoReadsIsReadWithoutABox) {
    for (FtpServer::Kind kind : AllServerKinds()) {
        SCOPED_TRACE(FtpServer::KindName(kind));
        FtpServer server(kind);
        auto f = Connect(server);
        ASSERT_TRUE(server.Restart()) << server.Error().toStdString();
        ASSERT_NE(OpenFtp(f->FtpTree(), {QStringLiteral("docs")}), nullptr);
        EXPECT_EQ(Names(f->FtpList()), QStringList{QStringLiteral("a.txt")});
        EXPECT_TRUE(Complaints(*f).isEmpty()) << Complaints(*f).join(u',').toStdString();
    }
}

// vsftpd and proftpd end a session idle for a second; each action after a
// longer pause does its work on a fresh login.
TEST(FtpReconnect, AnIdleSessionTheServerEndedIsMadeAfreshQuietly) {
    for (FtpServer::Kind kind : {FtpServer::Kind::Vsftpd, FtpServer::Kind::Proftpd}) {
        SCOPED_TRACE(FtpServer::KindName(kind));
        FtpServer server(kind, FtpServer::Options{.idleSeconds = 1});
        auto f = Connect(server);
        for (const Action& action : kActions) {
            SCOPED_TRACE(action.name);
            Show(f->FtpList(), QStringLiteral("/"));
            QTest::qWait(2500);
            action.run(f->FtpList(), f->FtpTree());
            EXPECT_TRUE(!action.gone || !Has(server, action.gone));
            EXPECT_TRUE(!action.made || Has(server, action.made));
            EXPECT_TRUE(Complaints(*f).isEmpty()) << Complaints(*f).join(u',').toStdString();
        }
    }
}

// A server gone for good: whatever comes first says once that the connection was
// lost, the FTP side turns unavailable, and the next folder says nothing more.
TEST(FtpReconnect, AServerGoneForGoodIsToldAsALostConnectionOnce) {
    for (const Action& action : kActions) {
        SCOPED_TRACE(action.name);
        FtpServer server(FtpServer::Kind::Vsftpd);
        auto f = Connect(server);
        server.Kill();
        action.run(f->FtpList(), f->FtpTree());
        OpenFtp(f->FtpTree(), {QStringLiteral("docs")});
        EXPECT_EQ(Complaints(*f), QStringList{QStringLiteral("Connection Lost")});
        EXPECT_TRUE(f->Boxes().Calls().last().text.contains(QStringLiteral("Refresh")));
        EXPECT_TRUE(f->App().Site().IsUnavailable());
        EXPECT_EQ(f->FtpList()->ItemCount(), 0);
        EXPECT_TRUE(Has(server, "keep.txt") && Has(server, "old.txt"));
    }
}
