#include "AgentView.h"
#include "SessionWait.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <climits>
#include <unistd.h>

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

namespace {

// Keys libssh has read, freed with their scope.
struct Key {
    ssh_key key = nullptr;
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() { ssh_key_free(key); }
    explicit operator bool() const { return key != nullptr; }
};

} // namespace

class LoginRun {
public:
    LoginRun(Session& session, const LoginOptions& options)
        : s(session), o(options), keyLimit(options.password.isEmpty() ? INT_MAX : 3) {}

    void Run();

private:
    bool Allowed(int method) const { return (methods & method) != 0; }
    // A refusal is the answer of a login attempt; anything else ends the login.
    void Note(int rc) {
        if (rc == SSH_AUTH_ERROR)
            s.FailSsh(QStringLiteral("The login failed"));
        done = done || rc == SSH_AUTH_SUCCESS;
    }
    template <class F> int Step(F call) { return s.AwaitSsh(call, s.m_timeouts.replyMs); }
    void TryAgent();
    void TryKeyFiles();
    void TryKeyFile(const QString& path);
    void TryPassword();
    void TryKeyboard();
    void AnswerPrompts();
    QString MethodNames() const;

    Session& s;
    const LoginOptions& o;
    const int keyLimit;
    int keysTried = 0;
    int methods = 0;
    bool done = false;
    bool passwordGiven = false;
    QStringList tried;
};

void LoginRun::TryAgent() {
    if (o.agentSocket.isEmpty() || !Allowed(SSH_AUTH_METHOD_PUBLICKEY) || done)
        return;
    AgentView agent(o.agentSocket, keyLimit - keysTried);
    if (agent.Count() == 0)
        return;
    const int socket = agent.TakeSocket();
    if (ssh_set_agent_socket(s.m_session, socket) != SSH_OK) {
        ::close(socket);
        return;
    }
    const int rc = Step([&] { return ssh_userauth_agent(s.m_session, nullptr); });
    // libssh offers the keys in order and stops at the first that logs in.
    const int offered = rc == SSH_AUTH_SUCCESS ? agent.OfferedUpToSigned() : agent.Count();
    keysTried += offered;
    tried << QStringLiteral("publickey (%1 agent key%2)").arg(offered).arg(offered > 1 ? "s" : "");
    Note(rc);
}

void LoginRun::TryKeyFiles() {
    if (o.keyFolder.isEmpty() || !Allowed(SSH_AUTH_METHOD_PUBLICKEY))
        return;
    for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
        const QString path = o.keyFolder + QLatin1Char('/') + QLatin1String(name);
        if (!done && keysTried < keyLimit && QFile::exists(path))
            TryKeyFile(path);
    }
}

void LoginRun::TryKeyFile(const QString& path) {
    const QByteArray file = QFile::encodeName(path);
    // The public key goes first, so that a key the server does not take is never
    // unlocked and its passphrase never asked: from the ".pub" beside the key, or
    // from the key file, where OpenSSH's own format keeps it unencrypted.
    Key pub;
    Key priv;
    if (ssh_pki_import_pubkey_file((file + ".pub").constData(), &pub.key) != SSH_OK)
        ssh_pki_import_pubkey_file(file.constData(), &pub.key);
    // A PEM key alone: only an unlocked one can go, as it is.
    if (!pub && ssh_pki_import_privkey_file(file.constData(), nullptr, nullptr, nullptr,
                                            &priv.key) != SSH_OK)
        return;
    ++keysTried;
    tried << QStringLiteral("publickey (%1)")
                 .arg(QDir(o.keyFolder).dirName() + QLatin1Char('/') +
                      path.section(QLatin1Char('/'), -1));
    if (pub) {
        const int rc =
            Step([&] { return ssh_userauth_try_publickey(s.m_session, nullptr, pub.key); });
        Note(rc);
        if (rc != SSH_AUTH_SUCCESS)
            return;
        ssh_pki_import_privkey_file(file.constData(), nullptr, nullptr, nullptr, &priv.key);
    }
    for (int asked = 0; !priv && o.passphrase && asked < 3; ++asked) {
        const std::optional<QString> phrase = o.passphrase(path);
        if (!phrase)
            break;
        ssh_pki_import_privkey_file(file.constData(), phrase->toUtf8().constData(), nullptr,
                                    nullptr, &priv.key);
    }
    if (priv)
        Note(Step([&] { return ssh_userauth_publickey(s.m_session, nullptr, priv.key); }));
}

