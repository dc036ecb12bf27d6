#include "FtpServerConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <crypt.h>
#include <grp.h>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>

namespace {

// What scripts/setup-test-servers.sh leaves on the machine.
constexpr const char* kGuestAccount = "velmarftp";
constexpr const char* kVirtualUser = "velmar";
constexpr const char* kPamService = "velmar-ftp-virtual";
constexpr const char* kSecretsDir = "/etc/velmar-test-ftp";

QString Line(const char* key, const QString& value) {
    return QString::fromLatin1(key) + value;
}

FtpServerLaunch Refuse(const QString& error) {
    return FtpServerLaunch{{}, error};
}

// The options only pyftpdlib can act on; another server must not silently run a
// test as if it had them.
QString UnsupportedOption(const FtpServer::Options& options, const char* server, bool refusesActive,
                          bool idles = true) {
    if (options.refuseActive && !refusesActive)
        return QStringLiteral("%1 cannot refuse active mode here").arg(server);
    if (options.idleSeconds > 0 && !idles)
        return QStringLiteral("%1 has no idle time-out in seconds here").arg(server);
    if (options.blackholeActive || options.noMlsd || options.lateMs > 0)
        return QStringLiteral("%1 has no black-holed active mode, MLSD switch or late replies")
            .arg(server);
    return {};
}

// A SHA-512 crypt(3) hash, which pure-ftpd and proftpd both check quickly.
QByteArray CryptHash(const QString& password) {
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$6$", 0, nullptr, 0, salt, sizeof salt))
        return {};
    auto data = std::make_unique<crypt_data>(); // 32 KiB: not on the stack
    const char* hash = crypt_r(password.toUtf8().constData(), salt, data.get());
    if (!hash || hash[0] == '*')
        return {};
    return QByteArray(hash);
}

// The sessions of pure-ftpd and proftpd run as "nobody": Root() is open to all.
struct SessionIds {
    unsigned uid = 65534;
    unsigned gid = 65534;
};

SessionIds NobodyIds() {
    SessionIds ids;
    if (const passwd* pw = ::getpwnam("nobody")) {
        ids.uid = pw->pw_uid;
        ids.gid = pw->pw_gid;
    }
    return ids;
}

QString GroupName(unsigned gid) {
    const group* gr = ::getgrgid(gid);
    return gr ? QString::fromLocal8Bit(gr->gr_name) : QStringLiteral("nogroup");
}

} // namespace

bool WriteTextFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

QString RandomPassword() {
    static const char alphabet[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    QString text;
    for (int i = 0; i < 24; ++i)
        text += QLatin1Char(
            alphabet[QRandomGenerator::system()->bounded(static_cast<int>(sizeof alphabet - 1))]);
    return text;
}

QString UnpackedServersDir() {
    return QStringLiteral(VELMAR_SERVERS_DIR);
}

QString VsftpdVirtualUser() {
    return QString::fromLatin1(kVirtualUser);
}

QString VsftpdVirtualPassword() {
    QFile f(QStringLiteral("%1/password").arg(kSecretsDir));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readLine().trimmed());
}

