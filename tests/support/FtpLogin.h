#pragma once

#include <memory>

#include "FtpConnection.h"
#include "FtpServer.h"
#include "InternetSession.h"

// A server of its own and a connection logged in to it; connection is null when
// the server did not start or refused the login.
struct FtpLogin {
    explicit FtpLogin(FtpServer::Kind kind) : server(kind) {
        if (!server.IsRunning())
            return;
        session = std::make_unique<CInternetSession>();
        connection.reset(
            session->GetFtpConnection(server.Address(), server.User(), server.Password()));
    }
    FtpServer server;
    std::unique_ptr<CInternetSession> session;
    std::unique_ptr<CFtpConnection> connection;
};
