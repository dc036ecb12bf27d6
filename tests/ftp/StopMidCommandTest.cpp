// A stop while the server still owes a plain command's reply: the call returns
// at once, the late reply never answers a later command, and the connection
// works again for the next one, logged in afresh in the folder it was in.
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

#include "FtpConnection.h"
#include "FtpControl.h"
#include "FtpFileFind.h"
#include "FtpServer.h"
#include "InternetException.h"
#include "InternetSession.h"
#include "Interrupt.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLateMs = 1200;     // how late the slow commands answer
constexpr int kStopAfterMs = 175; // on its way by then, and between two looks
constexpr qint64 kBoundMs = 300;  // the goal is 100 ms; shared machines are slow

qint64 MsSince(Clock::time_point from) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from).count();
}

// pyftpdlib whose DELE and the given verbs (comma-separated; a verb written
// -MLSD takes MLSD and MLST away) answer late, busy meanwhile, serving sub/
// with three files and an empty folder.
class SlowServer {
public:
    SlowServer(int delayMs, const char* verbs)
        : m_server(FtpServer::Kind::Pyftpdlib, Late(delayMs, verbs)) {
        m_server.MakeDir(QStringLiteral("sub/empty"));
        m_server.WriteFile(QStringLiteral("sub/victim"), "seven b");
        m_server.WriteFile(QStringLiteral("sub/other"), "eleven byte");
        m_server.WriteFile(QStringLiteral("sub/old"), "old");
    }
    void Stop() { m_server.Kill(); }
    bool IsRunning() const { return m_server.IsRunning(); }
    const FtpServer& Server() const { return m_server; }
    bool Link(const char* target, const char* relative) const {
        return QFile::link(QLatin1String(target), m_server.PathOf(QLatin1String(relative)));
    }
    bool Has(const char* relative) const {
        return QFileInfo::exists(m_server.PathOf(QLatin1String(relative)));
    }

private:
    static FtpServer::Options Late(int delayMs, const char* verbs) {
        FtpServer::Options options;
        options.lateMs = delayMs;
        QStringList late{QStringLiteral("DELE")};
        for (const QString& verb : QString::fromLatin1(verbs).split(u',', Qt::SkipEmptyParts)) {
            if (verb == QLatin1String("-MLSD") || verb == QLatin1String("-MLST"))
                options.noMlsd = true;
            else
                late << verb;
        }
        options.lateVerbs = late.join(u',');
        return options;
    }

    FtpServer m_server;
};

struct Cut {
    bool ok = false; // what the call gave back (false when it threw)
    int error = 0;   // the error it threw, if it did
    qint64 ms = -1;  // from the stop to the return
};

// Runs call under a stop request that is raised after laterMs + kStopAfterMs.
Cut CutShort(const std::function<bool()>& call, int laterMs = 0) {
    std::atomic<int> stop{0};
    Clock::time_point raised;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(laterMs + kStopAfterMs));
        raised = Clock::now();
        stop = 1;
    });
    Cut cut;
    {
        ftp::InterruptScope scope(&stop);
        try {
            cut.ok = call();
        } catch (const CInternetException& e) {
            cut.error = e.m_dwError;
        }
    }
    const auto returned = Clock::now();
    stopper.join();
    cut.ms = std::chrono::duration_cast<std::chrono::milliseconds>(returned - raised).count();
    return cut;
}

std::unique_ptr<CFtpConnection> ConnectTo(CInternetSession& session, const SlowServer& server) {
    session.m_timeouts = {5000, 10000, 10000, 2000};
    return std::unique_ptr<CFtpConnection>(session.GetFtpConnection(
        server.Server().Address(), server.Server().User(), server.Server().Password()));
}

std::string Pwd(CFtpConnection& c) {
    QString folder;
    return c.GetCurrentDirectory(folder) ? folder.toStdString() : "<failed>";
}

std::string SizeOf(CFtpConnection& c, const char* name) {
    return c.Control().Command(std::string("SIZE ") + name).text;
}

struct CommandCase {
    const char* verbs; // the server's slow commands besides DELE
    const char* name;
    std::function<bool(CFtpConnection&)> cut;
    // After the connection is back: the command's own effect on the server, and
    // a command whose reply would differ from the late one.
    std::function<void(CFtpConnection&, const SlowServer&)> check;
};

