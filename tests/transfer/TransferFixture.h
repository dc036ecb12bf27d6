#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <tuple>

#include "CommStatusDlg.h"
#include "FtpServer.h"
#include "MessageBoxRecorder.h"
#include "TestFrame.h"
#include "VelmarApp.h"

// A fresh application with a test main window, a real FTP server of the given
// kind with the active profile pointing at it, a local temporary folder, and the
// message boxes recorded.
class TransferEnv {
public:
    explicit TransferEnv(FtpServer::Kind kind, FtpServer::Options options = {});
    ~TransferEnv();

    // Connects the main connection through a window-less status object.
    bool Connect();
    // A status object with its window made, as the panes make it for a copy.
    std::unique_ptr<CCommStatusDlg> NewStatusWindow();

    QString Local(const QString& relative) const { return m_local.path() + "/" + relative; }
    static bool WriteLocal(const QString& path, const QByteArray& data);
    static QByteArray ReadLocal(const QString& path);
    static bool LocalExists(const QString& path);

    FtpServer server;
    std::unique_ptr<CVelmarApp> app;
    TestFrame* frame = nullptr;
    MessageBoxRecorder boxes;

private:
    QTemporaryDir m_local;
};

// Random bytes that differ per call, so that a copy cannot pass by accident.
QByteArray RandomBytes(qsizetype size);

std::string KindName(const testing::TestParamInfo<FtpServer::Kind>& info);

// The test cases of every server test: both real servers.
#define VELMAR_BOTH_SERVERS(suite)                                                                 \
    INSTANTIATE_TEST_SUITE_P(Servers, suite,                                                       \
                             testing::Values(FtpServer::Kind::Vsftpd, FtpServer::Kind::Pyftpdlib), \
                             KindName)

// A test against one real server; the server must be up.
class ServerTest : public testing::TestWithParam<FtpServer::Kind> {
protected:
    void SetUp() override {
        env = std::make_unique<TransferEnv>(GetParam());
        ASSERT_TRUE(env->server.IsRunning()) << env->server.Error().toStdString();
    }
    void TearDown() override { env.reset(); }

    std::unique_ptr<TransferEnv> env;
};

// The three directions of a copy, as parameters of the copy tests with the server.
enum class Direction { LocalToFtp, FtpToLocal, FtpToFtp };
using Param = std::tuple<FtpServer::Kind, Direction>;

inline std::string ParamName(const testing::TestParamInfo<Param>& info) {
    static const char* names[] = {"LocalToFtp", "FtpToLocal", "FtpToFtp"};
    return std::string(FtpServer::KindName(std::get<0>(info.param))) + "_" +
           names[int(std::get<1>(info.param))];
}
