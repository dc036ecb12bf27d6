#include "SshServer.h"

#include "Spawned.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStringList>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

unsigned short FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    unsigned short port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

bool PortAccepts(unsigned short port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// Output appended to log, the process its own group's leader. -1 on failure.
pid_t Spawn(const QStringList& args, const QString& log) {
    return SpawnLogged(args, log, true);
}

void KillGroup(pid_t& pid) {
    if (pid <= 0)
        return;
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

// Runs program to its end, spawned: a QProcess's clone leaves ThreadSanitizer
// blind to the later locks of the test's threads, which then read as races. Its
// output (stdout and stderr together).
QString Run(const QString& program, const QStringList& args, bool* ok = nullptr) {
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("output"));
    const pid_t pid =
        SpawnLogged(QStringList{QStandardPaths::findExecutable(program)} + args, log, false);
    int status = 0;
    const bool done = pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
                      WEXITSTATUS(status) == 0;
    if (ok)
        *ok = done;
    QFile output(log);
    return output.open(QIODevice::ReadOnly) ? QString::fromUtf8(output.readAll()) : QString();
}

QString ReadText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
}

bool WriteText(const QString& path, const QString& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size();
}

QString CurrentUser() {
    const passwd* pw = ::getpwuid(::geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
}

} // namespace

SshServer::SshServer(Kind kind, Options options) : m_kind(kind), m_options(options) {
    m_root = std::make_unique<QTemporaryDir>();
    m_work = std::make_unique<QTemporaryDir>();
    m_user = CurrentUser();
    m_password = QString::number(QRandomGenerator::global()->generate64(), 36);
    if (!m_root->isValid() || !m_work->isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    if (!MakeKey(m_work->filePath(QStringLiteral("host_key")), QStringLiteral("ed25519")) ||
        !MakeKey(ClientKey(), QStringLiteral("ed25519"))) {
        m_error = QStringLiteral("ssh-keygen failed");
        return;
    }
    // A free port may be taken by another test between the look and the bind:
    // a server that ends at once is started again on another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = FreePort();
        const bool started = m_kind == Kind::OpenSsh ? StartOpenSsh() : StartAsyncSsh();
        if (!started)
            return;
        if (WaitForPort(15000))
            return;
        m_error = QStringLiteral("the SSH server did not start: ") + QString::fromUtf8(Log());
        KillGroup(m_pid);
        m_pid = -1;
    }
}

SshServer::~SshServer() {
    KillGroup(m_pid);
    KillGroup(m_agentPid);
}

bool SshServer::StartOpenSsh() {
    const QString base = QStringLiteral(VELMAR_SERVERS_DIR "/openssh");
    const QString sshd = base + QStringLiteral("/usr/sbin/sshd");
    if (!QFile::exists(sshd)) {
        m_error = QStringLiteral("no sshd in %1: run scripts/fetch-test-servers").arg(base);
        return false;
    }
    // As root, sshd separates privileges into the "sshd" account and this empty
    // folder; scripts/fetch-test-servers makes the account.
    if (::geteuid() == 0)
        ::mkdir("/run/sshd", 0755);
    const QString keys = m_work->filePath(QStringLiteral("authorized_keys"));
    QFile::copy(ClientKey() + QStringLiteral(".pub"), keys);
    const QString config = QStringLiteral("ListenAddress 127.0.0.1\nPort %1\nHostKey %2\n"
                                          "UsePAM no\nStrictModes no\nPermitRootLogin yes\n"
                                          "AuthorizedKeysFile %3\nPidFile none\n"
                                          "Subsystem sftp %4\nLogLevel VERBOSE\n")
                               .arg(m_port)
                               .arg(m_work->filePath(QStringLiteral("host_key")), keys,
                                    base + QStringLiteral("/usr/lib/openssh/sftp-server"));
    const QString configPath = m_work->filePath(QStringLiteral("sshd_config"));
    const QString ecdsaKey = m_work->filePath(QStringLiteral("host_key_ecdsa"));
    if (m_options.ecdsaHostKey && !MakeKey(ecdsaKey, QStringLiteral("ecdsa"))) {
        m_error = QStringLiteral("ssh-keygen failed");
        return false;
    }
    WriteText(configPath, m_options.ecdsaHostKey
                              ? config + QStringLiteral("HostKey %1\n").arg(ecdsaKey)
                              : config);
    m_pid =
        Spawn({sshd, QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), configPath},
              m_work->filePath(QStringLiteral("server.log")));
    if (m_pid <= 0)
        m_error = QStringLiteral("cannot start sshd");
    return m_pid > 0;
}