TEST(StopMidCommand, TheConnectionWorksAgainInItsFolderAndTheLateReplyIsNeverTaken) {
    const CommandCase cases[] = {
        {"", "DELE", [](CFtpConnection& c) { return c.Remove(QStringLiteral("victim")); },
         [](CFtpConnection& c, const SlowServer& s) {
             EXPECT_FALSE(s.Has("sub/victim")); // the server did finish it
             EXPECT_EQ(c.Control().Command("SIZE victim").code, 550);
             EXPECT_FALSE(c.Remove(QStringLiteral("victim")));
         }},
        {"MKD", "MKD", [](CFtpConnection& c) { return c.CreateDirectory(QStringLiteral("made")); },
         [](CFtpConnection& c, const SlowServer& s) {
             EXPECT_TRUE(s.Has("sub/made"));
             EXPECT_FALSE(c.CreateDirectory(QStringLiteral("made")));
         }},
        {"RMD", "RMD", [](CFtpConnection& c) { return c.RemoveDirectory(QStringLiteral("empty")); },
         [](CFtpConnection& c, const SlowServer& s) {
             EXPECT_FALSE(s.Has("sub/empty"));
             EXPECT_FALSE(c.RemoveDirectory(QStringLiteral("empty")));
         }},
        {"RNFR", "RNFR",
         [](CFtpConnection& c) { return c.Rename(QStringLiteral("old"), QStringLiteral("new")); },
         [](CFtpConnection& c, const SlowServer& s) {
             // RNTO was never sent: nothing moved, and no rename is left pending.
             EXPECT_TRUE(s.Has("sub/old"));
             EXPECT_FALSE(s.Has("sub/new"));
             EXPECT_FALSE(c.Rename(QStringLiteral("victim-not-here"), QStringLiteral("x")));
             EXPECT_TRUE(c.Rename(QStringLiteral("old"), QStringLiteral("new")));
             EXPECT_TRUE(s.Has("sub/new"));
         }},
        {"SIZE", "SIZE",
         [](CFtpConnection& c) { return c.Control().Command("SIZE victim").code == 213; },
         [](CFtpConnection& c, const SlowServer&) { EXPECT_EQ(SizeOf(c, "other"), "213 11"); }},
        // The RNFR that goes along with a SIZE is never completed by a lone RNTO
        // after the stop: the fresh login holds no RNFR, so a rename sends its own.
        {"SIZE", "SIZE with RNFR",
         [](CFtpConnection& c) { return c.Control().SizeAndRenameFrom("victim").code == 213; },
         [](CFtpConnection& c, const SlowServer& s) {
             EXPECT_FALSE(c.Control().TakeRenameFrom("victim"));
             EXPECT_TRUE(s.Has("sub/victim"));
             EXPECT_TRUE(c.Rename(QStringLiteral("victim"), QStringLiteral("moved")));
             EXPECT_TRUE(s.Has("sub/moved"));
         }},
        {"CWD", "CWD",
         [](CFtpConnection& c) { return c.SetCurrentDirectory(QStringLiteral("empty")); },
         [](CFtpConnection& c, const SlowServer&) {
             EXPECT_TRUE(c.SetCurrentDirectory(QStringLiteral("empty")));
             EXPECT_EQ(Pwd(c), "/sub/empty");
             EXPECT_TRUE(c.SetCurrentDirectory(QStringLiteral("/sub")));
         }},
        {"MLSD,LIST", "listing",
         [](CFtpConnection& c) { return CFtpFileFind(&c).FindFile(QStringLiteral("/sub/*")); },
         [](CFtpConnection& c, const SlowServer&) {
             CFtpFileFind find(&c);
             ASSERT_TRUE(find.FindFile(QStringLiteral("/sub/victim")));
             find.FindNextFile();
             EXPECT_EQ(find.GetLength(), 7u);
         }},
    };
    for (const CommandCase& k : cases) {
        SCOPED_TRACE(k.name);
        SlowServer server(kLateMs, k.verbs);
        ASSERT_TRUE(server.IsRunning());
        CInternetSession session;
        std::unique_ptr<CFtpConnection> c = ConnectTo(session, server);
        ASSERT_NE(c, nullptr);
        ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("sub")));
        const int before = c->Control().Reconnects();

        const Cut cut = CutShort([&] { return k.cut(*c); });
        std::printf("STOP | %s | returned %lld ms after the stop\n", k.name,
                    static_cast<long long>(cut.ms));
        EXPECT_FALSE(cut.ok);
        EXPECT_TRUE(cut.error == 0 || cut.error == ERROR_INTERNET_OPERATION_CANCELLED);
        EXPECT_GE(cut.ms, 0);
        EXPECT_LT(cut.ms, kBoundMs);
        EXPECT_TRUE(c->Control().ReconnectDue());
        EXPECT_TRUE(c->Control().OutcomeUnknown());

        // PWD's own 257, in the folder we were in: never the late reply.
        EXPECT_EQ(Pwd(*c), "/sub");
        EXPECT_EQ(c->Control().Reconnects(), before + 1);
        EXPECT_FALSE(c->Control().OutcomeUnknown());
        EXPECT_EQ(c->Control().Command("NOOP").code, 200);
        k.check(*c, server);
        EXPECT_EQ(c->Control().Reconnects(), before + 1);
    }
}

