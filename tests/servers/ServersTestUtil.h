#pragma once

// What the tests of the four real servers share: connections and whole-file
// transfers through the program's own FTP classes.
#include <QByteArray>
#include <QString>
#include <memory>
#include <random>
#include <vector>

#include "FtpConnection.h"
#include "FtpFileFind.h"
#include "FtpServer.h"
#include "InternetFile.h"
#include "InternetSession.h"

inline const FtpServer::Kind kAllServers[] = {FtpServer::Kind::Vsftpd, FtpServer::Kind::Pyftpdlib,
                                              FtpServer::Kind::PureFtpd, FtpServer::Kind::Proftpd};

inline void ShortTimeouts(CInternetSession& session) {
    session.m_timeouts.connectMs = 5000;
    session.m_timeouts.replyMs = 10000;
    session.m_timeouts.dataMs = 10000;
    session.m_timeouts.activeAcceptMs = 2000;
}

inline std::unique_ptr<CFtpConnection> Login(CInternetSession& session, const FtpServer& server,
                                             const QString& user, const QString& password) {
    return std::unique_ptr<CFtpConnection>(
        session.GetFtpConnection(server.Address(), user, password, 0, true));
}

inline QByteArray RandomBytes(qsizetype n, unsigned seed) {
    std::mt19937 gen(seed);
    QByteArray data(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        data[i] = char(gen());
    return data;
}

inline void Upload(CFtpConnection& c, const QString& path, const QByteArray& data) {
    std::unique_ptr<CInternetFile> f(c.OpenFile(path, GENERIC_WRITE));
    for (qsizetype pos = 0; pos < data.size(); pos += 7000) // an odd block size
        f->Write(data.constData() + pos, unsigned(std::min<qsizetype>(7000, data.size() - pos)));
    f->Close();
}

inline QByteArray Download(CFtpConnection& c, const QString& path) {
    std::unique_ptr<CInternetFile> f(c.OpenFile(path, GENERIC_READ));
    QByteArray data;
    char buffer[5000];
    while (const unsigned n = f->Read(buffer, sizeof buffer))
        data.append(buffer, n);
    f->Close();
    return data;
}

// The entries of a listing other than "." and "..".
inline std::vector<FtpListEntry> ListEntries(CFtpConnection& c, const QString& pattern,
                                             bool* failed = nullptr) {
    CFtpFileFind find(&c);
    find.FindFile(pattern);
    if (failed)
        *failed = find.Failed();
    std::vector<FtpListEntry> entries;
    for (const FtpListEntry& e : find.Entries())
        if (e.name != QLatin1String(".") && e.name != QLatin1String(".."))
            entries.push_back(e);
    find.Close();
    return entries;
}

inline const FtpListEntry* FindEntry(const std::vector<FtpListEntry>& entries,
                                     const QString& name) {
    for (const FtpListEntry& e : entries)
        if (e.name == name)
            return &e;
    return nullptr;
}
