// The owner of the FTP state: what it holds after each change, and that the
// panes hear of a change once, on their own thread, and never of a non-change.
#include <QCoreApplication>
#include <QSignalSpy>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

#include "FtpConnection.h"
#include "FtpServer.h"
#include "FtpSite.h"
#include "InternetSession.h"

namespace {

DirEntry Entry(const char* name, std::uint64_t size = 0) {
    DirEntry entry;
    entry.name = QString::fromUtf8(name);
    entry.size = size;
    return entry;
}

CProfile NamedProfile(const char* name) {
    CProfile profile;
    profile.m_name = QString::fromUtf8(name);
    profile.m_address = QStringLiteral("ftp.example");
    return profile;
}

struct Spies {
    explicit Spies(core::FtpSite& site)
        : connection(&site, &core::FtpSite::connectionChanged),
          profile(&site, &core::FtpSite::profileChanged),
          dir(&site, &core::FtpSite::currentDirChanged),
          listing(&site, &core::FtpSite::listingChanged),
          availability(&site, &core::FtpSite::availabilityChanged),
          rebuild(&site, &core::FtpSite::rebuildRequested) {}
    QList<qsizetype> Counts() const {
        return {connection.count(), profile.count(),      dir.count(),
                listing.count(),    availability.count(), rebuild.count()};
    }
    QSignalSpy connection, profile, dir, listing, availability, rebuild;
};

TEST(FtpSite, EachSignalFiresOncePerRealChange) {
    core::FtpSite site;
    Spies spies(site);
    // The running totals of connection, profile, dir, listing, availability and
    // rebuild after each step, taken on one site in this order.
    const struct {
        const char* what;
        std::function<void()> step;
        QList<qsizetype> totals;
    } steps[] = {
        {"unavailable", [&] { site.SetUnavailable(true); }, {0, 0, 0, 0, 1, 0}},
        {"unavailable again", [&] { site.SetUnavailable(true); }, {0, 0, 0, 0, 1, 0}},
        {"available", [&] { site.SetUnavailable(false); }, {0, 0, 0, 0, 2, 0}},
        {"profile", [&] { site.SetProfile(NamedProfile("A")); }, {0, 1, 0, 0, 2, 0}},
        {"same profile", [&] { site.SetProfile(NamedProfile("A")); }, {0, 1, 0, 0, 2, 0}},
        {"index", [&] { site.SetProfileIndex(2); }, {0, 2, 0, 0, 2, 0}},
        {"same index", [&] { site.SetProfileIndex(2); }, {0, 2, 0, 0, 2, 0}},
        {"same pair", [&] { site.SetActiveProfile(NamedProfile("A"), 2); }, {0, 2, 0, 0, 2, 0}},
        {"new pair", [&] { site.SetActiveProfile(NamedProfile("B"), 0); }, {0, 3, 0, 0, 2, 0}},
        {"folder", [&] { site.SetCurrentDir(QStringLiteral("/pub")); }, {0, 3, 1, 0, 2, 0}},
        {"same folder", [&] { site.SetCurrentDir(QStringLiteral("/pub")); }, {0, 3, 1, 0, 2, 0}},
        {"root \"\" is not \"/\"", [&] { site.SetCurrentDir(QString()); }, {0, 3, 2, 0, 2, 0}},
        {"clear nothing", [&] { site.ClearListing(); }, {0, 3, 2, 0, 2, 0}},
        {"empty reading", [&] { site.SetListing({}); }, {0, 3, 2, 1, 2, 0}},
        {"a reading", [&] { site.SetListing({Entry("a")}); }, {0, 3, 2, 2, 2, 0}},
        {"same reading again", [&] { site.SetListing({Entry("a")}); }, {0, 3, 2, 3, 2, 0}},
        {"clear it", [&] { site.ClearListing(); }, {0, 3, 2, 4, 2, 0}},
        {"rebuild", [&] { site.RequestRebuild(); }, {0, 3, 2, 4, 2, 1}},
        {"rebuild pending", [&] { site.RequestRebuild(); }, {0, 3, 2, 4, 2, 1}},
        {"taken, asked anew",
         [&] {
             EXPECT_TRUE(site.TakeRebuildRequest());
             site.RequestRebuild();
         },
         {0, 3, 2, 4, 2, 2}},
        {"close with nothing open", [&] { site.Close(); }, {0, 3, 2, 4, 2, 2}},
        {"no connection set", [&] { site.SetConnection(nullptr); }, {0, 3, 2, 4, 2, 2}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        s.step();
        EXPECT_EQ(spies.Counts(), s.totals);
    }
    EXPECT_EQ(spies.availability.at(0).at(0).toBool(), true);
    EXPECT_EQ(spies.availability.at(1).at(0).toBool(), false);
    EXPECT_EQ(spies.dir.at(0).at(0).toString(), QStringLiteral("/pub"));
    EXPECT_EQ(site.Profile(), NamedProfile("B"));
    EXPECT_EQ(site.ProfileIndex(), 0);
}

TEST(FtpSite, TheRebuildRequestIsTakenOnceAndTheListingReplacedWhole) {
    core::FtpSite site;
    EXPECT_FALSE(site.TakeRebuildRequest());
    site.RequestRebuild();
    site.RequestRebuild();
    EXPECT_TRUE(site.IsRebuildRequested());
    EXPECT_TRUE(site.TakeRebuildRequest());
    EXPECT_FALSE(site.IsRebuildRequested());
    EXPECT_FALSE(site.TakeRebuildRequest());

    site.SetListing({Entry("one", 1), Entry("two", 2), Entry("three", 3)});
    site.SetListing({Entry("two", 20)});
    ASSERT_EQ(site.Listing().size(), 1u);
    EXPECT_EQ(site.Listing()[0].name, QStringLiteral("two"));
    EXPECT_EQ(site.Listing()[0].size, 20u);
    site.ClearListing();
    EXPECT_TRUE(site.Listing().empty());

    // The connect attempt: done is what a reader trusts, failed is read with it.
    site.BeginConnectAttempt();
    EXPECT_FALSE(site.IsConnectDone());
    EXPECT_FALSE(site.ConnectFailed());
    site.EndConnectAttempt(false);
    EXPECT_TRUE(site.IsConnectDone());
    EXPECT_TRUE(site.ConnectFailed());
    site.BeginConnectAttempt();
    site.EndConnectAttempt(true);
    EXPECT_TRUE(site.IsConnectDone());
    EXPECT_FALSE(site.ConnectFailed());
}

TEST(FtpSite, ClosingDropsTheConnectionAndTheSession) {
    FtpServer server(FtpServer::Kind::Pyftpdlib);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    core::FtpSite site;
    Spies spies(site);
    auto session = std::make_unique<CInternetSession>();
    CInternetSession* opened = session.get();
    std::unique_ptr<CFtpConnection> connection(
        session->GetFtpConnection(server.Address(), server.User(), server.Password()));
    ASSERT_NE(connection, nullptr);
    site.SetSession(std::move(session));
    site.SetConnection(std::move(connection));
    EXPECT_EQ(site.Session(), opened);
    ASSERT_TRUE(site.IsConnected());
    QString dir;
    ASSERT_TRUE(site.Connection()->GetCurrentDirectory(dir));
    EXPECT_EQ(spies.connection.count(), 1);

    site.Close();
    EXPECT_EQ(site.Connection(), nullptr);
    EXPECT_EQ(site.Session(), nullptr);
    site.Close();
    ASSERT_EQ(spies.connection.count(), 2);
    EXPECT_EQ(spies.connection.at(0).at(0).toBool(), true);
    EXPECT_EQ(spies.connection.at(1).at(0).toBool(), false);

    // A session handed over to an abandoned attempt leaves the site without one,
    // and still open for its new owner.
    site.SetSession(std::make_unique<CInternetSession>());
    std::unique_ptr<CInternetSession> taken = site.TakeSession();
    EXPECT_NE(taken, nullptr);
    EXPECT_EQ(site.Session(), nullptr);
    site.SetSession(std::move(taken));
    site.CloseSession();
    EXPECT_EQ(site.Session(), nullptr);
    EXPECT_EQ(spies.connection.count(), 2);
}

TEST(FtpSite, ChangesMadeOnAWorkerReachThePanesOnTheirThread) {
    core::FtpSite site;
    QObject pane; // stands for a receiver living on the interface thread
    QList<QThread*> seen;
    QObject::connect(&site, &core::FtpSite::listingChanged, &pane,
                     [&] { seen << QThread::currentThread(); });
    QObject::connect(&site, &core::FtpSite::availabilityChanged, &pane,
                     [&] { seen << QThread::currentThread(); });
    std::thread worker([&] {
        site.SetListing({Entry("x")});
        site.SetUnavailable(true);
    });
    worker.join();
    EXPECT_TRUE(seen.isEmpty()) << "a worker's change must not run the pane's code at once";
    QCoreApplication::processEvents();
    EXPECT_EQ(seen, (QList<QThread*>{QThread::currentThread(), QThread::currentThread()}));
    EXPECT_EQ(site.Listing().size(), 1u);
    EXPECT_TRUE(site.IsUnavailable());
}

TEST(FtpSite, RebuildRequestsFromManyWorkersAreOneRequestAndOneSignal) {
    core::FtpSite site;
    QSignalSpy rebuild(&site, &core::FtpSite::rebuildRequested);
    // Rounds of workers asking at once; between rounds the interface thread takes
    // the request, so each round must come out as exactly one more.
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::thread> workers;
        for (int w = 0; w < 4; ++w)
            workers.emplace_back([&] {
                for (int i = 0; i < 2000; ++i)
                    site.RequestRebuild();
            });
        for (std::thread& worker : workers)
            worker.join();
        EXPECT_EQ(rebuild.count(), round);
        EXPECT_TRUE(site.TakeRebuildRequest());
        EXPECT_FALSE(site.TakeRebuildRequest());
    }
}

} // namespace
