#include "FtpSite.h"

#include "FtpConnection.h"
#include "InternetSession.h"
#include "Job.h"

#include <utility>

namespace core {
namespace {
// Says goodbye to the server, off the interface thread when called there: a
// server that has gone silent would hold the window for the whole wait for its
// answer to QUIT. The connection is out of the site by now, so nobody can find
// it half closed meanwhile.
void CloseOffUi(std::unique_ptr<CFtpConnection> connection) {
    if (!connection)
        return;
    if (OnUiThread() && !JobRunning()) {
        Run([&] { connection->Close(); });
        return;
    }
    connection->Close();
}
} // namespace

FtpSite::FtpSite(QObject* parent) : QObject(parent) {}

FtpSite::~FtpSite() {
    // Nobody listens any more: the connection says goodbye to the server, quietly.
    blockSignals(true);
    Close();
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
    std::unique_ptr<CFtpConnection> connection = std::move(m_connection);
    if (!connection)
        return;
    emit connectionChanged(false);
    CloseOffUi(std::move(connection));
}

void FtpSite::SetConnection(std::unique_ptr<CFtpConnection> connection) {
    const bool was = IsConnected();
    CloseOffUi(std::move(m_connection));
    m_connection = std::move(connection);
    if (was != IsConnected())
        emit connectionChanged(IsConnected());
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
    emit profileChanged();
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
