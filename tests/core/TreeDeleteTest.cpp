// Deleting a folder with everything in it, on real folders and real servers: a
// stop between entries or during a server's answer ends the walk quickly,
// reports exactly what went, leaves the connection usable, and a second run
// finishes the job.
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>

#include "Await.h"
#include "Job.h"
#include <memory>
#include <unistd.h>

#include "FtpConnection.h"
#include "FtpFileOps.h"
#include "FtpRemote.h"
#include "FtpLogin.h"
#include "FtpServer.h"
#include "FtpTreeDelete.h"
#include "InternetSession.h"
#include "LocalTreeDelete.h"

namespace {

using core::FileOp;
using core::OpErrorKind;

// Everything under folder, links counted and never followed.
int CountUnder(const QString& folder) {
    int n = 0;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

// folders x files under root/tree; returns how many entries that makes.
int MakeTree(const QString& root, int folders, int files) {
    for (int d = 0; d < folders; ++d) {
        const QString folder = QStringLiteral("%1/tree/d%2/inner").arg(root).arg(d);
        if (!QDir().mkpath(folder))
            return -1;
        for (int f = 0; f < files; ++f) {
            QFile file(QStringLiteral("%1/f%2").arg(folder).arg(f));
            if (!file.open(QIODevice::WriteOnly) || file.write("data") != 4)
                return -1;
        }
    }
    return folders * (files + 2);
}

// The same tree on a server, owned by its session user.
int MakeTree(const FtpServer& server, int folders, int files) {
    if (!server.MakeDir(QStringLiteral("tree")))
        return -1;
    for (int d = 0; d < folders; ++d) {
        const QString folder = QStringLiteral("tree/d%1").arg(d);
        if (!server.MakeDir(folder) || !server.MakeDir(folder + QStringLiteral("/inner")))
            return -1;
        for (int f = 0; f < files; ++f)
            if (!server.WriteFile(QStringLiteral("%1/inner/f%2").arg(folder).arg(f), "data"))
                return -1;
    }
    return folders * (files + 2);
}

class FtpTreeDeleteTest : public testing::TestWithParam<FtpServer::Kind> {};

TEST_P(FtpTreeDeleteTest, DeletesEverythingAndCountsEachEntry) {
    FtpLogin s(GetParam());
    ASSERT_TRUE(s.server.IsRunning()) << s.server.Error().toStdString();
    ASSERT_NE(s.connection, nullptr);
    core::FtpRemote remote(*s.connection, nullptr);
    const int entries = MakeTree(s.server, 3, 5);
    ASSERT_GT(entries, 0);
    ASSERT_TRUE(s.server.WriteFile(QStringLiteral("beside.txt"), "keep"));
    int lastCount = 0;
    bool inOrder = true;
    const core::OpResult r = core::DeleteFtpTree(&remote, QStringLiteral("/tree/"),
                                                 nullptr, [&](int deleted, const QString&) {
                                                     inOrder = inOrder && deleted == lastCount + 1;
                                                     lastCount = deleted;
                                                 });
    EXPECT_TRUE(r.Ok()) << r.detail.toStdString();
    EXPECT_EQ(lastCount, entries + 1); // and the folder itself
    EXPECT_TRUE(inOrder);
    EXPECT_FALSE(QFileInfo::exists(s.server.PathOf(QStringLiteral("tree"))));
    EXPECT_EQ(s.server.ReadFile(QStringLiteral("beside.txt")), "keep");

    const core::OpResult missing =
        core::DeleteFtpTree(&remote, QStringLiteral("/tree/"));
    EXPECT_EQ(missing.kind, OpErrorKind::Failed);
    EXPECT_EQ(missing.op, FileOp::DeleteFolder);
    EXPECT_TRUE(missing.detail.contains(QLatin1String("Nothing was deleted.")))
        << missing.detail.toStdString();
}

TEST_P(FtpTreeDeleteTest, AStopBetweenEntriesReportsWhatWentAndASecondRunFinishes) {
    FtpLogin s(GetParam());
    ASSERT_TRUE(s.server.IsRunning()) << s.server.Error().toStdString();
    ASSERT_NE(s.connection, nullptr);
    core::FtpRemote remote(*s.connection, nullptr);
    const int entries = MakeTree(s.server, 3, 6);
    ASSERT_GT(entries, 0);
    const QString tree = s.server.PathOf(QStringLiteral("tree"));
    // 1: a file; 6: the rest of a folder and the folder, then the stop comes
    // before its parent goes; 8: a parent, a folder's files and that folder.
    for (const int stopAfter : {1, 6, 8}) {
        const int before = CountUnder(tree);
        std::atomic<int> cancel{0};
        int seen = 0;
        const core::OpResult r = core::DeleteFtpTree(&remote, QStringLiteral("/tree/"),
                                                     &cancel, [&](int, const QString&) {
                                                         if (++seen == stopAfter)
                                                             cancel = 1;
                                                     });
        ASSERT_EQ(r.kind, OpErrorKind::Cancelled) << stopAfter;
        EXPECT_EQ(seen, stopAfter); // nothing more after the stop
        EXPECT_EQ(CountUnder(tree), before - stopAfter) << stopAfter;
        EXPECT_TRUE(r.detail.startsWith(QLatin1String("The delete was cancelled.")));
        EXPECT_TRUE(r.detail.contains(
            QStringLiteral("%1 item(s) were deleted; /tree/ remains").arg(stopAfter)))
            << r.detail.toStdString();
        EXPECT_FALSE(r.detail.contains(QLatin1String("not known")));
        EXPECT_FALSE(r.detail.contains(QLatin1String("closed")));
    }
    const core::OpResult rest = core::DeleteFtpTree(&remote, QStringLiteral("/tree/"));
    EXPECT_TRUE(rest.Ok()) << rest.detail.toStdString();
    EXPECT_FALSE(QFileInfo::exists(tree));
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpTreeDeleteTest,
                         testing::Values(FtpServer::Kind::Pyftpdlib, FtpServer::Kind::Vsftpd),
                         [](const auto& info) { return FtpServer::KindName(info.param); });

// pyftpdlib whose every DELE answers delayMs late, busy meanwhile.
FtpServer::Options LateDeletes(int delayMs) {
    FtpServer::Options options;
    options.lateMs = delayMs;
    return options;
}

struct StopOutcome {
    core::OpResult result;
    qint64 stopToReturnMs = 0;
    int ticks = 0; // of a 10 ms timer on this thread meanwhile
};

StopOutcome DeleteAndStop(core::RemoteConnection* connection, int stopAtMs) {
    std::atomic<int> cancel{0};
    QElapsedTimer clock;
    QTimer::singleShot(stopAtMs, [&] {
        cancel = 1;
        clock.start();
    });
    StopOutcome out;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++out.ticks; });
    ticker.start(10);
    out.result = Await(core::Job(
        [&] { return core::DeleteFtpTree(connection, QStringLiteral("/tree/"), &cancel); }));
    out.stopToReturnMs = clock.isValid() ? clock.elapsed() : -1;
    return out;
}

