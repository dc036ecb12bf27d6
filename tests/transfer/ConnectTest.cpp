#include <QLabel>
#include <gtest/gtest.h>

#include "Await.h"
#include "FtpConnection.h"
#include "InternetSession.h"
#include "TransferFixture.h"

namespace {

// The listing as read, less the "." and ".." that some servers (vsftpd) list and
// that the panes leave out; those must still be folders.
std::vector<DirEntry> RealEntries(const std::vector<DirEntry>& listing) {
    std::vector<DirEntry> real;
    for (const DirEntry& e : listing) {
        if (e.name == "." || e.name == "..")
            EXPECT_EQ(e.attributes, 0x10u) << e.name.toStdString();
        else
            real.push_back(e);
    }
    return real;
}

class ConnectTest : public ServerTest {};

TEST_P(ConnectTest, ConnectsAndReportsItsProgressInPaneZero) {
    CCommStatusDlg dlg(env->frame);
    ASSERT_TRUE(Await(dlg.Connect()));
    CVelmarApp& app = *env->app;
    EXPECT_NE(app.Site().Session(), nullptr);
    EXPECT_NE(app.Site().Connection(), nullptr);
    EXPECT_TRUE(app.Site().IsConnectDone());
    EXPECT_FALSE(app.Site().ConnectFailed());
    EXPECT_EQ(app.Site().CurrentDir(), "/");
    EXPECT_EQ(env->boxes.Count(), 0);
    EXPECT_EQ(env->frame->pane0History, QStringList({"Opening Internet Connection - Please Wait",
                                                     "Connecting to FTP Server - Please Wait"}));
    // The connection is live: it lists.
    ASSERT_TRUE(env->server.WriteFile("probe.txt", "x"));
    Await(dlg.ReadFtpDirectory());
    const auto entries = RealEntries(app.Site().Listing());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "probe.txt");
}

TEST_P(ConnectTest, WhileStartingUpTheTextsGoToTheMessageLine) {
    env->app->SetStartingUp(true);
    CCommStatusDlg dlg(env->frame);
    dlg.Create();
    EXPECT_FALSE(dlg.Control(1034)->isVisible());
    ASSERT_TRUE(Await(dlg.Connect()));
    EXPECT_TRUE(dlg.Control(1034)->isVisible());
    EXPECT_EQ(dlg.GetDlgItemText(1034), "Reading FTP Directory - Please Wait");
    EXPECT_TRUE(env->frame->pane0History.isEmpty());
    Await(dlg.ReadFtpDirectory());
    EXPECT_TRUE(env->frame->pane0History.isEmpty());
}

TEST_P(ConnectTest, RefusedLoginLeavesNoSessionAndTheNextAttemptStartsAfresh) {
    CVelmarApp& app = *env->app;
    CProfile profile = app.Site().Profile();
    profile.m_userId = env->server.BadUser();
    profile.m_password = env->server.BadPassword();
    app.Site().SetProfile(profile);
    {
        CCommStatusDlg dlg(env->frame);
        EXPECT_FALSE(Await(dlg.Connect()));
    }
    EXPECT_EQ(app.Site().Session(), nullptr);
    EXPECT_EQ(app.Site().Connection(), nullptr);
    EXPECT_TRUE(app.Site().ConnectFailed());
    ASSERT_EQ(env->boxes.Count(), 1);
    EXPECT_EQ(env->boxes.Calls()[0].caption, "Error Opening FTP Connection");
    EXPECT_EQ(env->boxes.Calls()[0].text,
              "The program was unable to connect to the requested FTP site.");

    profile = app.Site().Profile();
    profile.m_userId = env->server.User();
    profile.m_password = env->server.Password();
    app.Site().SetProfile(profile);
    CCommStatusDlg again(env->frame);
    EXPECT_TRUE(Await(again.Connect()));
    EXPECT_NE(app.Site().Connection(), nullptr);
    EXPECT_EQ(env->boxes.Count(), 1);
}

TEST_P(ConnectTest, InitialDirectory) {
    ASSERT_TRUE(env->server.MakeDir("pub"));
    ASSERT_TRUE(env->server.MakeDir("pub/deep"));
    const struct {
        const char* initialDir;
        const char* currentDir;
        int boxes;
    } cases[] = {
        {"", "/", 0},
        {"/pub/deep", "/pub/deep", 0},
        {"pub", "/pub", 0},
        {"/missing", "/", 1},
    };
    for (const auto& c : cases) {
        env->app->Site().Close();
        env->boxes.Clear();
        CProfile profile = env->app->Site().Profile();
        profile.m_initialDir = c.initialDir;
        env->app->Site().SetProfile(profile);
        CCommStatusDlg dlg(env->frame);
        EXPECT_TRUE(Await(dlg.Connect())) << c.initialDir;
        EXPECT_EQ(env->app->Site().CurrentDir(), c.currentDir) << c.initialDir;
        ASSERT_EQ(env->boxes.Count(), c.boxes) << c.initialDir;
        if (c.boxes) {
            EXPECT_EQ(env->boxes.Calls()[0].caption, "Error with Initial Directory");
            EXPECT_EQ(env->boxes.Calls()[0].text, "The selected Initial Directory does not exist.");
        }
    }
}

