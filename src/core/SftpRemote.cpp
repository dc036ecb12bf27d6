#include "SftpRemote.h"

#include "File.h"

#include <QUrl>

namespace core {

namespace {

RemoteError::Kind KindOf(sftp::Error::Kind kind) {
    switch (kind) {
    case sftp::Error::Kind::Refused:
        return RemoteError::Kind::Refused;
    case sftp::Error::Kind::TimedOut:
        return RemoteError::Kind::TimedOut;
    case sftp::Error::Kind::Cancelled:
        return RemoteError::Kind::Cancelled;
    case sftp::Error::Kind::Lost:
        break;
    }
    return RemoteError::Kind::Lost;
}

// Runs an SFTP step, its failure thrown as the interface's error.
template <class F> auto Translate(F step) {
    try {
        return step();
    } catch (const sftp::Error& e) {
        throw RemoteError(KindOf(e.kind()), e.words());
    }
}

// The user's known_hosts, or the one the login names.
QString KnownHostsPath(const SftpLogin& login) {
    return login.knownHostsPath.isEmpty() ? sftp::KnownHosts().Path() : login.knownHostsPath;
}

RemoteEntry ToRemote(const sftp::Entry& e) {
    RemoteEntry r;
    r.name = e.name;
    r.rawName = e.rawName;
    r.isFolder = e.isFolder;
    r.isLink = e.isLink;
    r.targetKnown = e.isLink && e.targetKnown;
    r.size = e.size;
    r.lastWriteTime = e.mtime;
    r.linkTarget = e.linkTarget;
    return r;
}

QString ChangedWarning(const sftp::HostKeyCheck& check, const QString& host) {
    return QStringLiteral("The %1 host key of %2 has changed since it was remembered: someone may "
                          "be listening in, or the server's key was replaced.\n"
                          "Offered: %3\nRemembered: %4\n"
                          "If the change is expected, remove the old key from known_hosts "
                          "(ssh-keygen -R %2) and connect again.")
        .arg(check.offered.Type(), host, check.offered.Fingerprint(), check.knownFingerprint);
}

// Reads and writes keep the session they were opened on alive, even once the
// connection has made a fresh one.
class SftpReader : public RemoteReader {
public:
    SftpReader(std::shared_ptr<sftp::Session> s, std::unique_ptr<sftp::File> f)
        : m_session(std::move(s)), m_file(std::move(f)) {}
    std::size_t Read(void* buffer, std::size_t count) override {
        return Translate([&] { return m_file->Read(buffer, count); });
    }
    void Close() override {
        Translate([&] { m_file->Close(); });
    }
    void Abandon() noexcept override { m_file->Abandon(); }

private:
    std::shared_ptr<sftp::Session> m_session;
    std::unique_ptr<sftp::File> m_file;
};

class SftpWriter : public RemoteWriter {
public:
    SftpWriter(std::shared_ptr<sftp::Session> s, std::unique_ptr<sftp::File> f)
        : m_session(std::move(s)), m_file(std::move(f)) {}
    void Write(const void* buffer, std::size_t count) override {
        Translate([&] { m_file->Write(buffer, count); });
    }
    void Close() override {
        Translate([&] { m_file->Close(); });
    }
    void Abandon() noexcept override { m_file->Abandon(); }

private:
    std::shared_ptr<sftp::Session> m_session;
    std::unique_ptr<sftp::File> m_file;
};

class SftpRemote : public RemoteConnection {
public:
    SftpRemote(const SftpLogin& login, sftp::LoginOptions options, sftp::HostKey key,
               std::shared_ptr<sftp::Session> session)
        : m_login(login), m_options(std::move(options)), m_key(std::move(key)),
          m_session(std::move(session)) {}

    RemoteCaps Caps() const override {
        // Without posix-rename@openssh.com a replace goes through a temporary
        // name and two renames.
        return RemoteCaps{.resume = true,
                          .renameOver = m_session->RenamesOver(),
                          .uniqueIds = false,
                          .links = true};
    }
    QString Encryption() const override { return QStringLiteral("SSH"); }

    std::vector<RemoteEntry> List(const QString& folder) override {
        std::vector<RemoteEntry> out;
        for (const sftp::Entry& e : Translate([&] { return Live().List(folder); }))
            out.push_back(ToRemote(e));
        return out;
    }
    std::optional<RemoteEntry> Stat(const QString& path) override {
        const auto e = Translate([&] { return Live().Lstat(path); });
        return e ? std::optional<RemoteEntry>(ToRemote(*e)) : std::nullopt;
    }
    std::optional<std::uint64_t> Size(const QString& path) override {
        const auto e = Translate([&] { return Live().Stat(path); });
        return e && !e->isFolder ? std::optional<std::uint64_t>(e->size) : std::nullopt;
    }
    void MakeFolder(const QString& path) override {
        Translate([&] { Live().MakeFolder(path); });
    }
    void Rename(const QString& from, const QString& to) override {
        Translate([&] { Live().Rename(from, to); });
    }
    void DeleteFile(const QString& path) override {
        Translate([&] { Live().RemoveFile(path); });
    }
    void Replace(const QString& from, const QString& to) override {
        Translate([&] { Live().RenameOver(from, to); });
    }
    bool LeadsToFolder(const QString& path) override {
        const auto e = Translate([&] { return Live().Stat(path); });
        return e && e->isFolder;
    }
    void DeleteFolder(const QString& path) override {
        Translate([&] { Live().RemoveFolder(path); });
    }
    std::unique_ptr<RemoteReader> OpenRead(const QString& path, std::uint64_t offset) override {
        auto file = Translate([&] { return Live().Open(path, sftp::OpenMode::Read, offset); });
        return std::make_unique<SftpReader>(m_session, std::move(file));
    }
    std::unique_ptr<RemoteWriter> OpenWrite(const QString& path, WriteStart start,
                                            std::uint64_t offset) override {
        const auto mode = start == WriteStart::New     ? sftp::OpenMode::CreateExclusive
                          : start == WriteStart::Fresh ? sftp::OpenMode::Truncate
                                                       : sftp::OpenMode::AtOffset;
        auto file = Translate(
            [&] { return Live().Open(path, mode, start == WriteStart::AtOffset ? offset : 0); });
        return std::make_unique<SftpWriter>(m_session, std::move(file));
    }
    QString HomeFolder() override {
        return Translate([&] { return Live().RealPath(QStringLiteral(".")); });
    }

