#pragma once

#include "KnownHosts.h"
#include "SftpError.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct ssh_session_struct;
struct ssh_channel_struct;
namespace Poco::Net {
class StreamSocket;
}

// An SFTP session over SSH: libssh (non-blocking) carries the channel, and the
// SFTP protocol on it is spoken here, so that many reads and writes can be in
// flight at once. Every wait is a poll on the socket in short steps: the thread's
// stop request (ftp::InterruptScope) ends it within one step, and a silent server
// is given up on after the time-outs.
//
// The connect is in two steps: Connect() ends with the host key in hand and no
// login tried; the caller checks it (KnownHosts) and only then calls Login().
namespace sftp {

namespace wire {
enum Type : std::uint8_t;
class Packet;
struct Attrs;
} // namespace wire

struct Timeouts {
    int connectMs = 10000; // the TCP connect and the handshake
    int replyMs = 30000;   // each reply of the server
};

// How Login finds its keys and answers its questions.
struct LoginOptions {
    QString user;
    QString password;    // the profile's; empty when it holds none
    QString agentSocket; // empty: no agent
    QString keyFolder;   // where id_ed25519, id_ecdsa and id_rsa are looked for
    // The passphrase of an encrypted key the server accepts (its path given);
    // nothing when the user declines.
    std::function<std::optional<QString>(const QString& keyPath)> passphrase;
    // An answer to a keyboard-interactive prompt the password cannot answer.
    std::function<std::optional<QString>(const QString& prompt)> prompt;
    static LoginOptions Defaults(const QString& user, const QString& password);
};

// One entry of a folder, or what a stat says of a path.
struct Entry {
    QString name;
    std::string rawName; // the name's bytes where they are not UTF-8
    bool isFolder = false;
    bool isLink = false;
    bool targetKnown = false; // a link: whether isFolder tells its target's kind
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
    QString linkTarget;
};

enum class OpenMode {
    Read,
    CreateExclusive, // a new file; an existing name is refused
    Truncate,        // a new file, or an existing one emptied
    AtOffset,        // an existing file, written from the offset on, cut there at close
};

class File;

class Session {
public:
    explicit Session(Timeouts timeouts = Timeouts());
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The TCP connect and the SSH handshake; the server's host key. The key
    // types known_hosts holds for the host are asked for first, as ssh does, so
    // a host remembered with one of its keys is not asked about for another;
    // the file is read for nothing else (KnownHosts decides).
    HostKey Connect(const QString& host, int port, const QString& knownHosts = QString());
    // Tries the logins in order; Refused names the methods tried.
    void Login(const LoginOptions& options);
    // What the last Login tried, e.g. "publickey (2 keys), password".
    const QString& MethodsTried() const { return m_tried; }

    std::vector<Entry> List(const QString& folder);
    std::optional<Entry> Lstat(const QString& path);
    std::optional<Entry> Stat(const QString& path);
    void MakeFolder(const QString& path);
    // Never over an existing name.
    void Rename(const QString& from, const QString& to);
    // Whether the server renames over an existing file in one step
    // (posix-rename@openssh.com), and that rename.
    bool RenamesOver() const { return m_posixRename; }
    void RenameOver(const QString& from, const QString& to);
    void RemoveFile(const QString& path);
    void RemoveFolder(const QString& path);
    QString RealPath(const QString& path);
    std::unique_ptr<File> Open(const QString& path, OpenMode mode, std::uint64_t offset = 0);

    // The session can no longer be used (a broken connection, a wait cut short).
    bool Broken() const { return m_broken; }

private:
    friend class File;
    friend class LoginRun;

    // A reply: its type and what follows its id.
    struct Reply {
        std::uint8_t type = 0;
        std::string body;
    };

    // Runs a libssh step that answers SSH_AGAIN until it is done.
    template <class F> int AwaitSsh(F call, int timeoutMs);
    void WaitSocket(std::chrono::steady_clock::time_point deadline);
    [[noreturn]] void FailSsh(const QString& what);
    void EnsureUsable() const;
    void MarkBroken();
    void StartSftp();

    // Requests go out in order; replies are kept by id until asked for.
    std::uint32_t Send(wire::Packet& packet);
    Reply Receive(std::uint32_t id);
    Reply Call(wire::Packet& packet) { return Receive(Send(packet)); }
    bool Pump(); // moves what it can both ways; true when anything moved
    void TakePackets();
    // A reply that must be a status of success, a handle, a name.
    void ExpectOk(const Reply& reply, const QString& what);
    std::string ExpectHandle(const Reply& reply, const QString& what);
    std::string ExpectName(const Reply& reply, const QString& what);
    [[noreturn]] void Refuse(const Reply& reply, const QString& what);
    static std::uint32_t StatusOf(const Reply& reply);
    void CloseHandle(const std::string& handle, const QString& what);

    std::string Encode(const QString& path) const;
    QString Decode(const std::string& bytes);
    Entry ToEntry(const QString& name, const wire::Attrs& attrs) const;
    std::optional<Entry> StatOf(wire::Type type, const QString& path);
    void FillLink(const QString& folder, Entry& entry);

    Timeouts m_timeouts;
    std::unique_ptr<Poco::Net::StreamSocket> m_socket;
    int m_fd = -1;
    ssh_session_struct* m_session = nullptr;
    ssh_channel_struct* m_channel = nullptr;
    bool m_broken = false;
    bool m_posixRename = false;
    QString m_tried;
    std::uint32_t m_nextId = 1;
    std::string m_out;       // bytes for the channel not taken yet
    std::size_t m_outAt = 0; // where they start
    std::string m_in;        // bytes from the channel not parsed yet
    std::unordered_map<std::uint32_t, Reply> m_replies;
    // Names seen in listings that are not UTF-8: the bytes to send back for them.
    std::unordered_map<QString, std::string> m_rawNames;
};

} // namespace sftp