TEST_P(ConnectTest, ReadFtpDirectory) {
    ASSERT_TRUE(env->server.MakeDir("empty"));
    ASSERT_TRUE(env->server.MakeDir("one"));
    ASSERT_TRUE(env->server.WriteFile("one/only.bin", QByteArray(1234, 'z')));
    ASSERT_TRUE(env->server.MakeDir("mixed"));
    ASSERT_TRUE(env->server.MakeDir("mixed/sub"));
    ASSERT_TRUE(env->server.WriteFile("mixed/.dotfile", "abc"));
    ASSERT_TRUE(env->Connect());
    CVelmarApp& app = *env->app;
    CCommStatusDlg dlg(env->frame);

    ASSERT_TRUE(app.Site().Connection()->SetCurrentDirectory("/empty"));
    app.Site().SetListing({DirEntry{}}); // left over from an earlier read
    Await(dlg.ReadFtpDirectory());
    EXPECT_TRUE(RealEntries(app.Site().Listing()).empty());
    EXPECT_LE(app.Site().Listing().size(), 2u);
    EXPECT_EQ(env->frame->PaneText(0), "Reading FTP Directory - Please Wait");

    ASSERT_TRUE(app.Site().Connection()->SetCurrentDirectory("/one"));
    size_t firstCount = 0;
    for (int round = 0; round < 2; ++round) { // a second read replaces, never doubles
        Await(dlg.ReadFtpDirectory());
        if (round == 0)
            firstCount = app.Site().Listing().size();
        EXPECT_EQ(app.Site().Listing().size(), firstCount);
        const auto entries = RealEntries(app.Site().Listing());
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].name, "only.bin");
        EXPECT_EQ(entries[0].size, 1234u);
        EXPECT_EQ(entries[0].attributes, 0u);
        EXPECT_GT(entries[0].lastWriteTime, 1500000000);
    }

    ASSERT_TRUE(app.Site().Connection()->SetCurrentDirectory("/mixed"));
    Await(dlg.ReadFtpDirectory());
    bool sawFolder = false, sawDotFile = false;
    for (const DirEntry& e : app.Site().Listing()) {
        if (e.name == "sub") {
            sawFolder = true;
            EXPECT_EQ(e.attributes, 0x10u);
        }
        if (e.name == ".dotfile") {
            sawDotFile = true;
            EXPECT_EQ(e.attributes, 0u);
            EXPECT_EQ(e.size, 3u);
        }
    }
    EXPECT_TRUE(sawFolder);
    EXPECT_TRUE(sawDotFile);
    EXPECT_EQ(env->boxes.Count(), 0);
}

TEST_P(ConnectTest, ReadingWithoutAConnectionFailsAndLeavesTheListingEmpty) {
    env->app->Site().SetListing({DirEntry{}});
    CCommStatusDlg dlg(env->frame);
    // A reading that cannot happen is a failure for the caller to report, never an
    // empty folder; the reading itself shows no box.
    EXPECT_THROW(Await(dlg.ReadFtpDirectory()), CInternetException);
    EXPECT_TRUE(env->app->Site().Listing().empty());
    EXPECT_EQ(env->boxes.Count(), 0);
}

VELMAR_BOTH_SERVERS(ConnectTest);

TEST(ConnectClosedPort, ReportsAndLeavesNoSession) {
    TransferEnv env(FtpServer::Kind::Pyftpdlib);
    ASSERT_TRUE(env.server.IsRunning());
    const QString address = env.server.Address();
    env.server.Kill(); // nothing listens on its port any more
    CProfile profile = env.app->Site().Profile();
    profile.m_address = address;
    env.app->Site().SetProfile(profile);
    CCommStatusDlg dlg(env.frame);
    EXPECT_FALSE(Await(dlg.Connect()));
    EXPECT_EQ(env.app->Site().Session(), nullptr);
    EXPECT_EQ(env.app->Site().Connection(), nullptr);
    EXPECT_EQ(env.boxes.CountCaption("Error Opening FTP Connection"), 1);
    EXPECT_EQ(env.boxes.Count(), 1);
}

} // namespace
