// The connection to an SFTP site: the host key checked (and asked about) before
// any login, the logins in their order, and the further connections of copies
// and scans made with what the first one settled.
#include <QDir>
#include <map>
#include <mutex>

#include "FtpSite.h"
#include "RemoteLeftovers.h"
#include "SftpRemote.h"
#include "Transfer.h"

namespace {
// What the main connection settled, for the further ones: the key accepted once
// (a remembered key needs nothing) and the passphrases given. They live in the
// site's opener for as long as the session does, never on disk.
struct Settled {
    std::mutex mutex;
    QString acceptedKey;
    std::map<QString, QString> passphrases;
};

core::HostKeyQuestion SameKeyOnly(std::shared_ptr<Settled> settled) {
    return [settled](const sftp::HostKeyCheck& check) {
        std::lock_guard lock(settled->mutex);
        return check.offered.Fingerprint() == settled->acceptedKey ? core::HostKeyAnswer::ConnectOnce
                                                                   : core::HostKeyAnswer::Cancel;
    };
}

core::PassphraseQuestion GivenPassphrase(std::shared_ptr<Settled> settled) {
    return [settled](const QString& keyPath) -> std::optional<QString> {
        std::lock_guard lock(settled->mutex);
        const auto found = settled->passphrases.find(keyPath);
        if (found == settled->passphrases.end())
            return std::nullopt;
        return found->second;
    };
}
} // namespace

bool core::Transfer::ConnectSftp(const QString& host, int port) {
    const CProfile& profile = m_site->Profile();
    Post([this] {
        m_view.ShowConnectStep(QStringLiteral("Connecting to SFTP Server - Please Wait"));
    });
    SftpLogin login;
    login.host = host;
    login.port = port;
    login.user = profile.m_anonymous ? QStringLiteral("anonymous") : profile.m_userId;
    login.password = profile.m_password;
    login.timeouts.connectMs = kConnectWaitMs;
    login.timeouts.replyMs = 15000;
    auto settled = std::make_shared<Settled>();
    auto askKey = [&](const sftp::HostKeyCheck& check) {
        const HostKeyInfo info{sftp::KnownHostName(host, port), check.offered.Type(),
                               check.offered.Fingerprint(), check.knownTypes,
                               login.knownHostsPath.isEmpty() ? sftp::KnownHosts().Path()
                                                              : login.knownHostsPath};
        CertificateAnswer answer = CertificateAnswer::Cancel;
        Call([&] { answer = m_view.AskAboutHostKey(info); });
        if (answer == CertificateAnswer::AcceptOnce) {
            std::lock_guard lock(settled->mutex);
            settled->acceptedKey = info.fingerprint;
        }
        return answer == CertificateAnswer::AcceptOnce     ? HostKeyAnswer::ConnectOnce
               : answer == CertificateAnswer::AcceptAlways ? HostKeyAnswer::Remember
                                                           : HostKeyAnswer::Cancel;
    };
    auto askPassphrase = [&](const QString& keyPath) {
        std::optional<QString> given;
        Call([&] { given = m_view.AskPassphrase(keyPath); });
        if (given) {
            std::lock_guard lock(settled->mutex);
            settled->passphrases[keyPath] = *given;
        }
        return given;
    };
    auto askPrompt = [&](const QString& prompt) {
        std::optional<QString> given;
        Call([&] { given = m_view.AskPrompt(prompt); });
        return given;
    };
    std::unique_ptr<RemoteConnection> remote;
    try {
        remote = core::ConnectSftp(login, askKey, askPassphrase, askPrompt);
    } catch (const HostKeyChanged& e) {
        Fail({TransferError::Kind::HostKeyChanged, sftp::KnownHostName(host, port), {}, e.words()});
        return false;
    } catch (const RemoteError& e) {
        if (e.kind() == RemoteError::Kind::Cancelled && m_cancel) {
            ShowCancelled();
            return false;
        }
        Fail({TransferError::Kind::Connect, {}, {}, e.words()});
        return false;
    }
    m_site->SetRemote(std::move(remote));
    m_site->SetOpener([login, settled] {
        return core::ConnectSftp(login, SameKeyOnly(settled), GivenPassphrase(settled));
    });
    return FinishRemoteConnect();
}

bool core::Transfer::FinishRemoteConnect() {
    RemoteConnection* remote = m_site->Remote();
    try {
        const QString initialDir = m_site->Profile().m_initialDir;
        QString folder = remote->HomeFolder();
        if (!initialDir.isEmpty()) {
            // A relative initial folder is taken from the home folder, as a
            // shell's cd would.
            const QString wanted = initialDir.startsWith(QLatin1Char('/'))
                                       ? initialDir
                                       : QDir::cleanPath(folder + QLatin1Char('/') + initialDir);
            const auto entry = remote->Stat(wanted);
            if (entry && (entry->isFolder || remote->LeadsToFolder(wanted)))
                folder = wanted;
            else
                Fail({TransferError::Kind::InitialDir, initialDir, {}, {}});
        }
        m_site->SetCurrentDir(QString()); // never the folder of an earlier connection
        m_site->SetCurrentDir(folder);
        SweepRemoteLeftovers(m_site->Profile(), remote);
    } catch (const std::exception&) {
        // The connection died right after the login: no half-made state is kept.
        m_site->Close();
        ReportConnectError();
        return false;
    }
    return true;
}
