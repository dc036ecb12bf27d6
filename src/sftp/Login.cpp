#include "RsaSha2.h"
#include "SessionWait.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <climits>
#include <cstdlib>
#include <cstring>

// The logins, in the order ssh tries them: the agent's keys, the default key
// files, the password, keyboard-interactive. With a password to fall back on, at
// most three keys go first: sshd ends a login after six failed attempts.
namespace sftp {

LoginOptions LoginOptions::Defaults(const QString& user, const QString& password) {
    LoginOptions o;
    o.user = user;
    o.password = password;
    o.agentSocket = qEnvironmentVariable("SSH_AUTH_SOCK");
    o.keyFolder = QDir::homePath() + QStringLiteral("/.ssh");
    return o;
}

class LoginRun {
public:
    LoginRun(Session& session, const LoginOptions& options)
        : s(session), o(options), user(options.user.toStdString()),
          keyLimit(options.password.isEmpty() ? INT_MAX : 3) {}

    void Run();

private:
    bool Allowed(const char* method) const { return methods.contains(QLatin1String(method)); }
    bool Done() const { return libssh2_userauth_authenticated(s.m_session) != 0; }
    bool Failed(int rc);
    bool RsaSha2() const {
        const char* banner = libssh2_session_banner_get(s.m_session);
        return rsa::ServerReadsRenamedBlob(QByteArray(banner ? banner : ""));
    }
    void TryAgent();
    void TryKeyFiles();
    void TryKeyFile(const QString& path);
    void TryPassword();
    void TryKeyboard();
    static void Answer(const char*, int, const char*, int, int count,
                       const LIBSSH2_USERAUTH_KBDINT_PROMPT* prompts,
                       LIBSSH2_USERAUTH_KBDINT_RESPONSE* responses, void** abstract);

    Session& s;
    const LoginOptions& o;
    const std::string user;
    const int keyLimit;
    int keysTried = 0;
    bool passwordGiven = false;
    QStringList methods;
    QStringList tried;
};

// A refusal is the answer of a login attempt; anything else ends the login.
bool LoginRun::Failed(int rc) {
    if (rc == 0 || rc == LIBSSH2_ERROR_AUTHENTICATION_FAILED ||
        rc == LIBSSH2_ERROR_PUBLICKEY_UNVERIFIED || rc == LIBSSH2_ERROR_PASSWORD_EXPIRED ||
        rc == LIBSSH2_ERROR_FILE || rc == LIBSSH2_ERROR_AGENT_PROTOCOL ||
        rc == LIBSSH2_ERROR_METHOD_NOT_SUPPORTED)
        return rc != 0;
    s.Fail(rc, QStringLiteral("The login failed"));
}

void LoginRun::TryAgent() {
    if (o.agentSocket.isEmpty() || !Allowed("publickey"))
        return;
    LIBSSH2_AGENT* agent = libssh2_agent_init(s.m_session);
    const QByteArray socket = QFile::encodeName(o.agentSocket);
    libssh2_agent_set_identity_path(agent, socket.constData());
    int offered = 0;
    if (agent && libssh2_agent_connect(agent) == 0 && libssh2_agent_list_identities(agent) == 0) {
        libssh2_agent_publickey* identity = nullptr;
        libssh2_agent_publickey* previous = nullptr;
        while (!Done() && keysTried < keyLimit &&
               libssh2_agent_get_identity(agent, &identity, previous) == 0) {
            ++keysTried;
            ++offered;
            const QByteArray blob(reinterpret_cast<const char*>(identity->blob),
                                  qsizetype(identity->blob_len));
            const rsa::Signer sign = rsa::AgentSigner(o.agentSocket, blob);
            const bool sha2 = rsa::IsRsa(blob) && RsaSha2();
            Failed(s.Await(
                [&] {
                    return sha2 ? rsa::Login(s.m_session, user, blob, sign)
                                : libssh2_agent_userauth(agent, user.c_str(), identity);
                },
                s.m_timeouts.replyMs));
            previous = identity;
        }
        libssh2_agent_disconnect(agent);
    }
    if (agent)
        libssh2_agent_free(agent);
    if (offered > 0)
        tried << QStringLiteral("publickey (%1 agent key%2)")
                     .arg(offered)
                     .arg(offered > 1 ? "s" : "");
}

void LoginRun::TryKeyFiles() {
    if (o.keyFolder.isEmpty() || !Allowed("publickey"))
        return;
    for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
        const QString path = o.keyFolder + QLatin1Char('/') + QLatin1String(name);
        if (!Done() && keysTried < keyLimit && QFile::exists(path))
            TryKeyFile(path);
    }
}

