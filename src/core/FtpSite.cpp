#include "FtpSite.h"

#include "FtpConnection.h"
#include "FtpRemote.h"
#include "InternetSession.h"
#include "Job.h"
#include "RemoteSite.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace core {
namespace {
// Says goodbye to the server, off the interface thread when called there: a
// server that has gone silent would hold the window for the whole wait for its
// answer to QUIT. The connection is out of the site by now, so nobody can find
// it half closed meanwhile.
void CloseOffUi(std::unique_ptr<RemoteConnection> remote, std::unique_ptr<CFtpConnection> connection) {
    if (!connection && !remote)
        return;
    auto shared = std::make_shared<std::pair<std::unique_ptr<RemoteConnection>,
                                             std::unique_ptr<CFtpConnection>>>(
        std::move(remote), std::move(connection));
    auto close = [shared] {
        shared->first.reset();
        if (shared->second)
            shared->second->Close();
    };
    if (OnUiThread())
        RunInBackground(close);
    else
        close();
}
} // namespace

FtpSite::FtpSite(QObject* parent) : QObject(parent) {}

FtpSite::~FtpSite() {
    // Nobody listens any more: the connection says goodbye to the server, quietly.
    blockSignals(true);
    Close();
    // And is done saying it before the site, and whatever the program tears
    // down after it, is gone.
    JoinBackgroundWork();
}

void FtpSite::SetSession(std::unique_ptr<CInternetSession> session) {
    CloseSession();
    m_session = std::move(session);
}

std::unique_ptr<CInternetSession> FtpSite::TakeSession() {
    return std::move(m_session);
}

void FtpSite::CloseSession() {
    // Dropped from the site before it is closed: whatever the closing does, no
    // one finds a session that is half gone.
    std::unique_ptr<CInternetSession> session = std::move(m_session);
    if (session)
        session->Close();
}

void FtpSite::CloseConnection() {
    std::unique_ptr<RemoteConnection> remote = std::move(m_remote);
    std::unique_ptr<CFtpConnection> connection = std::move(m_connection);
    m_opener = nullptr;
    m_poolOpener = nullptr;
    if (!remote && !connection)
        return;
    SetState(false, QString());
    CloseOffUi(std::move(remote), std::move(connection));
}

void FtpSite::SetConnection(std::unique_ptr<CFtpConnection> connection) {
    std::unique_ptr<RemoteConnection> remote;
    if (connection) {
        remote = std::make_unique<FtpRemote>(*connection, this);
        m_opener = FtpOpener(false);
        // Several transfers at once go passive: some servers lose the data of
        // simultaneous connections they make back to the client.
        m_poolOpener = FtpOpener(true);
    }
    const QString encryption = remote ? remote->Encryption() : QString();
    // The old one leaves the site before it is closed, so nobody finds it half gone.
    std::unique_ptr<RemoteConnection> oldRemote = std::move(m_remote);
    std::unique_ptr<CFtpConnection> oldConnection = std::move(m_connection);
    m_remote = std::move(remote);
    m_connection = std::move(connection);
    CloseOffUi(std::move(oldRemote), std::move(oldConnection));
    SetState(m_remote != nullptr, encryption);
}

FtpSite::Opener FtpSite::FtpOpener(bool passive) {
    return [this, passive]() -> std::unique_ptr<RemoteConnection> {
        if (!m_session)
            throw RemoteError(RemoteError::Kind::Lost, QStringLiteral("no session"));
        const CProfile& profile = m_profile;
        std::unique_ptr<CFtpConnection> extra;
        try {
            extra.reset(m_session->GetFtpConnection(profile.m_address, profile.m_userId,
                                                    profile.m_password,
                                                    INTERNET_INVALID_PORT_NUMBER, passive));
        } catch (const CInternetException& e) {
            throw RemoteError(e.m_dwError == ERROR_INTERNET_OPERATION_CANCELLED
                                  ? RemoteError::Kind::Cancelled
                                  : RemoteError::Kind::Lost,
                              e.Message());
        }
        return std::make_unique<FtpRemote>(std::move(extra), this);
    };
}

