// Faults that only the protocol shows, through CFtpConnection against the
// scripted server: every call ends within its time-out, with an error where the
// server misbehaved and with the right data where it only tried to mislead.
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <tuple>

#include "FaultServer.h"
#include "FtpConnection.h"
#include "FtpControl.h"
#include "InternetFile.h"
#include "InternetSession.h"

namespace {

constexpr int kTimeoutMs = 2000;
constexpr int kMarginMs = 1500;

QByteArray Pattern(int size) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 131 + i / 977) & 0xff);
    return data;
}

class Fault {
public:
    explicit Fault(const char* scenario) : server(QString::fromLatin1(scenario)) {
        session.m_timeouts = {kTimeoutMs, kTimeoutMs, kTimeoutMs, kTimeoutMs};
        server.MakeDir(QStringLiteral("sub"));
        server.WriteFile(QStringLiteral("sub/file.bin"), Pattern(3 << 20));
        server.WriteFile(QStringLiteral("small.txt"), "the real contents\n");
    }

    std::unique_ptr<CFtpConnection> Connect(bool passive = false) {
        return std::unique_ptr<CFtpConnection>(session.GetFtpConnection(
            server.Address(), QStringLiteral("user"), QStringLiteral("secret"), 0, passive));
    }

    FaultServer server;
    CInternetSession session;
};

QByteArray ReadAll(CInternetFile& file) {
    QByteArray all;
    char buffer[65536];
    for (unsigned n; (n = file.Read(buffer, sizeof buffer)) > 0;)
        all.append(buffer, n);
    return all;
}

qint64 Timed(const std::function<void()>& call) {
    QElapsedTimer timer;
    timer.start();
    call();
    return timer.elapsed();
}

void Note(const char* scenario, qint64 ms, const QString& seen) {
    std::printf("FAULT | %s | %lld ms | %s\n", scenario, static_cast<long long>(ms),
                seen.toUtf8().constData());
}

// Servers that never let the connection be made: it fails with a time-out.
TEST(ProtocolFault, ConnectFailsAtItsTimeout) {
    for (const char* scenario : {"silent-greeting", "drip"}) {
        SCOPED_TRACE(scenario);
        Fault fault(scenario);
        ASSERT_TRUE(fault.server.IsRunning());
        int error = 0;
        QString message;
        const qint64 ms = Timed([&] {
            try {
                fault.Connect();
            } catch (const CInternetException& e) {
                error = e.m_dwError;
                message = e.Message();
            }
        });
        Note(scenario, ms, message);
        EXPECT_EQ(error, ERROR_INTERNET_TIMEOUT);
        EXPECT_GE(ms, kTimeoutMs - 100);
        EXPECT_LT(ms, kTimeoutMs + kMarginMs);
    }
}

// Servers that break every session after the login: the command is tried once
// more on a fresh login, then fails as a lost connection (never as the server's
// no), and later calls fail at once without another login.
TEST(ProtocolFault, BrokenSessionFailsAndStaysClosed) {
    for (const char* scenario : {"silent-login", "421-mid", "long-line", "endless-multiline"}) {
        SCOPED_TRACE(scenario);
        Fault fault(scenario);
        ASSERT_TRUE(fault.server.IsRunning());
        auto c = fault.Connect();
        const qint64 ms = Timed([&] {
            EXPECT_THROW(c->SetCurrentDirectory(QStringLiteral("/sub")), CInternetException);
        });
        Note(scenario, ms, QStringLiteral("CWD lost twice, connection closed"));
        EXPECT_LT(ms, 2 * kTimeoutMs + kMarginMs);
        EXPECT_FALSE(c->Control().Alive() || c->Control().WillRedial());
        QString folder;
        const qint64 after =
            Timed([&] { EXPECT_THROW(c->GetCurrentDirectory(folder), CInternetException); });
        EXPECT_LT(after, 200);
        try {
            delete c->OpenFile(QStringLiteral("/small.txt"));
            ADD_FAILURE() << "a closed connection opened a file";
        } catch (const CInternetException& e) {
            EXPECT_EQ(e.m_dwError, ERROR_FTP_DROPPED) << e.Message().toStdString();
            EXPECT_TRUE(e.Message().contains(QStringLiteral("lost")));
        }
        EXPECT_EQ(c->Control().Reconnects(), 1);
    }
}

// A change whose connection closes before its reply, carried out or not: what is
// on the server after a fresh login tells; it is never simply sent twice (a
// second DELE of a deleted file would be refused).
TEST(ProtocolFault, AChangeCutOffByALostConnectionIsLookedUpNotRepeated) {
    using Change = std::function<bool(CFtpConnection&)>;
    const std::tuple<Change, const char*, const char*> rows[] = {
        {[](CFtpConnection& c) { return c.Remove(QStringLiteral("/sub/victim")); }, "victim", ""},
        {[](CFtpConnection& c) { return c.RemoveDirectory(QStringLiteral("/sub/empty")); }, "empty",
         ""},
        {[](CFtpConnection& c) { return c.CreateDirectory(QStringLiteral("/sub/made")); }, "",
         "made"},
        {[](CFtpConnection& c) {
             return c.Rename(QStringLiteral("/sub/old"), QStringLiteral("/sub/new"));
         },
         "old", "new"},
    };
    for (const char* scenario : {"drop-after-change", "drop-before-change"}) {
        SCOPED_TRACE(scenario);
        Fault fault(scenario);
        for (const char* name : {"sub/victim", "sub/old"})
            fault.server.WriteFile(QLatin1String(name), "x");
        fault.server.MakeDir(QStringLiteral("sub/empty"));
        auto c = fault.Connect(true);
        int reconnects = 0;
        for (const auto& [change, gone, made] : rows) {
            EXPECT_TRUE(change(*c)) << gone << made;
            EXPECT_EQ(c->Control().Reconnects(), ++reconnects);
            const QString sub = fault.server.Root() + QStringLiteral("/sub/");
            EXPECT_FALSE(*gone && QFileInfo::exists(sub + QLatin1String(gone))) << gone;
            EXPECT_TRUE(!*made || QFileInfo::exists(sub + QLatin1String(made))) << made;
        }
    }
}