void LoginRun::TryKeyFile(const QString& path) {
    ++keysTried;
    tried << QStringLiteral("publickey (%1)")
                 .arg(QDir(o.keyFolder).dirName() + QLatin1Char('/') +
                      path.section(QLatin1Char('/'), -1));
    const QByteArray priv = QFile::encodeName(path);
    const QByteArray pub = QFile::encodeName(path + QStringLiteral(".pub"));
    const bool hasPub = QFile::exists(path + QStringLiteral(".pub"));
    const std::optional<QByteArray> rsaBlob =
        RsaSha2() && rsa::CanSign(path) ? rsa::KeyFileBlob(path) : std::nullopt;
    auto attempt = [&](const QByteArray& passphrase) {
        const rsa::Signer sign = rsa::KeyFileSigner(path, passphrase);
        return s.Await(
            [&] {
                if (rsaBlob)
                    return rsa::Login(s.m_session, user, *rsaBlob, sign);
                return libssh2_userauth_publickey_fromfile_ex(
                    s.m_session, user.c_str(), unsigned(user.size()),
                    hasPub ? pub.constData() : nullptr, priv.constData(), passphrase.constData());
            },
            s.m_timeouts.replyMs);
    };
    int rc = attempt(QByteArray(""));
    // The public key goes first; a key the server accepts but that cannot sign
    // without its passphrase fails in the signing step (a key the server refuses
    // fails before it): only then is the passphrase asked for.
    auto locked = [](int code) {
        return code == LIBSSH2_ERROR_PUBLICKEY_UNVERIFIED || code == LIBSSH2_ERROR_FILE;
    };
    for (int asked = 0; locked(rc) && (hasPub || rsaBlob) && o.passphrase && asked < 3; ++asked) {
        const std::optional<QString> phrase = o.passphrase(path);
        if (!phrase)
            break;
        rc = attempt(phrase->toUtf8());
    }
    Failed(rc);
}

void LoginRun::TryPassword() {
    if (o.password.isEmpty() || !Allowed("password") || Done())
        return;
    tried << QStringLiteral("password");
    const QByteArray password = o.password.toUtf8();
    Failed(s.Await(
        [&] {
            return libssh2_userauth_password_ex(s.m_session, user.c_str(), unsigned(user.size()),
                                                password.constData(), unsigned(password.size()),
                                                nullptr);
        },
        s.m_timeouts.replyMs));
}

void LoginRun::Answer(const char*, int, const char*, int, int count,
                      const LIBSSH2_USERAUTH_KBDINT_PROMPT* prompts,
                      LIBSSH2_USERAUTH_KBDINT_RESPONSE* responses, void** abstract) {
    auto* run = static_cast<LoginRun*>(*abstract);
    for (int i = 0; i < count; ++i) {
        QByteArray answer;
        const QString text =
            QString::fromUtf8(reinterpret_cast<const char*>(prompts[i].text), prompts[i].length);
        if (!prompts[i].echo && !run->passwordGiven && !run->o.password.isEmpty()) {
            answer = run->o.password.toUtf8();
            run->passwordGiven = true;
        } else if (run->o.prompt) {
            answer = run->o.prompt(text).value_or(QString()).toUtf8();
        }
        responses[i].text = static_cast<char*>(std::malloc(std::size_t(answer.size()) + 1));
        std::memcpy(responses[i].text, answer.constData(), std::size_t(answer.size()) + 1);
        responses[i].length = unsigned(answer.size());
    }
}

void LoginRun::TryKeyboard() {
    if (!Allowed("keyboard-interactive") || Done() || (o.password.isEmpty() && !o.prompt))
        return;
    tried << QStringLiteral("keyboard-interactive");
    void** abstract = libssh2_session_abstract(s.m_session);
    void* saved = *abstract;
    *abstract = this;
    const int rc = s.Await(
        [&] {
            return libssh2_userauth_keyboard_interactive_ex(s.m_session, user.c_str(),
                                                            unsigned(user.size()), &Answer);
        },
        s.m_timeouts.replyMs);
    *abstract = saved;
    Failed(rc);
}

void LoginRun::Run() {
    const char* list = s.AwaitPtr(
        [&] { return libssh2_userauth_list(s.m_session, user.c_str(), unsigned(user.size())); },
        s.m_timeouts.replyMs);
    if (!list && !Done())
        s.Fail(libssh2_session_last_errno(s.m_session), QStringLiteral("The login failed"));
    methods = QString::fromLatin1(list ? list : "").split(QLatin1Char(','));
    try {
        TryAgent();
        TryKeyFiles();
        TryPassword();
        TryKeyboard();
    } catch (const Error& e) {
        // sshd closes the connection after too many attempts: a refusal too.
        if (e.kind() != Error::Kind::Lost || tried.isEmpty())
            throw;
    }
    s.m_tried = tried.join(QStringLiteral(", "));
    if (Done())
        return;
    throw Error(Error::Kind::Refused,
                tried.isEmpty()
                    ? QStringLiteral("The server refused the login: it offers %1, and none of "
                                     "them could be tried.")
                          .arg(methods.join(QStringLiteral(", ")))
                    : QStringLiteral("The server refused the login. Tried: %1.").arg(s.m_tried));
}

void Session::Login(const LoginOptions& options) {
    EnsureUsable();
    LoginRun(*this, options).Run();
    StartSftp();
}

} // namespace sftp