void FtpSite::SetRemote(std::unique_ptr<RemoteConnection> remote) {
    const QString encryption = remote ? remote->Encryption() : QString();
    std::unique_ptr<RemoteConnection> oldRemote = std::move(m_remote);
    std::unique_ptr<CFtpConnection> oldConnection = std::move(m_connection);
    m_remote = std::move(remote);
    CloseOffUi(std::move(oldRemote), std::move(oldConnection));
    SetState(m_remote != nullptr, encryption);
}

void FtpSite::SetOpener(Opener opener) {
    m_opener = std::move(opener);
    m_poolOpener = nullptr;
}

std::unique_ptr<RemoteConnection> FtpSite::OpenPoolConnection() const {
    return m_poolOpener ? m_poolOpener() : OpenExtra();
}

std::unique_ptr<RemoteConnection> FtpSite::OpenExtra() const {
    if (!m_opener)
        throw RemoteError(RemoteError::Kind::Lost,
                          QStringLiteral("There is no connection to the server."));
    return m_opener();
}

QString FtpSite::Encryption() const {
    std::lock_guard lock(m_stateMutex);
    return m_encryption;
}

void FtpSite::SetState(bool connected, const QString& encryption) {
    bool encryptionNews = false;
    {
        std::lock_guard lock(m_stateMutex);
        encryptionNews = encryption != m_encryption;
        m_encryption = encryption;
    }
    const bool was = m_connected.exchange(connected);
    if (was != connected)
        emit connectionChanged(connected);
    if (encryptionNews)
        emit encryptionChanged(encryption);
}

void FtpSite::Close() {
    CloseConnection();
    CloseSession();
}

void FtpSite::SetProfile(const CProfile& profile) {
    if (profile == m_profile)
        return;
    m_profile = profile;
    m_refusesRenames = false;
    m_refusesAppend = false;
    m_connectionLimit = 0;
    emit profileChanged();
}

void FtpSite::SetTransfers(int transfers) {
    m_transfers = transfers >= 1 && transfers <= kMaxTransfers ? transfers : kDefaultTransfers;
}

void FtpSite::NoteConnectionLimit(int connections) {
    const int limit = std::max(connections, 1);
    int known = m_connectionLimit.load();
    while ((known == 0 || limit < known) &&
           !m_connectionLimit.compare_exchange_weak(known, limit)) {
    }
}

void FtpSite::SetProfileIndex(int index) {
    if (index == m_profileIndex)
        return;
    m_profileIndex = index;
    emit profileChanged();
}

void FtpSite::SetActiveProfile(const CProfile& profile, int index) {
    if (profile == m_profile && index == m_profileIndex)
        return;
    if (!(profile == m_profile))
        m_connectionLimit = 0;
    m_profile = profile;
    m_profileIndex = index;
    emit profileChanged();
}

void FtpSite::SetCurrentDir(const QString& dir) {
    if (dir == m_currentDir)
        return;
    m_currentDir = dir;
    emit currentDirChanged(m_currentDir);
}

void FtpSite::SetListing(std::vector<DirEntry> listing) {
    // Every reading is news, even of a folder that has not changed.
    m_listing = std::move(listing);
    emit listingChanged();
}

void FtpSite::ClearListing() {
    if (m_listing.empty())
        return;
    m_listing.clear();
    emit listingChanged();
}

void FtpSite::SetUnavailable(bool unavailable) {
    if (unavailable == m_unavailable)
        return;
    m_unavailable = unavailable;
    emit availabilityChanged(m_unavailable);
}

void FtpSite::RequestRebuild() {
    if (m_rebuildRequest.exchange(true))
        return;
    emit rebuildRequested();
}

bool FtpSite::TakeRebuildRequest() {
    return m_rebuildRequest.exchange(false);
}

void FtpSite::BeginConnectAttempt() {
    m_connectError = false;
    m_connectDone = false;
}

void FtpSite::EndConnectAttempt(bool connected) {
    m_connectError = !connected;
    m_connectDone = true;
}

} // namespace core
