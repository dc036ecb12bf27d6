#pragma once

#include <QString>
#include <memory>

#include "FtpTypes.h"
#include "InternetException.h"

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

    // false when the server refuses.
    bool SetCurrentDirectory(const QString& directory);
    bool GetCurrentDirectory(QString& directory);
    bool CreateDirectory(const QString& path);
    bool RemoveDirectory(const QString& path);
    bool Rename(const QString& from, const QString& to);
    bool Remove(const QString& path);

    // Opens a remote file for GENERIC_READ or GENERIC_WRITE, binary. Returns a new
    // file owned by the caller; throws CInternetException when the server refuses.
    CInternetFile* OpenFile(const QString& path, unsigned access = GENERIC_READ,
                            unsigned flags = FTP_TRANSFER_TYPE_BINARY, int context = 1);

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
    std::unique_ptr<FtpControl> m_control;
};
