#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "DirEntry.h"
#include "Profile.h"

class CInternetSession;
class CFtpConnection;

namespace core {

class RemoteConnection;

// The one FTP site the program is connected to: the session and the main
// connection it owns, the active profile, the folder the connection is in, the
// last listing read there, and what the panes must know about its state.
//
// It lives on the interface thread. A job may call the setters from its worker
// while the interface thread waits for it; the signals then reach the panes
// queued, on their own thread, so no receiver may rely on being called at once.
class FtpSite : public QObject {
    Q_OBJECT

public:
    explicit FtpSite(QObject* parent = nullptr);
    ~FtpSite() override;
    FtpSite(const FtpSite&) = delete;
    FtpSite& operator=(const FtpSite&) = delete;

    // The session and the main connection; null when there is none. Only the
    // thread of the operation that holds the site may use the connection; any
    // thread may ask IsConnected and Encryption.
    CInternetSession* Session() const { return m_session.get(); }
    // Whether a connect has been made (a session, or a connection of a protocol
    // without one) and not closed since.
    bool HasSession() const { return m_session != nullptr || m_remote != nullptr; }
    CFtpConnection* Connection() const { return m_connection.get(); }
    // The main connection behind the remote-site interface, whatever its protocol.
    RemoteConnection* Remote() const { return m_remote.get(); }
    bool IsConnected() const { return m_connected.load(); }
    // What keeps the main connection private ("TLS", "SSH"), empty in clear.
    QString Encryption() const;
    // Makes a further connection to the same server for a copy or a scan; throws
    // RemoteError. Set with the main connection by the connect step.
    using Opener = std::function<std::unique_ptr<RemoteConnection>()>;
    std::unique_ptr<RemoteConnection> OpenExtra() const;
    void SetOpener(Opener opener);
    // A further connection for one of several transfers at once.
    std::unique_ptr<RemoteConnection> OpenPoolConnection() const;

    // Takes the session over; one held before is closed first.
    void SetSession(std::unique_ptr<CInternetSession> session);
    // Hands the session over without closing it (to a connect attempt that was
    // given up on and still uses it on its worker).
    std::unique_ptr<CInternetSession> TakeSession();
    // Closes and deletes the session alone.
    void CloseSession();
    // Takes the main connection over; one held before is closed first.
    void SetConnection(std::unique_ptr<CFtpConnection> connection);
    // The same for a connection of another protocol.
    void SetRemote(std::unique_ptr<RemoteConnection> remote);
    // Closes and deletes the main connection, then the session.
    void Close();

    // The active profile and its place in the profile list.
    const CProfile& Profile() const { return m_profile; }
    int ProfileIndex() const { return m_profileIndex; }
    void SetProfile(const CProfile& profile);
    void SetProfileIndex(int index);
    void SetActiveProfile(const CProfile& profile, int index);

    // The folder the main connection is in, as the server names it.
    const QString& CurrentDir() const { return m_currentDir; }
    void SetCurrentDir(const QString& dir);

    // The last folder listing read on the main connection. It is only ever
    // replaced whole, so a reader never sees half of one folder.
    const std::vector<DirEntry>& Listing() const { return m_listing; }
    void SetListing(std::vector<DirEntry> listing);
    void ClearListing();

    // The FTP side has no usable connection: its panes refuse FTP work.
    bool IsUnavailable() const { return m_unavailable; }
    void SetUnavailable(bool unavailable);

    // The FTP tree is to be built anew (the profiles changed, or a refresh). Any
    // thread may ask; however many ask before it is taken, it is one request and
    // one signal.
    void RequestRebuild();
    bool IsRebuildRequested() const { return m_rebuildRequest.load(); }
    // True once per request: whoever takes it does the rebuild.
    bool TakeRebuildRequest();

    // The state of the connect attempt, written by its worker: done is set
    // last, so a reader that sees it done also sees whether it failed.
    void BeginConnectAttempt();
    void EndConnectAttempt(bool connected);
    bool IsConnectDone() const { return m_connectDone.load(); }
    bool ConnectFailed() const { return m_connectError.load(); }

    // The server refused to rename a finished upload onto its new name: from then
    // on, for this session, uploads to new names are written under their own name.
    bool RefusesRenames() const { return m_refusesRenames.load(); }
    void SetRefusesRenames() { m_refusesRenames = true; }
    // The server refused APPE for a new temporary name: STOR from then on.
    bool RefusesAppend() const { return m_refusesAppend.load(); }
    void SetRefusesAppend() { m_refusesAppend = true; }

    // How many files a copy moves at once (the user's setting, 1 to 10), and how
    // many connections the server has let us hold at once, the main one counted:
    // learnt from a refusal, kept for the session; 0 while none has come.
    static constexpr int kDefaultTransfers = 4;
    static constexpr int kMaxTransfers = 10;
    int Transfers() const { return m_transfers.load(); }
    void SetTransfers(int transfers);
    int ConnectionLimit() const { return m_connectionLimit.load(); }
    // Keeps the lowest limit heard; never below one connection.
    void NoteConnectionLimit(int connections);

signals:
    void connectionChanged(bool connected);
    // The main connection's encryption, as Encryption() tells it.
    void encryptionChanged(const QString& encryption);
    void profileChanged();
    void currentDirChanged(const QString& dir);
    void listingChanged();
    void availabilityChanged(bool unavailable);
    void rebuildRequested();

private:
    void CloseConnection();
    void SetState(bool connected, const QString& encryption);
    Opener FtpOpener(bool passive);

    std::unique_ptr<CInternetSession> m_session;
    // The FTP connection, when the site is an FTP one, and the interface over the
    // main connection (over m_connection for FTP), which goes first.
    std::unique_ptr<CFtpConnection> m_connection;
    std::unique_ptr<RemoteConnection> m_remote;
    Opener m_opener;
    Opener m_poolOpener;
    std::atomic<bool> m_connected{false};
    mutable std::mutex m_stateMutex;
    QString m_encryption;
    CProfile m_profile;
    int m_profileIndex = 0;
    QString m_currentDir;
    std::vector<DirEntry> m_listing;
    bool m_unavailable = false;
    std::atomic<bool> m_rebuildRequest{false};
    std::atomic<bool> m_connectError{false};
    std::atomic<bool> m_connectDone{false};
    std::atomic<bool> m_refusesRenames{false};
    std::atomic<bool> m_refusesAppend{false};
    std::atomic<int> m_transfers{kDefaultTransfers};
    std::atomic<int> m_connectionLimit{0};
};

} // namespace core