FtpServerLaunch VsftpdLaunch(const FtpServerSetup& setup) {
    if (!::getpwnam(kGuestAccount) ||
        !QFileInfo::exists(QStringLiteral("/etc/pam.d/%1").arg(kPamService)) ||
        setup.password.isEmpty())
        return Refuse(QStringLiteral(
            "the vsftpd test login is missing: run scripts/setup-test-servers.sh as root"));
    const QString unsupported = UnsupportedOption(setup.options, "vsftpd", true);
    if (!unsupported.isEmpty())
        return Refuse(unsupported);
    const QString empty = setup.work + QStringLiteral("/empty");
    const QString anon = setup.work + QStringLiteral("/anonymous");
    QDir().mkpath(empty);
    QDir().mkpath(anon);
    // vsftpd demands roots that its sessions cannot write to, except for local
    // users when allow_writeable_chroot is set.
    for (const QString& dir : {empty, anon, setup.work})
        ::chmod(QFile::encodeName(dir).constData(), 0755);
    QStringList lines = {
        Line("listen=", QStringLiteral("YES")),
        Line("listen_ipv6=", QStringLiteral("NO")),
        Line("listen_address=", QStringLiteral("127.0.0.1")),
        Line("listen_port=", QString::number(setup.port)),
        Line("background=", QStringLiteral("NO")),
        // Every non-anonymous login is a virtual user checked by our PAM
        // service alone, and runs as the locked guest account: no system
        // account's password is ever asked here.
        Line("local_enable=", QStringLiteral("YES")),
        Line("guest_enable=", QStringLiteral("YES")),
        Line("guest_username=", QString::fromLatin1(kGuestAccount)),
        Line("virtual_use_local_privs=", QStringLiteral("YES")),
        Line("pam_service_name=", QString::fromLatin1(kPamService)),
        Line("userlist_enable=", QStringLiteral("NO")),
        Line("local_root=", setup.root),
        Line("chroot_local_user=", QStringLiteral("YES")),
        Line("allow_writeable_chroot=", QStringLiteral("YES")),
        Line("write_enable=", QStringLiteral("YES")),
        Line("local_umask=", QStringLiteral("022")),
        Line("anonymous_enable=", QStringLiteral("YES")),
        Line("anon_root=", anon),
        Line("no_anon_password=", QStringLiteral("YES")),
        Line("secure_chroot_dir=", empty),
        // Containers refuse the sandbox's seccomp filter and namespaces.
        Line("seccomp_sandbox=", QStringLiteral("NO")),
        Line("isolate=", QStringLiteral("NO")),
        Line("isolate_network=", QStringLiteral("NO")),
        Line("utf8_filesystem=", QStringLiteral("YES")),
        Line("port_enable=",
             setup.options.refuseActive ? QStringLiteral("NO") : QStringLiteral("YES")),
        Line("pasv_enable=", QStringLiteral("YES")),
        Line("connect_from_port_20=", QStringLiteral("NO")),
        Line("dirmessage_enable=", QStringLiteral("NO")),
        Line("xferlog_enable=", QStringLiteral("NO")),
        Line("use_localtime=", QStringLiteral("NO")),
        Line("max_clients=", QStringLiteral("0")),
        Line("max_per_ip=", QString::number(setup.options.maxPerIp)),
        Line("vsftpd_log_file=", setup.work + QStringLiteral("/vsftpd.log")),
        // The tests try wrong passwords on purpose; the pause only slows them.
        Line("delay_failed_login=", QStringLiteral("0")),
    };
    if (setup.options.idleSeconds > 0)
        lines << Line("idle_session_timeout=", QString::number(setup.options.idleSeconds));
    const QString config = setup.work + QStringLiteral("/vsftpd.conf");
    if (!WriteTextFile(config, lines.join(QLatin1Char('\n')).toUtf8() + '\n'))
        return Refuse(QStringLiteral("cannot write the vsftpd configuration"));
    return FtpServerLaunch{{QStringLiteral("/usr/sbin/vsftpd"), config}, {}};
}

