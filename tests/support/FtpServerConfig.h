#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "FtpServer.h"

// How each kind of test server is started: the command line, and the
// configuration and password files it reads, written into the server's own work
// folder. Internal to FtpServer.

struct FtpServerSetup {
    QString root; // the served folder
    QString work; // configuration, logs, password files
    unsigned short port = 0;
    FtpServer::Options options;
    QString user; // empty: anonymous only
    QString password;
};

struct FtpServerLaunch {
    QStringList args; // empty when the server cannot be started
    QString error;
};

FtpServerLaunch VsftpdLaunch(const FtpServerSetup& setup);
FtpServerLaunch PyftpdlibLaunch(const FtpServerSetup& setup, bool silent);
FtpServerLaunch PureFtpdLaunch(const FtpServerSetup& setup);
FtpServerLaunch ProftpdLaunch(const FtpServerSetup& setup);

// The vsftpd login that scripts/setup-test-servers.sh provides: a virtual user
// whose password only root can read. Empty password when the set-up is missing.
QString VsftpdVirtualUser();
QString VsftpdVirtualPassword();

// A fresh random password, letters and digits.
QString RandomPassword();

// Where scripts/fetch-test-servers unpacked pure-ftpd and proftpd.
QString UnpackedServersDir();

bool WriteTextFile(const QString& path, const QByteArray& text);
