#pragma once

#include <memory>

#include "RemoteSite.h"

class CFtpConnection;
class CInternetException;

namespace core {

class FtpSite;

// The remote-site interface over one FTP or FTPS connection. The connection is
// either the site's main one, lent for as long as this lives, or one of its own,
// closed with it.
class FtpRemote : public RemoteConnection {
public:
    // site: where what the server refuses for the session is remembered (null: nowhere).
    FtpRemote(CFtpConnection& connection, FtpSite* site);
    FtpRemote(std::unique_ptr<CFtpConnection> owned, FtpSite* site);
    ~FtpRemote() override;
    FtpRemote(const FtpRemote&) = delete;
    FtpRemote& operator=(const FtpRemote&) = delete;

    RemoteCaps Caps() const override;
    QString Encryption() const override;
    std::vector<RemoteEntry> List(const QString& folder) override;
    std::optional<RemoteEntry> Stat(const QString& path) override;
    std::optional<std::uint64_t> Size(const QString& path) override;
    bool LeadsToFolder(const QString& path) override;
    void MakeFolder(const QString& path) override;
    void Rename(const QString& from, const QString& to) override;
    void Replace(const QString& from, const QString& to) override;
    void DeleteFile(const QString& path) override;
    void DeleteFolder(const QString& path) override;
    void DeleteLink(const QString& path) override;
    bool OutcomeUnknown() const override;
    bool Usable() const override;
    std::unique_ptr<RemoteReader> OpenRead(const QString& path, std::uint64_t offset) override;
    std::unique_ptr<RemoteWriter> OpenWrite(const QString& path, WriteStart start,
                                            std::uint64_t offset = 0) override;
    QString HomeFolder() override;

    CFtpConnection& Connection() { return m_connection; }

    // The error the FTP classes threw, in the interface's terms.
    static RemoteError Translate(CFtpConnection& connection, const CInternetException& e);

private:
    // Runs step; what the FTP classes throw leaves as a RemoteError.
    template <typename Step>
    auto Guarded(Step&& step) -> decltype(step());
    void PathCommand(const char* verb, const QString& path);

    std::unique_ptr<CFtpConnection> m_owned;
    CFtpConnection& m_connection;
    FtpSite* m_site;
};

} // namespace core