void LoginRun::TryPassword() {
    if (o.password.isEmpty() || !Allowed(SSH_AUTH_METHOD_PASSWORD) || done)
        return;
    tried << QStringLiteral("password");
    const QByteArray password = o.password.toUtf8();
    Note(Step([&] { return ssh_userauth_password(s.m_session, nullptr, password.constData()); }));
}

// One round of the server's questions: the password answers the first hidden
// one, the user the rest (an empty answer when declined).
void LoginRun::AnswerPrompts() {
    const int count = ssh_userauth_kbdint_getnprompts(s.m_session);
    for (int i = 0; i < count; ++i) {
        char echo = 0;
        const QString text =
            QString::fromUtf8(ssh_userauth_kbdint_getprompt(s.m_session, unsigned(i), &echo));
        std::optional<QString> answer;
        if (!echo && !passwordGiven && !o.password.isEmpty()) {
            answer = o.password;
            passwordGiven = true;
        } else if (o.prompt) {
            answer = o.prompt(text);
        }
        ssh_userauth_kbdint_setanswer(s.m_session, unsigned(i),
                                      answer.value_or(QString()).toUtf8().constData());
    }
}

void LoginRun::TryKeyboard() {
    if (!Allowed(SSH_AUTH_METHOD_INTERACTIVE) || done || (o.password.isEmpty() && !o.prompt))
        return;
    tried << QStringLiteral("keyboard-interactive");
    int rc = Step([&] { return ssh_userauth_kbdint(s.m_session, nullptr, nullptr); });
    // A server may ask several rounds; a dozen is past any real one.
    for (int round = 0; rc == SSH_AUTH_INFO && round < 12; ++round) {
        AnswerPrompts();
        rc = Step([&] { return ssh_userauth_kbdint(s.m_session, nullptr, nullptr); });
    }
    Note(rc == SSH_AUTH_INFO ? SSH_AUTH_DENIED : rc);
}

QString LoginRun::MethodNames() const {
    QStringList names;
    const std::pair<int, const char*> known[] = {
        {SSH_AUTH_METHOD_PUBLICKEY, "publickey"},
        {SSH_AUTH_METHOD_PASSWORD, "password"},
        {SSH_AUTH_METHOD_INTERACTIVE, "keyboard-interactive"},
        {SSH_AUTH_METHOD_HOSTBASED, "hostbased"},
        {SSH_AUTH_METHOD_GSSAPI_MIC, "gssapi-with-mic"},
    };
    for (const auto& [bit, name] : known)
        if (Allowed(bit))
            names << QLatin1String(name);
    return names.join(QStringLiteral(", "));
}

void LoginRun::Run() {
    const std::string user = o.user.toStdString();
    ssh_options_set(s.m_session, SSH_OPTIONS_USER, user.c_str());
    // "none" asks which methods the server offers; sshd does not count it.
    Note(Step([&] { return ssh_userauth_none(s.m_session, nullptr); }));
    methods = ssh_userauth_list(s.m_session, nullptr);
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
    if (done)
        return;
    throw Error(Error::Kind::Refused,
                tried.isEmpty()
                    ? QStringLiteral("The server refused the login: it offers %1, and none of "
                                     "them could be tried.")
                          .arg(MethodNames())
                    : QStringLiteral("The server refused the login. Tried: %1.").arg(s.m_tried));
}

void Session::Login(const LoginOptions& options) {
    EnsureUsable();
    LoginRun(*this, options).Run();
    StartSftp();
}

} // namespace sftp
