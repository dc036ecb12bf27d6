// Copies over a loopback shaped like a real link (tc's tbf, in the network
// namespace that in_netns.sh made for this program), and against servers that
// stop reading. On the bare loopback the send buffer never fills, so only here
// does a full buffer, a slow drain or a cancel behind queued data show.
#include <QDir>
#include "Await.h"
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

#include "CommStatusDlg.h"
#include "FtpServer.h"
#include "Job.h"
#include "MessageBoxRecorder.h"
#include "TestFrame.h"
#include "TlsServer.h"
#include "TransferFixture.h"
#include "TreeHashes.h"
#include "VelmarApp.h"

namespace {

struct Link {
    const char* name;
    QStringList tbf;
    qsizetype bytes; // the size of the file copied each way
};
const Link kFast{"40mbit", {"rate", "40mbit", "burst", "256kb", "limit", "20mb"}, 4'000'000};
const Link kSlow{"1mbit", {"rate", "1mbit", "burst", "32kb", "latency", "50ms"}, 1'000'000};

testing::AssertionResult Shape(const Link& link) {
    if (qEnvironmentVariableIsEmpty("VELMAR_IN_NETNS"))
        return testing::AssertionFailure()
               << "not in a network namespace of its own: run through tests/net/in_netns.sh";
    const QStringList args = QStringList{"qdisc", "replace", "dev", "lo", "root", "tbf"} + link.tbf;
    if (QProcess::execute("tc", args) != 0)
        return testing::AssertionFailure() << "tc " << args.join(' ').toStdString() << " failed";
    return testing::AssertionSuccess();
}

// One real server, plain or over TLS, behind one set of helpers.
class AnyServer {
public:
    AnyServer(FtpServer::Kind kind, bool tls) {
        if (!tls) {
            m_plain = std::make_unique<FtpServer>(kind);
            return;
        }
        if (TestCertificates::Prepare())
            m_tls = std::make_unique<TlsServer>(kind == FtpServer::Kind::Vsftpd
                                                    ? TlsServer::Kind::Vsftpd
                                                    : TlsServer::Kind::Pyftpdlib,
                                                TestCertificates::Make(
                                                    TestCertificates::Kind::Trusted));
    }
    bool IsRunning() const { return m_plain ? m_plain->IsRunning() : m_tls && m_tls->IsRunning(); }
    QString Address() const {
        return m_plain ? m_plain->Address() : QStringLiteral("ftps://") + m_tls->Address();
    }
    QString User() const { return m_plain ? m_plain->User() : m_tls->User(); }
    QString Password() const { return m_plain ? m_plain->Password() : m_tls->Password(); }
    QString PathOf(const QString& rel) const {
        return m_plain ? m_plain->PathOf(rel) : m_tls->PathOf(rel);
    }
    bool WriteFile(const QString& rel, const QByteArray& data) const {
        return m_plain ? m_plain->WriteFile(rel, data) : m_tls->WriteFile(rel, data);
    }
    bool MakeDir(const QString& rel) const {
        return m_plain ? m_plain->MakeDir(rel) : m_tls->MakeDir(rel);
    }
    QByteArray ReadFile(const QString& rel) const {
        return m_plain ? m_plain->ReadFile(rel) : m_tls->ReadFile(rel);
    }
    FtpServer* Plain() const { return m_plain.get(); }

private:
    std::unique_ptr<FtpServer> m_plain;
    std::unique_ptr<TlsServer> m_tls;
};

using LinkParam = std::tuple<FtpServer::Kind, bool>;

std::string LinkParamName(const testing::TestParamInfo<LinkParam>& info) {
    return std::string(FtpServer::KindName(std::get<0>(info.param))) +
           (std::get<1>(info.param) ? "_tls" : "_plain");
}

class ShapedLink : public testing::TestWithParam<LinkParam> {
protected:
    void SetUp() override {
        server = std::make_unique<AnyServer>(std::get<0>(GetParam()), std::get<1>(GetParam()));
        ASSERT_TRUE(server->IsRunning());
        app = std::make_unique<CVelmarApp>();
        app->SetStartingUp(false);
        app->m_startupDir = local.path() + "/";
        frame = new TestFrame; // the application deletes it
        app->m_pMainWnd = frame;
        CProfile profile = app->Site().Profile();
        profile.m_name = "Far Site";
        profile.m_address = server->Address();
        profile.m_userId = server->User();
        profile.m_password = server->Password();
        app->Site().SetProfile(profile);
        CCommStatusDlg connect(frame);
        ASSERT_TRUE(Await(connect.Connect())) << boxes.Captions().join(", ").toStdString();
        dlg = std::make_unique<CCommStatusDlg>(frame);
        dlg->Create();
    }
    void TearDown() override {
        QProcess::execute("tc", {"qdisc", "del", "dev", "lo", "root"});
        dlg.reset();
        app.reset();
    }
    QString Local(const QString& rel) const { return local.path() + "/" + rel; }
    // Every box the user saw, for a failure's message.
    std::string Seen() const {
        QStringList seen;
        for (const auto& call : boxes.Calls())
            seen << call.caption + ": " + call.text;
        return seen.join(" | ").toStdString();
    }

