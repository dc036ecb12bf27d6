#include "TlsServer.h"

#include "FtpServerConfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The account and PAM service that scripts/setup-test-servers.sh provides.
// The same virtual-user login as the plain vsftpd fixture (FtpServerConfig):
// checked by our PAM service alone, run as the locked guest account.
constexpr const char* kGuestAccount = "velmarftp";
constexpr const char* kPamService = "velmar-ftp-virtual";

QString& ErrorText() {
    static QString text;
    return text;
}

QTemporaryDir& CertDir() {
    static QTemporaryDir dir;
    return dir;
}

// Runs openssl with its errors into errorFile; true when it ended well within
// 30 s. Spawned, not run by QProcess: QProcess clones the threaded test
// program, which upsets ThreadSanitizer's own bookkeeping of the parent.
bool RunOpenSsl(const QStringList& args, const QByteArray& errorFile) {
    std::vector<std::string> storage{"openssl"};
    for (const QString& a : args)
        storage.push_back(QFile::encodeName(a).toStdString());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 2, errorFile.constData(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int failed = ::posix_spawnp(&pid, "openssl", &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool OpenSsl(const QStringList& args) {
    QTemporaryDir scratch;
    const QString errorFile = scratch.filePath(QStringLiteral("openssl.err"));
    if (!RunOpenSsl(args, QFile::encodeName(errorFile))) {
        QFile errors(errorFile);
        errors.open(QIODevice::ReadOnly);
        ErrorText() = "openssl " + args.join(' ') + ": " + QString::fromUtf8(errors.readAll());
        return false;
    }
    return true;
}

bool WriteText(const QString& path, const QByteArray& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

// A key and a self-signed certificate; an authority when ca is set.
bool MakeSelfSigned(const QString& base, const QString& cn, bool ca, int days) {
    QStringList args = {"req",
                        "-x509",
                        "-newkey",
                        "rsa:2048",
                        "-nodes",
                        "-keyout",
                        base + ".key",
                        "-out",
                        base + ".pem",
                        "-days",
                        QString::number(days),
                        "-subj",
                        "/CN=" + cn};
    if (!ca)
        args << "-addext"
             << "subjectAltName=IP:127.0.0.1,DNS:localhost";
    return OpenSsl(args);
}

// A key and a certificate for the names in san, signed by the authority at ca.
bool MakeSigned(const QString& base, const QString& ca, const QString& san, int days) {
    const QString ext = base + ".ext";
    return WriteText(ext, ("subjectAltName=" + san + "\n").toUtf8()) &&
           OpenSsl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key", "-out",
                    base + ".csr", "-subj", "/CN=Velmar test server"}) &&
           OpenSsl({"x509", "-req", "-in", base + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
                    "-CAcreateserial", "-out", base + ".pem", "-days", QString::number(days),
                    "-extfile", ext});
}

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

// vsftpd's sessions lead sessions of their own: found as descendants in /proc.
std::vector<pid_t> Descendants(pid_t root) {
    std::vector<std::pair<pid_t, pid_t>> parentOf;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = pid_t(entry.toInt(&ok));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!ok || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
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

} // namespace

bool TestCertificates::Prepare() {
    static bool ready = false;
    if (ready)
        return true;
    const QString dir = CertDir().path();
    if (!MakeSelfSigned(dir + "/ca", QStringLiteral("Velmar Test CA"), true, 3650) ||
        !MakeSelfSigned(dir + "/other-ca", QStringLiteral("Velmar Unknown CA"), true, 3650))
        return false;
    qputenv("SSL_CERT_FILE", QFile::encodeName(dir + "/ca.pem"));
    qputenv("SSL_CERT_DIR", QFile::encodeName(dir + "/no-such-folder"));
    ready = true;
    return true;
}

TestCertificate TestCertificates::Make(Kind kind) {
    static int serial = 0;
    const QString dir = CertDir().path();
    const QString base = dir + QStringLiteral("/leaf%1").arg(++serial);
    const QString local = QStringLiteral("IP:127.0.0.1,DNS:localhost");
    bool ok = false;
    switch (kind) {
    case Kind::Trusted:
        ok = MakeSigned(base, dir + "/ca", local, 30);
        break;
    case Kind::SelfSigned:
        ok = MakeSelfSigned(base, QStringLiteral("127.0.0.1"), false, 30);
        break;
    case Kind::OtherName:
        ok = MakeSigned(base, dir + "/ca", QStringLiteral("DNS:ftp.example.org"), 30);
        break;
    case Kind::Expired:
        ok = MakeSigned(base, dir + "/ca", local, -1);
        break;
    case Kind::UnknownIssuer:
        ok = MakeSigned(base, dir + "/other-ca", local, 30);
        break;
    }
    if (!ok)
        return {};
    ::chmod(QFile::encodeName(base + ".key").constData(), 0644); // read by pyftpdlib's user
    return {base + ".pem", base + ".key"};
}

const QString& TestCertificates::Error() {
    return ErrorText();
}

TlsServer::TlsServer(Kind kind, const TestCertificate& certificate, const QString& fault,
                     unsigned short port)
    : m_kind(kind), m_fault(fault), m_fixedPort(port) {
    if (!m_root.isValid() || !m_work.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    if (m_kind == Kind::VsftpdImplicit)
        m_fixedPort = 990;
    if (m_fixedPort == 990) {
        m_portLock = ::open("/tmp/velmar-test-port-990.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_portLock < 0 || ::flock(m_portLock, LOCK_EX) != 0) {
            m_error = QStringLiteral("cannot lock port 990");
            return;
        }
    }
    ::chmod(QFile::encodeName(m_root.path()).constData(), 0777);
    if (IsVsftpd()) {
        m_user = VsftpdVirtualUser();
        m_password = VsftpdVirtualPassword();
    } else {
        m_user = QStringLiteral("velmar");
        m_password = QStringLiteral("s3cret pass");
    }
    for (int attempt = 0; attempt < 3 && !IsRunning(); ++attempt)
        Start(certificate);
}

TlsServer::~TlsServer() {
    Stop();
    if (m_portLock >= 0)
        ::close(m_portLock); // the next implicit server may start
}

bool TlsServer::WriteFile(const QString& relative, const QByteArray& data) const {
    return WriteText(PathOf(relative), data) &&
           ::chmod(QFile::encodeName(PathOf(relative)).constData(), 0666) == 0;
}

bool TlsServer::MakeDir(const QString& relative) const {
    return QDir().mkpath(PathOf(relative)) &&
           ::chmod(QFile::encodeName(PathOf(relative)).constData(), 0777) == 0;
}

QByteArray TlsServer::ReadFile(const QString& relative) const {
    QFile f(PathOf(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList TlsServer::Commands() const {
    QFile f(m_work.path() + "/commands.txt");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

QStringList TlsServer::RecordedCommands() const {
    QStringList commands = Commands();
    for (int i = 0; i < 100 && commands.isEmpty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        commands = Commands();
    }
    return commands;
}

QString TlsServer::Log() const {
    QString text;
    for (const char* name : {"/server.log", "/vsftpd.log"}) {
        QFile f(m_work.path() + name);
        if (f.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(f.readAll());
    }
    return text;
}

bool TlsServer::WriteVsftpdConfig(const TestCertificate& certificate, QString* path) {
    const QString work = m_work.path();
    const QString empty = work + "/empty";
    QDir().mkpath(empty);
    ::chmod(QFile::encodeName(empty).constData(), 0755);
    ::chmod(QFile::encodeName(work).constData(), 0755);
    const QStringList lines = {
        "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1",
        QStringLiteral("listen_port=%1").arg(m_port), "background=NO", "local_enable=YES",
        "guest_enable=YES", QStringLiteral("guest_username=%1").arg(kGuestAccount),
        "virtual_use_local_privs=YES", QStringLiteral("pam_service_name=%1").arg(kPamService),
        "userlist_enable=NO", "local_root=" + m_root.path(), "chroot_local_user=YES",
        "allow_writeable_chroot=YES", "write_enable=YES", "local_umask=022", "anonymous_enable=NO",
        "secure_chroot_dir=" + empty, "seccomp_sandbox=NO", "isolate=NO", "isolate_network=NO",
        "utf8_filesystem=YES", "port_enable=YES", "pasv_enable=YES", "connect_from_port_20=NO",
        "dirmessage_enable=NO", "xferlog_enable=NO", "use_localtime=NO", "max_clients=0",
        "max_per_ip=0", "vsftpd_log_file=" + work + "/vsftpd.log",
        // What the tests are about: TLS for everything, and data connections
        // that must resume the control connection's session.
        "ssl_enable=YES", "rsa_cert_file=" + certificate.certFile,
        "rsa_private_key_file=" + certificate.keyFile, "require_ssl_reuse=YES",
        "force_local_logins_ssl=YES", "force_local_data_ssl=YES", "ssl_ciphers=HIGH",
        "debug_ssl=YES",
        QStringLiteral("implicit_ssl=%1").arg(m_kind == Kind::VsftpdImplicit ? "YES" : "NO")};
    *path = work + "/vsftpd.conf";
    return WriteText(*path, lines.join('\n').toUtf8() + '\n');
}

bool TlsServer::Start(const TestCertificate& certificate) {
    m_port = m_fixedPort ? m_fixedPort : FreePort();
    QStringList args;
    if (IsVsftpd()) {
        QString config;
        if (!WriteVsftpdConfig(certificate, &config)) {
            m_error = QStringLiteral("cannot write the vsftpd configuration");
            return false;
        }
        args = {QStringLiteral("/usr/sbin/vsftpd"), config};
    } else {
        args = {QStringLiteral("/usr/bin/python3"),
                QStringLiteral(VELMAR_SOURCE_DIR "/tests/tls/pyftpd_tls_server.py"),
                "--root",
                m_root.path(),
                "--port",
                QString::number(m_port),
                "--user",
                m_user,
                "--password",
                m_password,
                "--record",
                m_work.path() + "/commands.txt"};
        if (m_kind == Kind::Pyftpdlib)
            args << "--cert" << certificate.certFile << "--key" << certificate.keyFile;
        if (!m_fault.isEmpty())
            args << "--fault" << m_fault;
    }
    if (!Spawn(args))
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            break;
        }
        if (PortAccepts(m_port))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_error = QStringLiteral("the server did not start: ") + Log();
    Stop();
    return false;
}

bool TlsServer::Spawn(const QStringList& args) {
    // Spawned, never forked: a fork copies a process whose other threads (Qt's,
    // the test's workers) may hold locks, and ThreadSanitizer refuses such a
    // child. setpriv gives the child the parent-death signal that a forked child
    // would set itself, so no server outlives a crashed test.
    QStringList command = {QStringLiteral("/usr/bin/setpriv"), QStringLiteral("--pdeathsig"),
                           QStringLiteral("KILL"), QStringLiteral("--")};
    command += args;
    std::vector<std::string> storage;
    for (const QString& a : command)
        storage.push_back(QFile::encodeName(a).toStdString());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const QByteArray logPath = QFile::encodeName(m_work.path() + "/server.log");
    const int log = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    if (log >= 0) {
        ::posix_spawn_file_actions_adddup2(&actions, log, 1);
        ::posix_spawn_file_actions_adddup2(&actions, log, 2);
    }
    // Its own group, so that a kill of the group reaches every session process.
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (log >= 0)
        ::close(log);
    if (failed != 0) {
        m_error = QStringLiteral("cannot start %1: %2")
                      .arg(QString::fromUtf8(argv[0]), QString::fromUtf8(std::strerror(failed)));
        return false;
    }
    m_pid = pid;
    return true;
}

void TlsServer::Stop() {
    if (m_pid <= 0)
        return;
    for (pid_t pid : Descendants(m_pid))
        ::kill(pid, SIGKILL);
    ::kill(-m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}