bool SshServer::StartAsyncSsh() {
    QStringList args = {QStringLiteral("/usr/bin/python3"),
                        QStringLiteral(VELMAR_SOURCE_DIR "/tests/support/asyncssh_server.py"),
                        QStringLiteral("--port"),
                        QString::number(m_port),
                        QStringLiteral("--root"),
                        m_root->path(),
                        QStringLiteral("--host-key"),
                        m_work->filePath(QStringLiteral("host_key")),
                        QStringLiteral("--user"),
                        m_user,
                        QStringLiteral("--password"),
                        m_password,
                        QStringLiteral("--methods"),
                        m_options.methods,
                        QStringLiteral("--drop-after"),
                        QString::number(m_options.dropAfter),
                        QStringLiteral("--stall-after"),
                        QString::number(m_options.stallAfter),
                        QStringLiteral("--read-cap"),
                        QString::number(m_options.readCap),
                        QStringLiteral("--refuse-after"),
                        QString::number(m_options.refuseAfter),
                        QStringLiteral("--count-file"),
                        m_work->filePath(QStringLiteral("moved"))};
    if (m_options.hostileNames)
        args << QStringLiteral("--hostile-names");
    if (m_options.dropOnce)
        args << QStringLiteral("--drop-once");
    if (m_options.awayAfterDropMs)
        args << QStringLiteral("--away-after-drop")
             << QString::number(
                    *m_options.awayAfterDropMs < 0 ? -1.0 : *m_options.awayAfterDropMs / 1000.0);
    m_pid = Spawn(args, m_work->filePath(QStringLiteral("server.log")));
    if (m_pid <= 0)
        m_error = QStringLiteral("cannot start asyncssh_server.py");
    return m_pid > 0;
}

bool SshServer::WaitForPort(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        if (PortAccepts(m_port))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

QString SshServer::Root() const {
    return m_kind == Kind::AsyncSsh ? QStringLiteral("/") : m_root->path();
}

QString SshServer::ClientKey() const {
    return m_work->filePath(QStringLiteral("id_ed25519"));
}

QString SshServer::HostKeyLine(const QString& file) const {
    const QStringList parts =
        ReadText(m_work->filePath(file + QStringLiteral(".pub"))).split(QLatin1Char(' '));
    return parts.size() >= 2 ? parts[0] + QLatin1Char(' ') + parts[1] : QString();
}

QString SshServer::HostFingerprint() const {
    const QString out =
        Run(QStringLiteral("ssh-keygen"),
            {QStringLiteral("-l"), QStringLiteral("-E"), QStringLiteral("sha256"),
             QStringLiteral("-f"), m_work->filePath(QStringLiteral("host_key.pub"))});
    const QStringList parts = out.split(QLatin1Char(' '));
    return parts.size() >= 2 ? parts[1] : QString();
}

QByteArray SshServer::Log() const {
    QFile f(m_work->filePath(QStringLiteral("server.log")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

SshServer::Moved SshServer::FileBytesMoved() const {
    // "read N written M"
    const QStringList words =
        ReadText(m_work->filePath(QStringLiteral("moved"))).split(QLatin1Char(' '));
    Moved moved;
    if (words.size() >= 4) {
        moved.read = words[1].toLongLong();
        moved.written = words[3].trimmed().toLongLong();
    }
    return moved;
}

QString SshServer::AgentSocket() {
    const QString socket = m_work->filePath(QStringLiteral("agent.sock"));
    if (m_agentPid > 0)
        return socket;
    // A copy without the packaged one's set-group-ID bit, which would clear the
    // parent-death signal and let the agent outlive a crashed test.
    const QString agent = m_work->filePath(QStringLiteral("ssh-agent"));
    QFile::copy(QStringLiteral("/usr/bin/ssh-agent"), agent);
    m_agentPid = Spawn({agent, QStringLiteral("-D"), QStringLiteral("-a"), socket},
                       m_work->filePath(QStringLiteral("agent.log")));
    // The agent takes a moment to listen; ssh-add fails until it does.
    for (int i = 0; i < 100 && !AddToAgent(ClientKey()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return socket;
}

bool SshServer::AddToAgent(const QString& key) {
    bool ok = false;
    Run(QStringLiteral("env"),
        {QStringLiteral("SSH_AUTH_SOCK=") + AgentSocket(),
         QStandardPaths::findExecutable(QStringLiteral("ssh-add")), key},
        &ok);
    return ok;
}

bool SshServer::ClearAgent() {
    bool ok = false;
    Run(QStringLiteral("env"),
        {QStringLiteral("SSH_AUTH_SOCK=") + AgentSocket(),
         QStandardPaths::findExecutable(QStringLiteral("ssh-add")), QStringLiteral("-D")},
        &ok);
    return ok;
}

bool SshServer::AuthorizeKey(const QString& publicKey) const {
    QFile from(publicKey);
    QFile to(m_work->filePath(QStringLiteral("authorized_keys")));
    return from.open(QIODevice::ReadOnly) && to.open(QIODevice::Append) &&
           to.write(from.readAll()) > 0;
}

bool SshServer::MakeKey(const QString& path, const QString& type, const QString& passphrase,
                        bool pem) {
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".pub"));
    bool ok = false;
    QStringList args{QStringLiteral("-q"),          QStringLiteral("-t"), type,
                     QStringLiteral("-N"),          passphrase,           QStringLiteral("-C"),
                     QStringLiteral("velmar-test"), QStringLiteral("-f"), path};
    if (pem)
        args << QStringLiteral("-m") << QStringLiteral("PEM");
    Run(QStringLiteral("ssh-keygen"), args, &ok);
    return ok;
}

QString SshServer::FindKnownHost(const QString& file, const QString& host) {
    return Run(QStringLiteral("ssh-keygen"),
               {QStringLiteral("-F"), host, QStringLiteral("-f"), file});
}