    QTemporaryDir local;
    std::unique_ptr<AnyServer> server;
    std::unique_ptr<CVelmarApp> app;
    TestFrame* frame = nullptr;
    std::unique_ptr<CCommStatusDlg> dlg;
    MessageBoxRecorder boxes;
};

TEST_P(ShapedLink, FilesArriveWholeBothWaysOnAFastAndASlowLink) {
    for (const Link& link : {kFast, kSlow}) {
        SCOPED_TRACE(link.name);
        ASSERT_TRUE(Shape(link));
        const QByteArray data = RandomBytes(link.bytes);
        const QString name = QStringLiteral("up-%1.bin").arg(link.name);
        ASSERT_TRUE(TransferEnv::WriteLocal(Local(name), data));
        EXPECT_TRUE(Await(dlg->CopyLocalToFtp(Local(name), "/" + name))) << Seen();
        EXPECT_TRUE(server->ReadFile(name) == data);
        EXPECT_TRUE(Await(dlg->CopyFtpToLocal("/" + name, Local("down-" + name)))) << Seen();
        EXPECT_TRUE(TransferEnv::ReadLocal(Local("down-" + name)) == data);
        EXPECT_EQ(boxes.Count(), 0) << Seen();
    }
}

TEST_P(ShapedLink, AFolderGoesUpAndComesBackWhole) {
    ASSERT_TRUE(Shape(kFast));
    QDir(local.path()).mkpath("tree/sub/deeper");
    const std::vector<std::pair<QString, qsizetype>> files = {
        {"tree/empty.bin", 0}, {"tree/a.bin", 700'000}, {"tree/sub/b.bin", 1'500'000},
        {"tree/sub/deeper/c.bin", 16'385}};
    for (const auto& [path, size] : files)
        ASSERT_TRUE(TransferEnv::WriteLocal(Local(path), RandomBytes(size)));
    ASSERT_TRUE(Await(dlg->CopyFolderLocalToFtp(Local("tree"), "/tree"))) << Seen();
    ASSERT_TRUE(Await(dlg->CopyFolderFtpToLocal("/tree", Local("back")))) << Seen();
    EXPECT_EQ(HashTree(Local("back")), HashTree(Local("tree")));
    EXPECT_EQ(HashTree(server->PathOf("tree")), HashTree(Local("tree")));
    EXPECT_EQ(boxes.Count(), 0) << Seen();
}

TEST_P(ShapedLink, CancelOnASlowLinkIsQuickAndKeepsTheOldFile) {
    ASSERT_TRUE(Shape(kSlow));
    const QByteArray old = RandomBytes(50'000);
    ASSERT_TRUE(server->MakeDir("site"));
    ASSERT_TRUE(server->WriteFile("site/index.php", old));
    const TreeHashes before = HashTree(server->PathOf("site"));
    ASSERT_TRUE(TransferEnv::WriteLocal(Local("index.php"), RandomBytes(3'000'000)));
    QElapsedTimer sinceCancel;
    dlg->m_blockObserver = [&](const BlockReport& r) {
        if (r.blockIndex == 150)
            core::CallOnUi([&] {
                sinceCancel.start();
                QTest::mouseClick(dlg->Control(1033), Qt::LeftButton);
            });
    };
    EXPECT_FALSE(Await(dlg->CopyLocalToFtp(Local("index.php"), "/site/index.php")));
    const qint64 ms = sinceCancel.elapsed();
    EXPECT_EQ(boxes.Captions(), QStringList({"Communication Cancelled"})) << Seen();
    // The old file is untouched and the part is gone, even behind a queue of data.
    EXPECT_EQ(HashTree(server->PathOf("site")), before);
    // Back within a second as a rule; the bound leaves room for a busy machine.
    EXPECT_LT(ms, 2500);
    std::printf("cancel on %s: the copy returned %lld ms after Cancel\n", kSlow.name,
                static_cast<long long>(ms));
}

INSTANTIATE_TEST_SUITE_P(Servers, ShapedLink,
                         testing::Combine(testing::Values(FtpServer::Kind::Vsftpd,
                                                          FtpServer::Kind::Pyftpdlib),
                                          testing::Bool()),
                         LinkParamName);

// A server that stops reading for a while in the middle of an upload: the send
// buffer fills and the copy waits, for as long as the pause stays under the data
// time-out.
class SlowReader : public ServerTest {};

TEST_P(SlowReader, AnUploadOutlastsPausesOfTheServer) {
    ASSERT_TRUE(env->Connect());
    auto dlg = env->NewStatusWindow();
    for (const int pauseMs : {100, 500, 2000}) {
        SCOPED_TRACE(pauseMs);
        const QByteArray data = RandomBytes(40'000'000);
        const QString name = QStringLiteral("paused-%1.bin").arg(pauseMs);
        ASSERT_TRUE(TransferEnv::WriteLocal(env->Local(name), data));
        std::thread pauser;
        dlg->m_blockObserver = [&](const BlockReport& r) {
            if (r.blockIndex != 5000)
                return;
            env->server.Freeze(true);
            pauser = std::thread([&, pauseMs] {
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
                env->server.Freeze(false);
            });
        };
        const bool copied = Await(dlg->CopyLocalToFtp(env->Local(name), "/" + name));
        if (pauser.joinable())
            pauser.join();
        EXPECT_TRUE(copied) << env->boxes.Captions().join(", ").toStdString();
        EXPECT_TRUE(env->server.ReadFile(name) == data);
    }
    EXPECT_EQ(env->boxes.Count(), 0);
}

// pyftpdlib serves a session in one process, so stopping it is a clean pause;
// vsftpd's sessions do not survive a stop of their processes unharmed.
INSTANTIATE_TEST_SUITE_P(Servers, SlowReader, testing::Values(FtpServer::Kind::Pyftpdlib),
                         KindName);

} // namespace