    // A step cut off by a stop leaves the session unusable: whether it had gone
    // out is not known. The next call makes the session afresh.
    bool OutcomeUnknown() const override { return m_session->Broken(); }
    bool Usable() const override { return !m_dead; }

private:
    sftp::Session& Live();

    SftpLogin m_login;
    sftp::LoginOptions m_options;
    sftp::HostKey m_key; // the key the user accepted
    std::shared_ptr<sftp::Session> m_session;
    bool m_dead = false; // a fresh session could not be made
};

// A session cut off (a Cancel inside a step, a dropped connection) is made
// afresh once, quietly, with the key accepted before; the same key or nothing.
sftp::Session& SftpRemote::Live() {
    if (!m_session->Broken())
        return *m_session;
    auto fresh = std::make_shared<sftp::Session>(m_login.timeouts);
    try {
        const sftp::HostKey key =
            fresh->Connect(m_login.host, m_login.port, KnownHostsPath(m_login));
        if (key.blob != m_key.blob)
            throw sftp::Error(sftp::Error::Kind::Refused,
                              QStringLiteral("The server's host key changed while connected."));
        fresh->Login(m_options);
    } catch (const sftp::Error& e) {
        if (e.kind() == sftp::Error::Kind::Cancelled)
            throw;
        m_dead = true;
        throw sftp::Error(sftp::Error::Kind::Lost,
                          QStringLiteral("The connection to the server was lost and could not "
                                         "be made again: %1")
                              .arg(e.words()));
    }
    m_session = std::move(fresh);
    m_dead = false;
    return *m_session;
}

sftp::LoginOptions OptionsFor(const SftpLogin& login, PassphraseQuestion askPassphrase,
                              PromptQuestion askPrompt) {
    sftp::LoginOptions o = sftp::LoginOptions::Defaults(login.user, login.password);
    if (login.keyFolder)
        o.keyFolder = *login.keyFolder;
    if (login.agentSocket)
        o.agentSocket = *login.agentSocket;
    o.passphrase = std::move(askPassphrase);
    o.prompt = std::move(askPrompt);
    return o;
}

// The host key, checked and answered before any login goes out.
void Vet(const SftpLogin& login, const sftp::HostKey& key, const HostKeyQuestion& ask) {
    const sftp::KnownHosts known(KnownHostsPath(login));
    const sftp::HostKeyCheck check = known.Check(login.host, login.port, key);
    const QString name = sftp::KnownHostName(login.host, login.port);
    if (check.status == sftp::HostKeyStatus::Known)
        return;
    if (check.status == sftp::HostKeyStatus::Changed)
        throw HostKeyChanged(check, ChangedWarning(check, name));
    const HostKeyAnswer answer = ask ? ask(check) : HostKeyAnswer::Cancel;
    if (answer == HostKeyAnswer::Cancel)
        throw RemoteError(RemoteError::Kind::Cancelled,
                          QStringLiteral("The host key of %1 was not accepted.").arg(name));
    if (answer == HostKeyAnswer::Remember) {
        const bool hashed = sftp::HashKnownHosts(
            login.host, login.sshConfigFiles.value_or(sftp::DefaultSshConfigFiles()));
        if (!known.Remember(login.host, login.port, key, hashed))
            throw RemoteError(
                RemoteError::Kind::Refused,
                QStringLiteral("The host key could not be written to %1.").arg(known.Path()));
    }
}

} // namespace

bool ParseSftpAddress(const QString& address, QString& host, int& port) {
    if (!address.startsWith(QStringLiteral("sftp://"), Qt::CaseInsensitive))
        return false;
    const QUrl url(address.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() ||
        (!url.path().isEmpty() && url.path() != QStringLiteral("/")))
        return false;
    host = url.host();
    port = url.port(22);
    return port > 0;
}

std::unique_ptr<RemoteConnection> ConnectSftp(const SftpLogin& login, HostKeyQuestion askHostKey,
                                              PassphraseQuestion askPassphrase,
                                              PromptQuestion askPrompt) {
    if (login.user.isEmpty() ||
        login.user.compare(QStringLiteral("anonymous"), Qt::CaseInsensitive) == 0)
        throw RemoteError(RemoteError::Kind::Refused,
                          QStringLiteral("An SFTP site has no anonymous login: enter a user "
                                         "name in the profile."));
    auto session = std::make_shared<sftp::Session>(login.timeouts);
    const sftp::HostKey key =
        Translate([&] { return session->Connect(login.host, login.port, KnownHostsPath(login)); });
    Vet(login, key, askHostKey);
    sftp::LoginOptions options = OptionsFor(login, std::move(askPassphrase), std::move(askPrompt));
    Translate([&] { session->Login(options); });
    return std::make_unique<SftpRemote>(login, std::move(options), key, std::move(session));
}

} // namespace core