// A stop raised before the command goes out sends nothing and keeps the
// connection as it was.
TEST(StopMidCommand, AStopBeforeTheCommandLeavesTheConnectionAsItWas) {
    SlowServer server(kLateMs, "");
    ASSERT_TRUE(server.IsRunning());
    CInternetSession session;
    std::unique_ptr<CFtpConnection> c = ConnectTo(session, server);
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("/sub")));
    {
        const std::atomic<int> stop{1};
        ftp::InterruptScope scope(&stop);
        EXPECT_FALSE(c->Remove(QStringLiteral("victim")));
        EXPECT_THROW(c->Control().Command("PWD"), CInternetException);
    }
    EXPECT_TRUE(c->Control().Alive());
    EXPECT_FALSE(c->Control().OutcomeUnknown());
    EXPECT_TRUE(server.Has("sub/victim"));
    EXPECT_EQ(Pwd(*c), "/sub");
    EXPECT_EQ(c->Control().Reconnects(), 0);
}

// A listing looks into a link by going in and back out; a stop on the way
// back must not leave the next login inside the link.
TEST(StopMidCommand, AStopOnTheWayOutOfALinkGoesBackToTheFolder) {
    SlowServer server(kLateMs, "CWD,-MLSD,-MLST");
    ASSERT_TRUE(server.IsRunning());
    ASSERT_TRUE(server.Link("empty", "sub/link"));
    CInternetSession session;
    std::unique_ptr<CFtpConnection> c = ConnectTo(session, server);
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("/sub")));
    // The way in takes kLateMs; the stop lands during the way back.
    const Cut cut =
        CutShort([&] { return CFtpFileFind(c.get()).FindFile(QStringLiteral("/sub/*")); }, kLateMs);
    EXPECT_LT(cut.ms, kBoundMs);
    EXPECT_TRUE(c->Control().OutcomeUnknown());
    EXPECT_EQ(Pwd(*c), "/sub");
}

// A stop that lands while the connection is being made afresh stops that too,
// and the try after it still goes back to the same folder.
TEST(StopMidCommand, AStopDuringTheReconnectKeepsTheWayBack) {
    SlowServer server(2500, "");
    ASSERT_TRUE(server.IsRunning());
    CInternetSession session;
    std::unique_ptr<CFtpConnection> c = ConnectTo(session, server);
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("/sub")));
    ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("empty")));
    EXPECT_LT(CutShort([&] { return c->Remove(QStringLiteral("../victim")); }).ms, kBoundMs);
    // The server is busy with the late DELE: the new login waits, and is stopped.
    const Cut again = CutShort([&] { return c->Control().Command("PWD").code == 257; });
    EXPECT_EQ(again.error, ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_LT(again.ms, kBoundMs);
    EXPECT_TRUE(c->Control().ReconnectDue());
    EXPECT_EQ(Pwd(*c), "/sub/empty");
    EXPECT_FALSE(server.Has("sub/victim"));
}

// When the server is gone, the next command fails with a clear error, quickly,
// and so does every one after it: no reply is ever made up.
TEST(StopMidCommand, WhenTheReconnectFailsTheNextCommandSaysSo) {
    SlowServer server(kLateMs, "");
    ASSERT_TRUE(server.IsRunning());
    CInternetSession session;
    std::unique_ptr<CFtpConnection> c = ConnectTo(session, server);
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(c->SetCurrentDirectory(QStringLiteral("/sub")));
    EXPECT_LT(CutShort([&] { return c->Remove(QStringLiteral("victim")); }).ms, kBoundMs);
    server.Stop();
    for (int i = 0; i < 2; ++i) {
        const auto start = Clock::now();
        int error = 0;
        QString message;
        try {
            c->Control().Command("PWD");
        } catch (const CInternetException& e) {
            error = e.m_dwError;
            message = e.Message();
        }
        EXPECT_EQ(error, ERROR_FTP_DROPPED);
        EXPECT_FALSE(message.isEmpty());
        EXPECT_LT(MsSince(start), 5000);
        EXPECT_FALSE(c->Control().Alive());
        EXPECT_FALSE(c->Control().ReconnectDue());
    }
}

} // namespace