// A passive reply with port 0, or one that is not a passive reply at all, is a
// clear error on that transfer; the connection stays in step and usable.
TEST(ProtocolFault, BadPassivePortIsAnErrorAndTheSessionGoesOn) {
    for (const char* scenario : {"pasv-port0", "epsv-port0", "epsv-foreign"}) {
        SCOPED_TRACE(scenario);
        Fault fault(scenario);
        ASSERT_TRUE(fault.server.IsRunning());
        auto c = fault.Connect(true);
        QString message;
        const qint64 ms = Timed([&] {
            try {
                delete c->OpenFile(QStringLiteral("/small.txt"));
            } catch (const CInternetException& e) {
                message = e.Message();
                EXPECT_EQ(e.m_dwError, ERROR_INTERNET_EXTENDED_ERROR);
            }
        });
        Note(scenario, ms, message);
        EXPECT_TRUE(message.contains(QStringLiteral("malformed"))) << message.toStdString();
        EXPECT_LT(ms, kTimeoutMs);
        QString folder;
        EXPECT_TRUE(c->SetCurrentDirectory(QStringLiteral("/sub")));
        EXPECT_TRUE(c->GetCurrentDirectory(folder));
        EXPECT_EQ(folder, QStringLiteral("/sub"));
    }
}

// A server that names another host gets its data connection at its own address,
// and a third host that reaches our active port first supplies nothing.
TEST(ProtocolFault, DataComesOnlyFromTheServer) {
    for (const char* scenario : {"pasv-foreign", "active-foreign"}) {
        SCOPED_TRACE(scenario);
        Fault fault(scenario);
        ASSERT_TRUE(fault.server.IsRunning());
        auto c = fault.Connect(false);
        std::unique_ptr<CInternetFile> f(c->OpenFile(QStringLiteral("/small.txt")));
        EXPECT_EQ(ReadAll(*f), QByteArray("the real contents\n"));
        EXPECT_NO_THROW(f->Close());
        EXPECT_EQ(c->IsPassive(), QByteArray(scenario) == "pasv-foreign");
    }
}

// A download closed early on a server that answers ABOR with 500: whether the
// transfer's end comes before the refusal or after the next reply, every later
// command reads its own reply: a refused CWD is refused, the folder is kept.
TEST(ProtocolFault, AbortRefusedKeepsRepliesInStep) {
    struct Row {
        const char* scenario;
        int reconnects;
    };
    for (const Row& row : {Row{"abor-500-late", 1}, Row{"abor-500-early", 0}}) {
        SCOPED_TRACE(row.scenario);
        Fault fault(row.scenario);
        ASSERT_TRUE(fault.server.IsRunning());
        auto c = fault.Connect(true);
        // A relative step, which a fresh login must take again from its own start.
        ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("/")));
        ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("sub")));
        std::unique_ptr<CInternetFile> f(c->OpenFile(QStringLiteral("file.bin")));
        char buffer[1000];
        for (int i = 0; i < 100; ++i)
            ASSERT_GT(f->Read(buffer, sizeof buffer), 0u);
        const qint64 ms = Timed([&] { f.reset(); });
        Note(row.scenario, ms, QStringLiteral("early close; then CWD to a missing folder"));
        EXPECT_LT(ms, kTimeoutMs + kMarginMs);
        EXPECT_EQ(c->Control().Reconnects(), row.reconnects);
        EXPECT_FALSE(c->SetCurrentDirectory(QStringLiteral("/no-such-folder")));
        EXPECT_FALSE(c->Remove(QStringLiteral("/no-such-file")));
        QString folder;
        EXPECT_TRUE(c->GetCurrentDirectory(folder));
        EXPECT_EQ(folder, QStringLiteral("/sub"));
        std::unique_ptr<CInternetFile> again(c->OpenFile(QStringLiteral("/small.txt")));
        EXPECT_EQ(ReadAll(*again), QByteArray("the real contents\n"));
    }
}

// A data connection that stops mid-transfer: the read fails after the data
// time-out, and the control connection is still in step afterwards.
TEST(ProtocolFault, StalledDownloadFailsAtTheDataTimeout) {
    Fault fault("stall-data");
    ASSERT_TRUE(fault.server.IsRunning());
    auto c = fault.Connect(true);
    std::unique_ptr<CInternetFile> f(c->OpenFile(QStringLiteral("/sub/file.bin")));
    QString message;
    qint64 got = 0;
    const qint64 ms = Timed([&] {
        try {
            char buffer[4096];
            for (unsigned n; (n = f->Read(buffer, sizeof buffer)) > 0;)
                got += n;
        } catch (const CInternetException& e) {
            message = e.Message();
        }
    });
    Note("stall-data", ms, message);
    EXPECT_FALSE(message.isEmpty());
    EXPECT_EQ(got, 65536);
    EXPECT_GE(ms, kTimeoutMs - 100);
    EXPECT_LT(ms, kTimeoutMs + kMarginMs);
    QString folder;
    EXPECT_TRUE(c->GetCurrentDirectory(folder));
    EXPECT_EQ(folder, QStringLiteral("/"));
}

} // namespace
