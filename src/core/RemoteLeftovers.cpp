#include "RemoteLeftovers.h"

#include "FtpTreeDelete.h"
#include "InternetSession.h"
#include "Interrupt.h"
#include "PathRules.h"
#include "Profile.h"
#include "RemoteSite.h"
#include "SftpRemote.h"
#include "TempJournal.h"
#include "TlsLayer.h"

namespace core {
namespace {

constexpr auto kSweepBound = std::chrono::seconds(5);

enum class Listed { Nothing, File, Folder, Link, Unknown };

Listed LookUp(RemoteConnection* connection, const QString& path) {
    std::optional<RemoteEntry> entry;
    try {
        entry = connection->Stat(path);
    } catch (const std::exception&) {
        return Listed::Unknown;
    }
    if (!entry)
        return Listed::Nothing;
    return entry->isLink ? Listed::Link : entry->isFolder ? Listed::Folder : Listed::File;
}

bool Delete(RemoteConnection* connection, const QString& path) {
    try {
        connection->DeleteFile(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

tempjournal::Outcome RemoveOne(RemoteConnection* connection, const tempjournal::Entry& entry,
                               std::chrono::steady_clock::time_point deadline) {
    using tempjournal::Kind;
    using tempjournal::Outcome;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    ftp::InterruptScope bound(std::max(left, std::chrono::milliseconds(1)));
    const Listed listed = LookUp(connection, entry.path);
    if (!entry.replaces.isEmpty() && listed != Listed::Unknown) {
        // The old one was moved aside and nothing took its place: it goes back.
        // It is tried even when the aside is not listed, as a server that hides
        // names beginning with "." lists nothing for it: the old one must never
        // be taken for gone and deleted.
        switch (LookUp(connection, entry.replaces)) {
        case Listed::Unknown:
            return Outcome::Kept;
        case Listed::Nothing:
            try {
                connection->Rename(entry.path, entry.replaces);
                return Outcome::Restored;
            } catch (const RemoteError& error) {
                if (error.kind() != RemoteError::Kind::Refused)
                    return Outcome::Kept;
            } catch (const std::exception&) {
                return Outcome::Kept;
            }
            return listed == Listed::Nothing ? Outcome::Gone : Outcome::Kept;
        default:
            break;
        }
    }
    switch (listed) {
    case Listed::Unknown:
        return Outcome::Kept;
    case Listed::Nothing:
        // Some servers never list a name that begins with "."; DELE removes a
        // file (or a link) of that name and never a folder.
        if (entry.kind != Kind::Folder && Delete(connection, entry.path))
            return Outcome::Removed;
        return Outcome::Gone;
    case Listed::File:
    case Listed::Link:
        if ((listed == Listed::File) != (entry.kind == Kind::File) || entry.kind == Kind::Folder)
            return Outcome::Gone; // not what was made under that name
        return Delete(connection, entry.path) ? Outcome::Removed : Outcome::Kept;
    case Listed::Folder:
        if (entry.kind != Kind::Folder)
            return Outcome::Gone;
        return FtpTreeDelete(connection).Run(entry.path + QLatin1Char('/')) ? Outcome::Removed
                                                                            : Outcome::Kept;
    }
    return Outcome::Kept;
}

} // namespace

QString LeftoverSiteOf(const CProfile& profile) {
    QString sshHost;
    int sshPort = 0;
    if (ParseSftpAddress(profile.m_address, sshHost, sshPort))
        return QStringLiteral("sftp %1 %2 %3").arg(sshHost.toLower()).arg(sshPort).arg(profile.m_userId);
    QString rest, host;
    TlsMode mode = TlsMode::Auto;
    unsigned short port = 0;
    if (!SplitFtpScheme(profile.m_address, &rest, &mode) ||
        !CInternetSession::ParseAddress(rest, 0, &host, &port))
        return QString();
    return QStringLiteral("ftp %1 %2 %3").arg(host.toLower()).arg(port).arg(profile.m_userId);
}

void SweepRemoteLeftovers(const CProfile& profile, RemoteConnection* connection) {
    const QString site = LeftoverSiteOf(profile);
    if (site.isEmpty() || !connection || !tempjournal::FirstVisit(site))
        return;
    const auto deadline = std::chrono::steady_clock::now() + kSweepBound;
    try {
        tempjournal::Journal().Sweep(
            site,
            [&](const tempjournal::Entry& entry) { return RemoveOne(connection, entry, deadline); },
            deadline);
    } catch (const std::exception&) {
        // The connection failed meanwhile; the entries stay for a later run.
    }
}

} // namespace core
