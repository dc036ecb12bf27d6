#pragma once

#include <QString>
#include <exception>
#include <string>

// Thrown by the FTP client classes when the server cannot be reached, refuses a
// login or a file, or a transfer breaks. Thrown and caught by value.
class CInternetException : public std::exception {
public:
    CInternetException(int error, QString message)
        : m_dwError(error), m_message(std::move(message)), m_what(m_message.toStdString()) {}
    const char* what() const noexcept override { return m_what.c_str(); }
    QString Message() const { return m_message; }

    int m_dwError;

private:
    QString m_message;
    std::string m_what;
};

// Error numbers carried by CInternetException (values of the WinINet errors they
// stand for, so that messages and tests can tell the cases apart).
enum : int {
    ERROR_INTERNET_TIMEOUT = 12002,
    ERROR_INTERNET_NAME_NOT_RESOLVED = 12007,
    ERROR_INTERNET_CANNOT_CONNECT = 12029,
    ERROR_INTERNET_CONNECTION_ABORTED = 12030,
    ERROR_INTERNET_LOGIN_FAILURE = 12015,
    ERROR_INTERNET_EXTENDED_ERROR = 12003, // the server refused a command
    ERROR_INTERNET_OPERATION_CANCELLED = 12017,
    ERROR_FTP_TRANSFER_IN_PROGRESS = 12110,
    ERROR_FTP_DROPPED = 12111,
    // The server will not start a transfer from an offset (REST refused).
    ERROR_FTP_NO_RESTART = 12112,
};
