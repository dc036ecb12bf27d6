// Faults met by the program's own copies and listings: each ends within its
// time-out plus a small margin, the user is told through a message box, the main
// window is enabled again, and no existing file changes, local or remote.
#include <QElapsedTimer>
#include "Await.h"
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string_view>

#include "CommStatusDlg.h"
#include "FaultServer.h"
#include "FtpConnection.h"
#include "InternetSession.h"
#include "MessageBoxRecorder.h"
#include "TestFrame.h"
#include "VelmarApp.h"

namespace {

constexpr int kTimeoutMs = 2000;
constexpr int kMarginMs = 1500;

QByteArray Pattern(int size, int seed) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 131 + seed + i / 977) & 0xff);
    return data;
}

bool WriteLocal(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// The application with a test main window, connected to the scripted server with
// short time-outs, a local folder holding files that must survive.
class CopyFault {
public:
    explicit CopyFault(const char* scenario) : server(QString::fromLatin1(scenario)) {
        app = std::make_unique<CVelmarApp>();
        app->SetStartingUp(false);
        frame = new TestFrame; // the application deletes its main window
        app->m_pMainWnd = frame;
        frame->show();
        CProfile profile = app->Site().Profile();
        profile.m_name = QStringLiteral("Fault Site");
        profile.m_address = server.Address();
        profile.m_userId = QStringLiteral("user");
        profile.m_password = QStringLiteral("secret");
        app->Site().SetProfile(profile);
        server.WriteFile(QStringLiteral("remote.bin"), Pattern(3 << 20, 1));
        server.WriteFile(QStringLiteral("upload.bin"), Pattern(1000, 2));
        WriteLocal(Local("remote.bin"), Pattern(5000, 3)); // an older local copy
        WriteLocal(Local("upload.bin"), Pattern(2 << 20, 4));
    }

    // The main connection, made as Connect makes it but with short time-outs.
    bool Connect() {
        auto session = std::make_unique<CInternetSession>();
        session->m_timeouts = {kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs};
        try {
            app->Site().SetConnection(std::unique_ptr<CFtpConnection>(
                session->GetFtpConnection(server.Address(), app->Site().Profile().m_userId,
                                          app->Site().Profile().m_password)));
        } catch (const CInternetException&) {
            return false;
        }
        app->Site().SetSession(std::move(session));
        return true;
    }

    QString Local(const QString& name) const { return m_local.filePath(name); }
    QString LocalRoot() const { return m_local.path(); }

    FaultServer server;
    std::unique_ptr<CVelmarApp> app;
    TestFrame* frame = nullptr;
    MessageBoxRecorder boxes;

private:
    QTemporaryDir m_local;
};

enum class Op { Download, DownloadFresh, DownloadCancelled, Upload, Listing, Connect };

struct Row {
    const char* scenario;
    Op op;
    const char* caption = "Error Copying File";
};

const char* OpName(Op op) {
    switch (op) {
    case Op::Download:
        return "download over an existing file";
    case Op::DownloadFresh:
        return "download to a new file";
    case Op::DownloadCancelled:
        return "download cancelled by the user";
    case Op::Upload:
        return "upload over an existing file";
    case Op::Listing:
        return "folder listing";
    case Op::Connect:
        return "the program's connect";
    }
    return "";
}

// Runs the operation as the panes do: the main window disabled during it.
bool RunOp(CopyFault& env, Op op) {
    auto dlg = std::make_unique<CCommStatusDlg>(env.frame);
    dlg->Create();
    env.frame->setEnabled(false);
    bool ok = false;
    switch (op) {
    case Op::Download:
        ok = Await(dlg->CopyFtpToLocal(QStringLiteral("/remote.bin"), env.Local("remote.bin")));
        break;
    case Op::DownloadFresh:
        ok = Await(dlg->CopyFtpToLocal(QStringLiteral("/remote.bin"), env.Local("fresh.bin")));
        break;
    case Op::DownloadCancelled:
        // The user presses Cancel once some of the file has come.
        dlg->m_blockObserver = [d = dlg.get()](const BlockReport& block) {
            if (block.blockIndex == 200)
                d->OnCancelCommunication();
        };
        ok = Await(dlg->CopyFtpToLocal(QStringLiteral("/remote.bin"), env.Local("fresh.bin")));
        break;
    case Op::Upload:
        ok = Await(dlg->CopyLocalToFtp(env.Local("upload.bin"), QStringLiteral("/upload.bin")));
        break;
    case Op::Listing:
        try {
            Await(dlg->ReadFtpDirectory());
            ok = !env.app->Site().Listing().empty();
        } catch (const CInternetException&) {
            // A failed reading throws; the listing must then hold nothing.
            ok = false;
            EXPECT_TRUE(env.app->Site().Listing().empty());
        }
        break;
    case Op::Connect:
        ok = Await(dlg->Connect());
        break;
    }
    dlg.reset();
    env.frame->setEnabled(true);
    return ok;
}

void Note(const Row& row, qint64 ms, const MessageBoxRecorder& boxes) {
    QString seen = QStringLiteral("no box");
    if (boxes.Count() > 0)
        seen = boxes.Calls().first().caption + QStringLiteral(": ") + boxes.Calls().first().text;
    std::printf("FAULT | %s, %s | %lld ms | %s\n", row.scenario, OpName(row.op),
                static_cast<long long>(ms), seen.toUtf8().constData());
}

TEST(CopyFault, EndsInTimeWithAnErrorAndNothingExistingChanges) {
    const Row rows[] = {
        {"silent-login", Op::Download},
        {"silent-login", Op::Upload},
        {"421-mid", Op::Download},
        {"421-mid", Op::Upload},
        {"long-line", Op::Download},
        {"endless-multiline", Op::Download},
        {"pasv-port0", Op::Download},
        {"epsv-port0", Op::Upload},
        {"epsv-foreign", Op::Download},
        {"stall-data", Op::DownloadFresh},
        // Half the file, then a success: SIZE said otherwise, so it is an error.
        {"short-data", Op::Download},
        {"short-data", Op::DownloadFresh},
        {"short-store", Op::Upload},
        {"abor-500-late", Op::DownloadCancelled, "Communication Cancelled"},
        {"abor-500-early", Op::DownloadCancelled, "Communication Cancelled"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.scenario) + ", " + OpName(row.op));
        CopyFault env(row.scenario);
        ASSERT_TRUE(env.server.IsRunning());
        ASSERT_TRUE(env.Connect());
        const auto localBefore = Snapshot(env.LocalRoot());
        const auto remoteBefore = Snapshot(env.server.Root());
        QElapsedTimer timer;
        timer.start();
        const bool ok = RunOp(env, row.op);
        const qint64 ms = timer.elapsed();
        Note(row, ms, env.boxes);
        // The stalled and aborted downloads wait for their data time-out once; a
        // server silent after the login gets a second try on a fresh login.
        const int waits = std::string_view(row.scenario) == "silent-login" ? 2 : 1;
        // A stalled data connection is a break that the copy resumes by itself:
        // each of its 6 tries waits out the time-out, 1, 2, 4, 8 and 16 s apart.
        const bool resumed = std::string_view(row.scenario) == "stall-data";
        EXPECT_LT(ms, resumed ? 6 * kTimeoutMs + 31000 + kMarginMs : waits * kTimeoutMs + kMarginMs);
        EXPECT_GT(ms, resumed ? 31000 : 0);
        if (resumed && env.boxes.Count() > 0) { // the message says what the tries came to
            EXPECT_TRUE(env.boxes.Calls().first().text.contains(QLatin1String("broke 6 times")))
                << env.boxes.Calls().first().text.toStdString();
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(env.boxes.Count(), 1);
        EXPECT_EQ(env.boxes.CountCaption(QString::fromLatin1(row.caption)), 1);
        EXPECT_TRUE(env.frame->isEnabled());
        const auto localAfter = Snapshot(env.LocalRoot());
        for (auto it = localBefore.begin(); it != localBefore.end(); ++it)
            EXPECT_EQ(localAfter.value(it.key()), it.value()) << it.key().toStdString();
        EXPECT_EQ(Snapshot(env.server.Root()), remoteBefore);
        // After an abort the connection answers each command with its own reply.
        if (row.op == Op::DownloadCancelled) {
            CFtpConnection* c = env.app->Site().Connection();
            EXPECT_FALSE(c->SetCurrentDirectory(QStringLiteral("/no-such-folder")));
            QString folder;
            EXPECT_TRUE(c->GetCurrentDirectory(folder));
            EXPECT_EQ(folder, QStringLiteral("/"));
        }
    }
}

// A listing that the server breaks off: it ends in time and shows nothing that
// could pass for the folder's contents.
TEST(CopyFault, BrokenListingEndsInTimeAndShowsNothing) {
    for (const char* scenario : {"silent-login", "421-mid", "endless-multiline", "pasv-port0"}) {
        const Row row{scenario, Op::Listing};
        SCOPED_TRACE(scenario);
        CopyFault env(scenario);
        ASSERT_TRUE(env.server.IsRunning());
        ASSERT_TRUE(env.Connect());
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(RunOp(env, Op::Listing));
        const qint64 ms = timer.elapsed();
        Note(row, ms, env.boxes);
        EXPECT_LT(ms, 2 * kTimeoutMs + kMarginMs);
        EXPECT_TRUE(env.app->Site().Listing().empty());
        EXPECT_TRUE(env.frame->isEnabled());
    }
}

// The program's own connect against a server that sends its greeting one byte a
// second: it gives up after its wait and leaves no worker behind for long.
TEST(CopyFault, ConnectToADripFeedingServerGivesUp) {
    CopyFault env("drip");
    ASSERT_TRUE(env.server.IsRunning());
    QElapsedTimer timer;
    timer.start();
    {
        CCommStatusDlg dlg(env.frame);
        EXPECT_FALSE(Await(dlg.Connect()));
    }
    const qint64 ms = timer.elapsed();
    Note(Row{"drip", Op::Connect}, ms, env.boxes);
    EXPECT_LT(ms, CCommStatusDlg::kConnectWaitMs + kMarginMs);
    EXPECT_EQ(env.boxes.CountCaption(QStringLiteral("Error Opening FTP Connection")), 1);
    EXPECT_EQ(env.app->Site().Connection(), nullptr);
    // The abandoned connect was cancelled, not left to run out its time-outs.
    QElapsedTimer wait;
    wait.start();
    EXPECT_TRUE(CCommStatusDlg::WaitForConnectWorkers(10000));
    EXPECT_LT(wait.elapsed(), 1000);
}

} // namespace
