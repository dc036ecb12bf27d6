#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string>

#include "FtpTypes.h"
#include "InternetException.h"
#include "ReplyParser.h"

class CInternetFile;
class FtpControl; // the control connection, defined in the implementation

// One logged-in FTP connection. It carries at most one open listing or file at a
// time (see CFtpFileFind, CInternetFile). Every call blocks until the server has
// answered or a time-out has passed.
class CFtpConnection {
public:
    ~CFtpConnection();
    CFtpConnection(const CFtpConnection&) = delete;
    CFtpConnection& operator=(const CFtpConnection&) = delete;

    // false when the server refuses, or a stop cuts the command short. A
    // connection lost on the way is made afresh (see FtpControl::Command); one that
    // cannot be throws CInternetException. A command that changes something and
    // lost its connection before the reply is never simply sent again: what is on
    // the server then tells whether it was carried out (see Change).
    bool SetCurrentDirectory(const QString& directory);
    bool GetCurrentDirectory(QString& directory);
    bool CreateDirectory(const QString& path);
    bool RemoveDirectory(const QString& path);
    bool Rename(const QString& from, const QString& to);
    bool Remove(const QString& path);

    // Sends "verb arg" for a command that makes or removes path (MKD; DELE, RMD)
    // and returns its reply. When the connection is lost before the reply, the
    // look-up of path on the fresh connection tells: as the command leaves it, a
    // made-up reply of class 2; as it was, the command is sent once more. Throws
    // CInternetException when the connection cannot be made afresh, on a stop,
    // or when the look-up fails.
    FtpReply Change(const char* verb, const QString& path, const std::string& arg);
    // RNFR and RNTO in the same way: a source gone with the target there is a
    // rename carried out; a source there with no target is renamed once more;
    // anything else throws.
    FtpReply RenamePath(const QString& from, const std::string& source, const QString& to,
                        const std::string& target);

    // Opens a remote file for GENERIC_READ or GENERIC_WRITE, binary. Returns a new
    // file owned by the caller; throws CInternetException when the server refuses.
    // offset: the transfer starts there (REST); a server that refuses throws
    // ERROR_FTP_NO_RESTART.
    CInternetFile* OpenFile(const QString& path, unsigned access = GENERIC_READ,
                            unsigned flags = FTP_TRANSFER_TYPE_BINARY, int context = 1,
                            std::uint64_t offset = 0);

    void Close();

    bool IsPassive() const;
    // True when the connection runs over TLS.
    bool IsEncrypted() const;
    QString GetServerName() const;

    // The implementation's control connection (used by CFtpFileFind and CInternetFile).
    FtpControl& Control() { return *m_control; }

private:
    friend class CInternetSession;
    explicit CFtpConnection(std::unique_ptr<FtpControl> control);
    bool PathCommand(const char* verb, const QString& path);
    std::unique_ptr<FtpControl> m_control;
};
