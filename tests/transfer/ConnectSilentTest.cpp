#include <QElapsedTimer>
#include <gtest/gtest.h>

#include "Await.h"
#include "TransferFixture.h"

namespace {

// A server that takes the call and never answers: Connect gives up after its wait
// of about ten seconds, and the worker it leaves behind ends by itself and drops
// what it holds without touching the application.
TEST(ConnectSilentServer, GivesUpAfterAboutTenSeconds) {
    TransferEnv env(FtpServer::Kind::Silent);
    ASSERT_TRUE(env.server.IsRunning()) << env.server.Error().toStdString();
    QElapsedTimer timer;
    timer.start();
    {
        CCommStatusDlg dlg(env.frame);
        EXPECT_FALSE(Await(dlg.Connect()));
    }
    const qint64 waited = timer.elapsed();
    EXPECT_GE(waited, 9000);
    EXPECT_LT(waited, 20000);
    EXPECT_EQ(env.app->Site().Session(), nullptr);
    EXPECT_EQ(env.app->Site().Connection(), nullptr);
    EXPECT_EQ(env.boxes.CountCaption("Error Opening FTP Connection"), 1);
    // The application goes first; the worker must not need it.
    env.app.reset();
    EXPECT_TRUE(CCommStatusDlg::WaitForConnectWorkers(60000));
}

} // namespace
