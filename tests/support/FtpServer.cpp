#include "FtpServer.h"

#include "FtpServerConfig.h"
#include "Spawned.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <arpa/inet.h>
#include <cerrno>
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
    addr.sin_port = 0;
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

} // namespace

FtpServer::FtpServer(Kind kind, Options options) : m_kind(kind), m_options(options) {
    m_root = std::make_unique<QTemporaryDir>();
    m_work = std::make_unique<QTemporaryDir>();
    if (!m_root->isValid() || !m_work->isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    // The vsftpd session runs as its own account, not as the test's user.
    ::chmod(QFile::encodeName(m_root->path()).constData(), 0777);
    if (m_kind == Kind::Pyftpdlib) {
        m_user = QStringLiteral("velmar");
        m_password = QStringLiteral("s3cret pass");
    } else if (m_kind == Kind::Vsftpd) {
        m_user = VsftpdVirtualUser();
        m_password = VsftpdVirtualPassword();
    } else if (m_kind == Kind::PureFtpd || m_kind == Kind::Proftpd) {
        m_user = QStringLiteral("velmar");
        m_password = RandomPassword();
    }
    for (int attempt = 0; attempt < 3 && !IsRunning(); ++attempt)
        Start(); // a port taken between probing and binding: try another
}

FtpServer::~FtpServer() {
    Stop();
}

const char* FtpServer::KindName(Kind kind) {
    switch (kind) {
    case Kind::Vsftpd:
        return "vsftpd";
    case Kind::Pyftpdlib:
        return "pyftpdlib";
    case Kind::Silent:
        return "silent";
    case Kind::PureFtpd:
        return "pureftpd";
    case Kind::Proftpd:
        return "proftpd";
    }
    return "?";
}

QString FtpServer::Address() const {
    return Host() + QLatin1Char(':') + QString::number(m_port);
}

QString FtpServer::BadUser() const {
    return m_user;
}

QString FtpServer::BadPassword() const {
    return QStringLiteral("wrong password");
}

QString FtpServer::Root() const {
    return m_root->path();
}

QString FtpServer::PathOf(const QString& relative) const {
    return m_root->path() + QLatin1Char('/') + relative;
}

bool FtpServer::WriteFile(const QString& relative, const QByteArray& data) const {
    const QString path = PathOf(relative);
    if (!WriteTextFile(path, data))
        return false;
    return ::chmod(QFile::encodeName(path).constData(), 0666) == 0;
}

bool FtpServer::MakeDir(const QString& relative) const {
    const QString path = PathOf(relative);
    return QDir().mkpath(path) && ::chmod(QFile::encodeName(path).constData(), 0777) == 0;
}

QByteArray FtpServer::ReadFile(const QString& relative) const {
    QFile f(PathOf(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

FtpServerLaunch FtpServer::Launch() const {
    const FtpServerSetup setup{m_root->path(), m_work->path(), m_port,
                               m_options,      m_user,         m_password};
    switch (m_kind) {
    case Kind::Vsftpd:
        return VsftpdLaunch(setup);
    case Kind::PureFtpd:
        return PureFtpdLaunch(setup);
    case Kind::Proftpd:
        return ProftpdLaunch(setup);
    case Kind::Pyftpdlib:
    case Kind::Silent:
        break;
    }
    return PyftpdlibLaunch(setup, m_kind == Kind::Silent);
}

bool FtpServer::Start() {
    m_port = FreePort();
    if (m_port == 0) {
        m_error = QStringLiteral("no free port");
        return false;
    }
    return StartOnPort();
}

bool FtpServer::Restart() {
    Kill();
    // The port may linger a moment after the kill (every server here binds with
    // SO_REUSEADDR, so TIME_WAIT is no obstacle).
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (StartOnPort())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

bool FtpServer::StartOnPort() {
    const FtpServerLaunch launch = Launch();
    if (launch.args.isEmpty()) {
        m_error = launch.error;
        return false;
    }
    const QStringList& args = launch.args;
    if (!StartProcess(args))
        return false;
    if (WaitForPort(15000))
        return true;
    QFile log(m_work->path() + QStringLiteral("/server.log"));
    m_error = QStringLiteral("%1 did not start: ").arg(KindName(m_kind));
    if (log.open(QIODevice::ReadOnly))
        m_error += QString::fromUtf8(log.readAll());
    Stop();
    return false;
}

bool FtpServer::StartProcess(const QStringList& args) {
    int failed = 0;
    const pid_t pid =
        SpawnLogged(args, m_work->path() + QStringLiteral("/server.log"), false, &failed);
    if (pid <= 0) {
        m_error = QStringLiteral("cannot start %1: %2")
                      .arg(args.value(0), QString::fromUtf8(std::strerror(failed)));
        return false;
    }
    m_pid = pid;
    return true;
}

bool FtpServer::WaitForPort(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        if (PortAccepts(m_port))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// vsftpd makes each session the leader of a session of its own, so the process
// group does not reach them: they are found as descendants through /proc.
static std::vector<pid_t> Descendants(pid_t root) {
    std::vector<std::pair<pid_t, pid_t>> parentOf; // (pid, ppid)
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = pid_t(entry.toInt(&ok));
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')'); // the name may hold spaces
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (fields.size() > 1)
            parentOf.emplace_back(pid, pid_t(fields[1].toInt()));
    }
    std::vector<pid_t> found{root};
    for (std::size_t i = 0; i < found.size(); ++i)
        for (const auto& [pid, ppid] : parentOf)
            if (ppid == found[i])
                found.push_back(pid);
    return found;
}

void FtpServer::Kill() {
    if (m_pid <= 0)
        return;
    for (pid_t pid : Descendants(m_pid))
        ::kill(pid, SIGKILL);
    ::kill(-m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

void FtpServer::Freeze(bool frozen) {
    if (m_pid <= 0)
        return;
    // Only the processes that do the work (those without children): a stopped
    // vsftpd parent would take its session for broken once it runs again.
    const std::vector<pid_t> family = Descendants(m_pid);
    for (pid_t pid : family) {
        bool parent = false;
        for (pid_t other : Descendants(pid))
            parent = parent || other != pid;
        if (!parent)
            ::kill(pid, frozen ? SIGSTOP : SIGCONT);
    }
}

void FtpServer::Stop() {
    if (m_pid <= 0)
        return;
    for (pid_t pid : Descendants(m_pid))
        ::kill(pid, SIGTERM);
    ::kill(-m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            ::kill(-m_pid, SIGKILL); // session processes left behind by the listener
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Kill();
}