TEST(FtpTreeDeleteStop, AStopDuringALateAnswerNeverTakesThatAnswerForAnothers) {
    FtpServer server(FtpServer::Kind::Pyftpdlib, LateDeletes(60));
    ASSERT_TRUE(server.IsRunning());
    const int entries = MakeTree(server.Root(), 2, 20);
    ASSERT_GT(entries, 0);
    CInternetSession session;
    std::unique_ptr<CFtpConnection> connection(
        session.GetFtpConnection(server.Address(), server.User(), server.Password()));
    ASSERT_NE(connection, nullptr);
    core::FtpRemote remote(*connection, nullptr);
    const QString tree = server.Root() + QStringLiteral("/tree");
    const StopOutcome out = DeleteAndStop(&remote, 400);
    ASSERT_EQ(out.result.kind, OpErrorKind::Cancelled) << out.result.detail.toStdString();
    EXPECT_GE(out.stopToReturnMs, 0);
    EXPECT_LT(out.stopToReturnMs, 1000);
    EXPECT_GE(out.ticks, 20); // the interface thread kept handling its timers
    // The count reported is what went for sure; the DELE the stop cut short may
    // have gone too, and the report says that it is not known.
    const QRegularExpression count(QStringLiteral("(\\d+) item\\(s\\) were deleted"));
    const QRegularExpressionMatch m = count.match(out.result.detail);
    ASSERT_TRUE(m.hasMatch()) << out.result.detail.toStdString();
    const int reported = m.captured(1).toInt();
    const int gone = entries + 1 - (CountUnder(tree) + 1);
    EXPECT_GE(gone, reported);
    EXPECT_LE(gone, reported + 1);
    EXPECT_TRUE(out.result.detail.contains(QLatin1String("not known")));
    // The connection logs in again for the next command.
    EXPECT_FALSE(out.result.detail.contains(QLatin1String("connection to the server was closed")));
    // The late "250" of the cut DELE must never pass for this command's answer.
    const core::OpResult next =
        core::DeleteEmptyFtpFolder(&remote, QStringLiteral("/no-such-folder"));
    EXPECT_EQ(next.kind, OpErrorKind::Failed) << next.words.toStdString();
    // The same connection finishes the job.
    const core::OpResult rest = core::DeleteFtpTree(&remote, QStringLiteral("/tree/"));
    EXPECT_TRUE(rest.Ok()) << rest.detail.toStdString();
    EXPECT_FALSE(QFileInfo::exists(tree));
}