FtpServerLaunch PyftpdlibLaunch(const FtpServerSetup& setup, bool silent) {
    if (setup.options.idleSeconds > 0)
        return Refuse(QStringLiteral("pyftpdlib has no idle time-out here"));
    QStringList args = {QStringLiteral("/usr/bin/python3"),
                        QStringLiteral(VELMAR_SOURCE_DIR "/tests/support/pyftpd_server.py"),
                        QStringLiteral("--root"),
                        setup.root,
                        QStringLiteral("--port"),
                        QString::number(setup.port),
                        QStringLiteral("--user"),
                        setup.user,
                        QStringLiteral("--password"),
                        setup.password,
                        QStringLiteral("--max-per-ip"),
                        QString::number(setup.options.maxPerIp)};
    if (silent)
        args << QStringLiteral("--silent");
    if (setup.options.refuseActive)
        args << QStringLiteral("--refuse-active");
    if (setup.options.blackholeActive)
        args << QStringLiteral("--blackhole-active");
    if (setup.options.noMlsd)
        args << QStringLiteral("--no-mlsd");
    if (setup.options.lateMs > 0)
        args << QStringLiteral("--late-ms") << QString::number(setup.options.lateMs)
             << QStringLiteral("--late-verbs") << setup.options.lateVerbs;
    if (setup.options.dropAt >= 0)
        args << QStringLiteral("--drop-at") << QString::number(setup.options.dropAt);
    if (!setup.options.dropIn.isEmpty())
        args << QStringLiteral("--drop-in") << setup.options.dropIn;
    if (setup.options.noRest)
        args << QStringLiteral("--no-rest");
    if (!setup.options.transferLog.isEmpty())
        args << QStringLiteral("--transfer-log") << setup.options.transferLog;
    return FtpServerLaunch{args, {}};
}

FtpServerLaunch PureFtpdLaunch(const FtpServerSetup& setup) {
    const QString base = UnpackedServersDir() + QStringLiteral("/pure-ftpd");
    const QString daemon = base + QStringLiteral("/usr/sbin/pure-ftpd");
    const QString pw = base + QStringLiteral("/usr/bin/pure-pw");
    if (!QFileInfo(daemon).isExecutable() || !QFileInfo(pw).isExecutable())
        return Refuse(QStringLiteral("pure-ftpd is not unpacked in %1: run "
                                     "scripts/fetch-test-servers")
                          .arg(UnpackedServersDir()));
    const QString unsupported = UnsupportedOption(setup.options, "pure-ftpd", false, false);
    if (!unsupported.isEmpty())
        return Refuse(unsupported);
    const QByteArray hash = CryptHash(setup.password);
    if (hash.isEmpty())
        return Refuse(QStringLiteral("crypt(3) made no password hash"));
    // A virtual user of its own database: "/./" ends the home where the chroot is.
    const SessionIds ids = NobodyIds();
    const QString passwd = setup.work + QStringLiteral("/pureftpd.passwd");
    const QString db = setup.work + QStringLiteral("/pureftpd.pdb");
    const QByteArray entry = setup.user.toUtf8() + ':' + hash + ':' + QByteArray::number(ids.uid) +
                             ':' + QByteArray::number(ids.gid) +
                             "::" + QFile::encodeName(setup.root) + "/./::::::::::::\n";
    if (!WriteTextFile(passwd, entry) ||
        QProcess::execute(pw, {QStringLiteral("mkdb"), db, QStringLiteral("-f"), passwd}) != 0)
        return Refuse(QStringLiteral("pure-pw could not make the user database"));
    QStringList args = {daemon,
                        QStringLiteral("--bind"),
                        QStringLiteral("127.0.0.1,%1").arg(setup.port),
                        QStringLiteral("--login"),
                        QStringLiteral("puredb:") + db,
                        QStringLiteral("--noanonymous"),
                        QStringLiteral("--chrooteveryone"),
                        QStringLiteral("--dontresolve"),
                        QStringLiteral("--ipv4only"),
                        QStringLiteral("--syslogfacility"),
                        QStringLiteral("none"),
                        QStringLiteral("--umask"),
                        QStringLiteral("022:022"),
                        QStringLiteral("--maxclientsnumber"),
                        QStringLiteral("100")};
    if (setup.options.maxPerIp > 0)
        args << QStringLiteral("--maxclientsperip") << QString::number(setup.options.maxPerIp);
    return FtpServerLaunch{args, {}};
}

