#pragma once

// What the FTP tests share: the servers they run against and a connect helper.
#include <QByteArray>
#include <QString>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <set>

#include "FtpConnection.h"
#include "FtpFileFind.h"
#include "FtpServer.h"
#include "InternetFile.h"
#include "InternetSession.h"

// One server set-up a test runs against.
struct ServerSetup {
    FtpServer::Kind kind;
    bool noMlsd;
    const char* name;
};

inline const ServerSetup kServerSetups[] = {
    {FtpServer::Kind::Vsftpd, false, "vsftpd"},
    {FtpServer::Kind::Pyftpdlib, false, "pyftpdlib_mlsd"},
    {FtpServer::Kind::Pyftpdlib, true, "pyftpdlib_list"},
    {FtpServer::Kind::PureFtpd, false, "pureftpd"},
    {FtpServer::Kind::Proftpd, false, "proftpd"},
};

inline std::string SetupName(const testing::TestParamInfo<ServerSetup>& info) {
    return info.param.name;
}

// Starts the server of the parameter and gives connections to it.
class ServerTest : public testing::TestWithParam<ServerSetup> {
protected:
    void SetUp() override { StartServer(FtpServer::Options()); }

    void StartServer(FtpServer::Options options) {
        options.noMlsd = GetParam().noMlsd;
        m_server = std::make_unique<FtpServer>(GetParam().kind, options);
        ASSERT_TRUE(m_server->IsRunning()) << m_server->Error().toStdString();
        m_session.m_timeouts.connectMs = 5000;
        m_session.m_timeouts.replyMs = 10000;
        m_session.m_timeouts.dataMs = 10000;
        m_session.m_timeouts.activeAcceptMs = 2000;
    }

    bool Is(FtpServer::Kind kind) const { return GetParam().kind == kind; }
    // pure-ftpd and proftpd run with one account and no anonymous one.
    bool ServesAnonymous() const {
        return !Is(FtpServer::Kind::PureFtpd) && !Is(FtpServer::Kind::Proftpd);
    }

    std::unique_ptr<CFtpConnection> Connect() {
        return std::unique_ptr<CFtpConnection>(m_session.GetFtpConnection(
            m_server->Address(), m_server->User(), m_server->Password()));
    }

    // Every entry of a listing, in the server's order.
    static std::vector<FtpListEntry> List(CFtpConnection& c, const QString& pattern) {
        CFtpFileFind find(&c);
        std::vector<FtpListEntry> entries;
        bool more = find.FindFile(pattern);
        while (more) {
            more = find.FindNextFile();
            FtpListEntry entry;
            entry.name = find.GetFileName();
            entry.isFolder = find.IsDirectory();
            entry.size = find.GetLength();
            entry.isLink = find.IsLink();
            entries.push_back(std::move(entry));
            find.GetLastWriteTime(entries.back().lastWriteTime);
        }
        find.Close();
        return entries;
    }

    // Names without "." and "..", which only some servers list.
    static std::set<QString> Names(const std::vector<FtpListEntry>& entries) {
        std::set<QString> names;
        for (const FtpListEntry& e : entries)
            if (e.name != QLatin1String(".") && e.name != QLatin1String(".."))
                names.insert(e.name);
        return names;
    }

    static QByteArray RandomBytes(std::size_t n, unsigned seed) {
        std::mt19937 gen(seed);
        QByteArray data(qsizetype(n), Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char(gen());
        return data;
    }

    std::unique_ptr<FtpServer> m_server;
    CInternetSession m_session;
};
