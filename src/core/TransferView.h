#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "Certificate.h"

// What a copy has shown for one finished 1000-byte block: the texts of the
// bytes-copied, bytes-per-second and time lines and the bar position, exactly as
// they stand for that block (the window itself is refreshed less often).
struct BlockReport {
    std::uint64_t blockIndex = 0;
    QString bytesCopied;    // "Bytes Copied:"
    QString bytesPerSecond; // "Bytes Per Second:"
    QString elapsed;        // "Time (for this file):"
    QString timeLeft;       // "Time Left:"
    int position = 0;       // the progress bar
};

namespace core {

// The lines of the status window a transfer writes. Files to InFlight tell a
// batch of several files as a whole: files and bytes done of all, the rate and
// time left of all, and the names of the files under way.
enum class StatusLine {
    Operation,
    Activity,
    Message,
    From,
    To,
    Copied,
    Rate,
    Time,
    TimeLeft,
    Files,
    Bytes,
    TotalRate,
    TotalTimeLeft,
    InFlight
};

// Why a transfer stopped, or what it must tell the user on its way. The view
// turns each into the message the user reads; the transfer never shows one.
struct TransferError {
    enum class Kind {
        Cancelled,        // the user pressed Cancel
        CopyFile,         // a file could not be copied
        CreateFolder,     // a folder of the copy could not be made
        SameFolder,       // a folder copied into itself
        Connect,          // no connection; detail says why when the secure channel failed
        TlsWithdrawn,     // no connection: a server that had shown TLS no longer offers it
        InitialDir,       // the profile's initial folder is missing (the connection stands)
        FolderUnreadable, // path: the folder whose listing failed
        FolderTooDeep,    // path: the folder past the deepest level
        FolderCycle,      // path: the folder that leads back into the tree
        PartialLeft,      // path: an unfinished copy that could not be removed
        OldKeptAside,     // path's old file is left at aside
        OldNotRemoved,    // the copy is in place; the old file is left at aside
        SpecialFile,      // path: a pipe, socket or device named as source or destination
        SpecialSkipped,   // path: what a folder copy left out as not regular files, a line each
        UnsafeName,       // path (escaped): a server's name that would hide what it is
        NameTooLong,      // path: a server's name too long for a local file
        HostKeyChanged,   // path: the host; detail: the warning with both fingerprints
        ResumeGaveUp,     // a copy whose connection kept breaking; detail: what was copied
    };
    Kind kind = Kind::CopyFile;
    QString path;
    QString aside;
    QString detail;
};

// An SSH server's host key that the user's known_hosts does not hold, as the
// question about it shows it (the words and forms of OpenSSH's ssh).
struct HostKeyInfo {
    QString host;        // as known_hosts names it: "host" or "[host]:port"
    QString type;        // "ED25519", "ECDSA", "RSA"
    QString fingerprint; // "SHA256:..."
    QStringList knownTypes; // keys of other types already remembered for the host
    QString knownHostsPath;
};

// What watches a transfer: the status window, or a test. Every call comes on
// the interface thread, except BlockFinished and ShowsProgress, which come on
// the thread that copies.
class TransferView {
public:
    virtual ~TransferView() = default;
    virtual void ShowLine(StatusLine line, const QString& text) = 0;
    // The main window's status bar.
    virtual void ShowStatus(const QString& text) = 0;
    // A step of the connection: the window's message line at start-up, else the
    // status bar.
    virtual void ShowConnectStep(const QString& text) = 0;
    virtual void ShowProgress(int position) = 0;
    // The labels, bar and buttons of a copy, hidden until the first copy starts.
    virtual void RevealTransferControls() = 0;
    // Tells the user; the transfer waits until the user has read it.
    virtual void Failed(const TransferError& error) = 0;
    virtual CertificateAnswer AskAboutCertificate(const CertificateVerdict& verdict) = 0;
    // The questions of an SFTP login: an unknown host key (accept once, remember,
    // cancel), the passphrase of a key the server takes, a prompt of the server's.
    // Without an answer the login goes without.
    virtual CertificateAnswer AskAboutHostKey(const HostKeyInfo& /*key*/) {
        return CertificateAnswer::Cancel;
    }
    virtual std::optional<QString> AskPassphrase(const QString& /*keyPath*/) { return {}; }
    virtual std::optional<QString> AskPrompt(const QString& /*prompt*/) { return {}; }
    // Whether there is a window to show progress in.
    virtual bool ShowsProgress() const = 0;
    // Whether the program is still starting up (the first connection).
    virtual bool StartingUp() const = 0;
    // Whether BlockFinished wants to hear of every block: the report's texts cost
    // more than the copy of a block itself, so they are made only for a watcher.
    virtual bool WatchesBlocks() const { return false; }
    virtual void BlockFinished(const BlockReport& /*report*/) {}
};

} // namespace core