FtpServerLaunch ProftpdLaunch(const FtpServerSetup& setup) {
    const QString daemon = UnpackedServersDir() + QStringLiteral("/proftpd/usr/sbin/proftpd");
    if (!QFileInfo(daemon).isExecutable())
        return Refuse(QStringLiteral("proftpd is not unpacked in %1: run "
                                     "scripts/fetch-test-servers")
                          .arg(UnpackedServersDir()));
    const QString unsupported = UnsupportedOption(setup.options, "proftpd", true);
    if (!unsupported.isEmpty())
        return Refuse(unsupported);
    const QByteArray hash = CryptHash(setup.password);
    if (hash.isEmpty())
        return Refuse(QStringLiteral("crypt(3) made no password hash"));
    const SessionIds ids = NobodyIds();
    const QString group = GroupName(ids.gid);
    const QString passwd = setup.work + QStringLiteral("/ftpd.passwd");
    const QString groups = setup.work + QStringLiteral("/ftpd.group");
    const QByteArray user = setup.user.toUtf8() + ':' + hash + ':' + QByteArray::number(ids.uid) +
                            ':' + QByteArray::number(ids.gid) +
                            "::" + QFile::encodeName(setup.root) + ":/usr/sbin/nologin\n";
    const QByteArray groupLine = group.toUtf8() + ":x:" + QByteArray::number(ids.gid) + ":\n";
    // proftpd refuses an AuthUserFile that others can read.
    if (!WriteTextFile(passwd, user) || !WriteTextFile(groups, groupLine) ||
        ::chmod(QFile::encodeName(passwd).constData(), 0600) != 0)
        return Refuse(QStringLiteral("cannot write the proftpd user files"));
    const QString& w = setup.work;
    QStringList lines = {
        QStringLiteral("ServerName \"velmar test proftpd\""),
        QStringLiteral("ServerType standalone"),
        QStringLiteral("Port %1").arg(setup.port),
        QStringLiteral("DefaultAddress 127.0.0.1"),
        QStringLiteral("SocketBindTight on"),
        QStringLiteral("UseIPv6 off"),
        QStringLiteral("User nobody"),
        QStringLiteral("Group %1").arg(group),
        QStringLiteral("PidFile %1/proftpd.pid").arg(w),
        QStringLiteral("ScoreboardFile %1/proftpd.scoreboard").arg(w),
        QStringLiteral("DelayTable none"),
        QStringLiteral("DelayEngine off"),
        QStringLiteral("WtmpLog off"),
        QStringLiteral("TransferLog none"),
        QStringLiteral("SystemLog %1/proftpd.log").arg(w),
        // Its own users only: never the system's accounts or PAM.
        QStringLiteral("AuthOrder mod_auth_file.c"),
        QStringLiteral("AuthUserFile %1").arg(passwd),
        QStringLiteral("AuthGroupFile %1").arg(groups),
        QStringLiteral("RequireValidShell off"),
        QStringLiteral("DefaultRoot ~"),
        QStringLiteral("Umask 022"),
        QStringLiteral("AllowOverwrite on"),
        QStringLiteral("UseReverseDNS off"),
        QStringLiteral("MaxInstances 100"),
    };
    if (setup.options.maxPerIp > 0)
        lines << QStringLiteral("MaxClientsPerHost %1").arg(setup.options.maxPerIp);
    if (setup.options.idleSeconds > 0)
        lines << QStringLiteral("TimeoutIdle %1").arg(setup.options.idleSeconds);
    if (setup.options.refuseActive)
        lines << QStringLiteral("<Limit PORT EPRT>") << QStringLiteral("  DenyAll")
              << QStringLiteral("</Limit>");
    const QString config = w + QStringLiteral("/proftpd.conf");
    if (!WriteTextFile(config, lines.join(QLatin1Char('\n')).toUtf8() + '\n'))
        return Refuse(QStringLiteral("cannot write the proftpd configuration"));
    return FtpServerLaunch{{daemon, QStringLiteral("--nodaemon"), QStringLiteral("--quiet"),
                            QStringLiteral("--config"), config},
                           {}};
}
