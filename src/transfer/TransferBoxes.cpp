// The messages and questions of a transfer: each typed error becomes the box
// the user reads, with its caption, text and owner.
#include <QInputDialog>
#include <QLineEdit>

#include "CommStatusDlg.h"
#include "CopyMessages.h"
#include "FrameBase.h"
#include "MessageBox.h"
#include "Messages.h"

namespace {
const QString kCannotConnect =
    QStringLiteral("The program was unable to connect to the requested FTP site.");
const QString kConnectCaption = QStringLiteral("Error Opening FTP Connection");

void Stop(QWidget* owner, const QString& text, const QString& caption) {
    MessageBox(owner, text, caption, MB_OK | MB_ICONHAND);
}

// The question about a certificate that the trust store does not vouch for. A
// changed certificate is a warning whose default answer is Cancel.
CertificateAnswer AskCertificate(QWidget* owner, const CertificateVerdict& verdict) {
    const bool changed = (verdict.problems & CERT_CHANGED) != 0;
    const QString caption = changed ? QStringLiteral("WARNING: Server Certificate Changed")
                                    : QStringLiteral("Untrusted Server Certificate");
    const unsigned flags =
        MB_ACCEPTONCEALWAYSCANCEL | (changed ? MB_ICONWARNING | MB_DEFBUTTONLAST : MB_ICONQUESTION);
    switch (MessageBox(owner, verdict.Describe(), caption, flags)) {
    case IDACCEPTONCE:
        return CertificateAnswer::AcceptOnce;
    case IDACCEPTALWAYS:
        return CertificateAnswer::AcceptAlways;
    default:
        return CertificateAnswer::Cancel;
    }
}
} // namespace

void CCommStatusDlg::Failed(const core::TransferError& error) {
    using Kind = core::TransferError::Kind;
    QWidget* frame = m_mainFrame;
    switch (error.kind) {
    case Kind::Cancelled:
        Stop(frame, QStringLiteral("The communication session has been cancelled by the user."),
             QStringLiteral("Communication Cancelled"));
        break;
    case Kind::CopyFile:
        // The library's own wording would mean little to the user; the message
        // is the same whatever broke.
        ReportCopyFileError(frame);
        break;
    case Kind::CreateFolder:
        ReportCreateDirectoryError(frame);
        break;
    case Kind::SameFolder:
        ReportSameFolder(BoxOwner());
        break;
    case Kind::Connect:
        if (error.detail.isEmpty())
            Stop(frame, kCannotConnect, kConnectCaption);
        else
            Stop(BoxOwner(), kCannotConnect + QStringLiteral("\n\n") + error.detail,
                 kConnectCaption);
        break;
    case Kind::TlsWithdrawn:
        MessageBox(BoxOwner(), kCannotConnect + QStringLiteral("\n\n") + error.detail,
                   QStringLiteral("WARNING: Encryption No Longer Offered"), MB_OK | MB_ICONWARNING);
        break;
    case Kind::ResumeGaveUp:
        // The copy's own message, with what the tries came to.
        Stop(frame,
             QStringLiteral("The program was unable to copy the selected file(s).\n\n") +
                 error.detail,
             QStringLiteral("Error Copying File"));
        break;
    case Kind::HostKeyChanged:
        // No way through: the user removes the old key, as ssh tells.
        MessageBox(BoxOwner(), error.detail, QStringLiteral("WARNING: Host Key Changed"),
                   MB_OK | MB_ICONWARNING);
        break;
    case Kind::InitialDir:
        Stop(BoxOwner(), QStringLiteral("The selected Initial Directory does not exist."),
             QStringLiteral("Error with Initial Directory"));
        break;
    case Kind::FolderUnreadable:
        copymessages::FolderUnreadable(frame, error.path);
        break;
    case Kind::FolderTooDeep:
        copymessages::FolderTooDeep(frame, error.path);
        break;
    case Kind::FolderCycle:
        copymessages::FolderCycle(frame, error.path);
        break;
    case Kind::PartialLeft:
        copymessages::PartialLeft(frame, error.path, false);
        break;
    case Kind::OldKeptAside:
        copymessages::OldKeptAside(frame, error.path, error.aside, false);
        break;
    case Kind::OldNotRemoved:
        copymessages::OldNotRemoved(frame, error.aside, false);
        break;
    case Kind::SpecialFile:
        copymessages::SpecialFile(frame, error.path);
        break;
    case Kind::SpecialSkipped:
        copymessages::SpecialSkipped(frame, error.path);
        break;
    case Kind::UnsafeName:
        copymessages::UnsafeName(frame, error.path);
        break;
    case Kind::NameTooLong:
        copymessages::NameTooLong(frame, error.path);
        break;
    }
}

void CCommStatusDlg::ReportBusy() {
    Stop(BoxOwner(),
         QStringLiteral("Another operation with the FTP server is under way. Try again once it has "
                        "ended."),
         QStringLiteral("Communication in Progress"));
}

CertificateAnswer CCommStatusDlg::AskAboutCertificate(const CertificateVerdict& verdict) {
    return AskCertificate(BoxOwner(), verdict);
}

CertificateAnswer CCommStatusDlg::AskAboutHostKey(const core::HostKeyInfo& key) {
    // In ssh's own words, so that a user who knows the one knows the other.
    QString text = QStringLiteral("The authenticity of host '%1' can't be established.\n"
                                  "%2 key fingerprint is %3.")
                       .arg(key.host, key.type, key.fingerprint);
    if (!key.knownTypes.isEmpty())
        text += QStringLiteral("\nbut keys of different type are already known for this host "
                               "(%1).")
                    .arg(key.knownTypes.join(QStringLiteral(", ")));
    text += QStringLiteral("\n\nConnect and Remember adds the key to %1.").arg(key.knownHostsPath);
    switch (MessageBox(BoxOwner(), text, QStringLiteral("Unknown Host Key"),
                       MB_CONNECTONCEREMEMBERCANCEL | MB_ICONQUESTION)) {
    case IDACCEPTONCE:
        return CertificateAnswer::AcceptOnce;
    case IDACCEPTALWAYS:
        return CertificateAnswer::AcceptAlways;
    default:
        return CertificateAnswer::Cancel;
    }
}

namespace {
std::optional<QString> AskSecret(QWidget* owner, const QString& caption, const QString& label) {
    bool ok = false;
    const QString given =
        QInputDialog::getText(owner, caption, label, QLineEdit::Password, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return given;
}
} // namespace

std::optional<QString> CCommStatusDlg::AskPassphrase(const QString& keyPath) {
    return AskSecret(BoxOwner(), QStringLiteral("Key Passphrase"),
                     QStringLiteral("Enter the passphrase for key '%1':").arg(keyPath));
}

std::optional<QString> CCommStatusDlg::AskPrompt(const QString& prompt) {
    return AskSecret(BoxOwner(), QStringLiteral("SFTP Login"), prompt);
}

void CCommStatusDlg::InstallCertificateQuestion() {
    static const bool installed = [] {
        // The session outlives any one window, so the box has no owner.
        core::SetCertificateQuestion(
            [](const CertificateVerdict& verdict) { return AskCertificate(nullptr, verdict); });
        return true;
    }();
    (void)installed;
}
