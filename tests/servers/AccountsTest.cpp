// The test servers take their own users only. A system account with a password
// must never log in to any of them: the tests run as root on developers' machines.
#include <QProcess>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <unistd.h>

#include "ServersTestUtil.h"

namespace {

// A system account with a random password for the life of the object, removed
// again afterwards: the kind of account the servers must refuse.
class TemporaryAccount {
public:
    TemporaryAccount() {
        const quint32 tag = QRandomGenerator::system()->bounded(100000u, 999999u);
        m_name = QStringLiteral("velmarprobe%1").arg(tag);
        m_password = QStringLiteral("Pw-%1-probe").arg(QRandomGenerator::system()->generate());
        m_made =
            QProcess::execute(QStringLiteral("/usr/sbin/useradd"),
                              {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                               QStringLiteral("--shell"), QStringLiteral("/bin/sh"), m_name}) == 0;
        if (m_made)
            m_made = SetPassword();
    }
    ~TemporaryAccount() {
        if (!m_name.isEmpty())
            QProcess::execute(QStringLiteral("/usr/sbin/userdel"), {m_name});
    }
    TemporaryAccount(const TemporaryAccount&) = delete;
    TemporaryAccount& operator=(const TemporaryAccount&) = delete;

    bool Made() const { return m_made; }
    const QString& Name() const { return m_name; }
    const QString& Password() const { return m_password; }

private:
    bool SetPassword() {
        QProcess chpasswd;
        chpasswd.start(QStringLiteral("/usr/sbin/chpasswd"), {});
        chpasswd.write((m_name + QLatin1Char(':') + m_password + QLatin1Char('\n')).toUtf8());
        chpasswd.closeWriteChannel();
        return chpasswd.waitForFinished(10000) && chpasswd.exitCode() == 0;
    }

    QString m_name;
    QString m_password;
    bool m_made = false;
};

class Accounts : public testing::TestWithParam<FtpServer::Kind> {};

std::string Name(const testing::TestParamInfo<FtpServer::Kind>& info) {
    return FtpServer::KindName(info.param);
}

TEST_P(Accounts, OnlyTheServersOwnUserLogsIn) {
    ASSERT_EQ(::geteuid(), 0u) << "the servers and the probe account need root";
    TemporaryAccount probe;
    ASSERT_TRUE(probe.Made()) << "useradd/chpasswd failed";
    FtpServer server(GetParam());
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    CInternetSession session;
    ShortTimeouts(session);

    // The server works: its own user logs in.
    EXPECT_NO_THROW(Login(session, server, server.User(), server.Password()));

    struct Refused {
        QString user;
        QString password;
        const char* what;
    };
    const Refused refused[] = {
        {probe.Name(), probe.Password(), "a system account with a password"},
        {QStringLiteral("velmarftp"), QStringLiteral("velmar-test-pw"),
         "the account and password the old set-up published"},
        {QStringLiteral("root"), QString(), "root without a password"},
        {QStringLiteral("root"), probe.Password(), "root with some password"},
        {server.User(), server.Password() + QLatin1Char('x'), "the user with a wrong password"},
        {server.User(), QString(), "the user without a password"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.what);
        try {
            Login(session, server, r.user, r.password);
            ADD_FAILURE() << "the login was accepted";
        } catch (const CInternetException& e) {
            EXPECT_EQ(e.m_dwError, ERROR_INTERNET_LOGIN_FAILURE) << e.Message().toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, Accounts, testing::ValuesIn(kAllServers), Name);

} // namespace
