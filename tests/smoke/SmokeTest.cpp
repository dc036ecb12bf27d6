// Starts the real program, as a user or the desktop would, and ends it with
// SIGTERM as at logout: it must close the way Exit does, settings written.
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <csignal>

#include "FtpServer.h"
#include "ProfileFile.h"

namespace {
// True once some process holds an established TCP connection to the port.
bool HasEstablishedConnectionTo(unsigned short port) {
    QFile tcp(QStringLiteral("/proc/net/tcp"));
    if (!tcp.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted = QByteArray(":") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : tcp.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[2].endsWith(wanted) && fields[3] == "01")
            return true;
    }
    return false;
}

TEST(Smoke, SigtermClosesTheProgramLikeExitAndWritesTheSettings) {
    FtpServer server(FtpServer::Kind::Pyftpdlib);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    QTemporaryDir work;
    QTemporaryDir config;
    CProfile p;
    p.m_name = QStringLiteral("Smoke");
    p.m_address = server.Address();
    p.m_userId = server.User();
    p.m_password = server.Password();
    p.m_default = p.m_active = 1;
    ASSERT_TRUE(SaveProfileList(work.path() + QStringLiteral("/Profiles.dat"), {p}));

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(work.path());
    program.start(QStringLiteral(VELMAR_BINARY_DIR "/velmar98"), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    // The settings are read before the FTP side connects: once the connection
    // stands, a value changed behind the program's back must be written over
    // at exit.
    const QString store = config.path() + QStringLiteral("/Velmar98/registry.ini");
    QDeadlineTimer deadline(20000);
    while (!HasEstablishedConnectionTo(server.Port()) && !deadline.hasExpired())
        QTest::qWait(50);
    ASSERT_TRUE(QFile::exists(store));
    ASSERT_FALSE(deadline.hasExpired()) << "the program never connected";
    {
        QSettings s(store, QSettings::IniFormat);
        s.setValue(QStringLiteral("SOFTWARE/Velmar98a/SortType"), QStringLiteral("9"));
        s.setValue(QStringLiteral("SOFTWARE/Velmar98a/SplitterWidth"), 1);
    }

    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    QSettings s(store, QSettings::IniFormat);
    EXPECT_EQ(s.value(QStringLiteral("SOFTWARE/Velmar98a/SortType")).toString(), QStringLiteral("1"));
    EXPECT_EQ(s.value(QStringLiteral("SOFTWARE/Velmar98a/SplitterWidth")).toInt(), 320);
}
} // namespace