TEST(FtpTreeDeleteStop, AStopOnAStalledServerReturnsWithinASecond) {
    FtpServer server(FtpServer::Kind::Pyftpdlib, LateDeletes(4000));
    ASSERT_TRUE(server.IsRunning());
    ASSERT_GT(MakeTree(server.Root(), 1, 3), 0);
    CInternetSession session;
    std::unique_ptr<CFtpConnection> connection(
        session.GetFtpConnection(server.Address(), server.User(), server.Password()));
    ASSERT_NE(connection, nullptr);
    core::FtpRemote remote(*connection, nullptr);
    const StopOutcome out = DeleteAndStop(&remote, 500);
    ASSERT_EQ(out.result.kind, OpErrorKind::Cancelled);
    EXPECT_GE(out.stopToReturnMs, 0);
    EXPECT_LT(out.stopToReturnMs, 1000);
    EXPECT_TRUE(out.result.detail.contains(QLatin1String("Nothing was deleted.")))
        << out.result.detail.toStdString();
    EXPECT_TRUE(out.result.detail.contains(QLatin1String("not known")));
    EXPECT_TRUE(out.result.path.startsWith(QLatin1String("/tree/d0/inner/f")))
        << out.result.path.toStdString();
}

TEST(LocalTreeDelete, LinksGoAsLinksAndHiddenFoldersAreKeptAndReported) {
    QTemporaryDir dir;
    const QString root = dir.path();
    ASSERT_GT(MakeTree(root, 2, 3), 0);
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/outside/deep")));
    ASSERT_TRUE(QFile(root + QStringLiteral("/tree/d0/f")).open(QIODevice::WriteOnly));
    const QByteArray outside = (root + QStringLiteral("/outside")).toLocal8Bit();
    ASSERT_EQ(::symlink(outside.constData(), (root + "/tree/d0/to-folder").toLocal8Bit()), 0);
    ASSERT_EQ(::symlink("gone", (root + "/tree/d1/dangling").toLocal8Bit()), 0);
    const core::OpResult r = core::DeleteLocalTree(root + QStringLiteral("/tree/"));
    EXPECT_TRUE(r.Ok()) << r.words.toStdString();
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/tree")));
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/outside/deep")).isDir());

    // A hidden folder stays; the folder holding it cannot go, and says so.
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/h/.keep")));
    ASSERT_TRUE(QFile(root + QStringLiteral("/h/plain")).open(QIODevice::WriteOnly));
    const core::OpResult hidden = core::DeleteLocalTree(root + QStringLiteral("/h/"));
    EXPECT_EQ(hidden.kind, OpErrorKind::Failed);
    EXPECT_EQ(hidden.op, FileOp::DeleteFolder);
    EXPECT_EQ(hidden.path, root + QStringLiteral("/h/"));
    EXPECT_FALSE(hidden.words.isEmpty());
    EXPECT_TRUE(hidden.detail.isEmpty()); // the plain box, as the local side always showed
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/h/.keep")).isDir());
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/h/plain")));

    // A folder that is itself a link goes alone.
    ASSERT_EQ(::symlink(outside.constData(), (root + "/self").toLocal8Bit()), 0);
    EXPECT_TRUE(core::DeleteLocalTree(root + QStringLiteral("/self/")).Ok());
    EXPECT_FALSE(QFileInfo(root + QStringLiteral("/self")).isSymLink());
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/outside/deep")).isDir());
}

TEST(LocalTreeDelete, AStopReportsWhatWentAndASecondRunFinishes) {
    QTemporaryDir dir;
    const int entries = MakeTree(dir.path(), 3, 4);
    ASSERT_GT(entries, 0);
    const QString tree = dir.path() + QStringLiteral("/tree");
    std::atomic<int> cancel{0};
    int seen = 0;
    const core::OpResult r =
        core::DeleteLocalTree(tree + QLatin1Char('/'), &cancel, [&](int, const QString&) {
            if (++seen == 5)
                cancel = 1;
        });
    ASSERT_EQ(r.kind, OpErrorKind::Cancelled);
    EXPECT_EQ(r.op, FileOp::DeleteFolder);
    EXPECT_EQ(CountUnder(tree), entries - 5);
    EXPECT_TRUE(r.detail.contains(QLatin1String("5 item(s) were deleted")))
        << r.detail.toStdString();
    EXPECT_TRUE(core::DeleteLocalTree(tree + QLatin1Char('/')).Ok());
    EXPECT_FALSE(QFileInfo::exists(tree));
}

} // namespace
