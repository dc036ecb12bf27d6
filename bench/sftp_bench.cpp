// Our SFTP copies next to OpenSSH's sftp on the same loopback sshd, in one run:
// a file (1 GiB by default) downloaded and uploaded through the core's SFTP
// connection, and the same with "sftp -b" (OpenSSH's own client, its defaults).
// Prints each round's pairs of times and their ratios; 1.0 or less means we keep pace.
//
// usage: sftp_bench [--size-mib N] [--rounds N]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <unistd.h>

#include "SftpRemote.h"
#include "SshServer.h"

namespace {

bool WriteRandomFile(const QString& path, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray chunk(4 * 1024 * 1024, Qt::Uninitialized);
    for (qint64 left = size; left > 0;) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(chunk.data()),
                                              chunk.size() / 4);
        const qint64 n = std::min<qint64>(left, chunk.size());
        if (file.write(chunk.constData(), n) != n)
            return false;
        left -= n;
    }
    return true;
}

// Seconds one run that writes target took; a failed run ends the benchmark.
// Each run starts on the same ground: target gone, as the program writes each
// copy under a new temporary name (cutting an old 1 GiB file short inside the
// timed copy added up to a second), and the disk's backlog written out (the
// copies before it leave gigabytes of dirty pages).
double Time(const QString& target, const std::function<bool()>& run, const char* what) {
    QFile::remove(target);
    ::sync();
    QElapsedTimer timer;
    timer.start();
    if (!run()) {
        std::fprintf(stderr, "sftp_bench: %s failed\n", what);
        std::exit(1);
    }
    return timer.nsecsElapsed() / 1e9;
}

// The copy loop of a transfer: a MiB at a time between the local file and the site.
bool Download(core::RemoteConnection& site, const QString& from, const QString& to) {
    QFile out(to);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    auto reader = site.OpenRead(from, 0);
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    while (const std::size_t n = reader->Read(buffer.data(), std::size_t(buffer.size())))
        if (out.write(buffer.constData(), qint64(n)) != qint64(n))
            return false;
    reader->Close();
    return true;
}

bool Upload(core::RemoteConnection& site, const QString& from, const QString& to) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    auto writer = site.OpenWrite(to, core::WriteStart::Fresh);
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (qint64 n; (n = in.read(buffer.data(), buffer.size())) > 0;)
        writer->Write(buffer.constData(), std::size_t(n));
    writer->Close();
    return true;
}

bool OpenSshSftp(const SshServer& server, const QString& knownHosts, const QString& command) {
    QProcess sftp;
    sftp.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sftp.start(QStringLiteral("sftp"),
               {QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("-"),
                QStringLiteral("-i"), server.ClientKey(), QStringLiteral("-P"),
                QString::number(server.Port()), QStringLiteral("-o"),
                QStringLiteral("UserKnownHostsFile=") + knownHosts, QStringLiteral("-o"),
                QStringLiteral("IdentityAgent=none"),
                server.User() + QStringLiteral("@") + server.Host()});
    sftp.write(command.toUtf8() + '\n');
    sftp.closeWriteChannel();
    return sftp.waitForFinished(-1) && sftp.exitStatus() == QProcess::NormalExit &&
           sftp.exitCode() == 0;
}

bool Same(const QString& a, const QString& b) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qint64 sizeMib = 1024;
    int rounds = 1;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--size-mib"))
            sizeMib = args[i + 1].toLongLong();
        else if (args[i] == QStringLiteral("--rounds"))
            rounds = args[i + 1].toInt();
    }
    SshServer server(SshServer::Kind::OpenSsh);
    if (!server.IsRunning()) {
        std::fprintf(stderr, "sftp_bench: %s\n", qPrintable(server.Error()));
        return 1;
    }
    QTemporaryDir local;
    const QString source = local.filePath(QStringLiteral("source"));
    const QString remote = server.LocalRoot() + QStringLiteral("/file");
    const QString knownHosts = local.filePath(QStringLiteral("known_hosts"));
    QFile hosts(knownHosts);
    if (!WriteRandomFile(source, sizeMib << 20) || !WriteRandomFile(remote, sizeMib << 20) ||
        !hosts.open(QIODevice::WriteOnly) ||
        hosts.write(QStringLiteral("[%1]:%2 %3\n")
                        .arg(server.Host())
                        .arg(server.Port())
                        .arg(server.HostKeyLine())
                        .toUtf8()) <= 0)
        return 1;
    hosts.close();

    core::SftpLogin login;
    login.host = server.Host();
    login.port = server.Port();
    login.user = server.User();
    login.knownHostsPath = knownHosts;
    login.sshConfigFiles = QStringList();
    login.keyFolder = QString();
    login.agentSocket = server.AgentSocket();
    auto site = core::ConnectSftp(login, {}, {});
    const QString down = local.filePath(QStringLiteral("down"));
    const QString up = server.LocalRoot() + QStringLiteral("/up");

    // Each round times the four copies back to back, so that a pair shares the
    // machine's load of the moment; the ratio of each round is printed.
    std::printf("SFTP, %lld MiB on loopback sshd, %d round(s)\n", sizeMib, rounds);
    std::printf("%-6s %-10s %10s %12s %8s\n", "round", "direction", "ours (s)", "sftp (s)",
                "ratio");
    bool same = true;
    double worst = 0;
    for (int round = 1; round <= rounds; ++round) {
        const double oursDown = Time(
            down, [&] { return Download(*site, remote, down); }, "download");
        const bool downOk = Same(remote, down);
        const double theirsDown = Time(
            down, [&] { return OpenSshSftp(server, knownHosts, "get " + remote + ' ' + down); },
            "sftp get");
        const double oursUp = Time(
            up, [&] { return Upload(*site, source, up); }, "upload");
        const bool upOk = Same(source, up);
        const double theirsUp = Time(
            up, [&] { return OpenSshSftp(server, knownHosts, "put " + source + ' ' + up); },
            "sftp put");
        std::printf("%-6d %-10s %10.2f %12.2f %8.2f%s\n", round, "download", oursDown, theirsDown,
                    oursDown / theirsDown, downOk ? "" : "  (CONTENT DIFFERS)");
        std::printf("%-6d %-10s %10.2f %12.2f %8.2f%s\n", round, "upload", oursUp, theirsUp,
                    oursUp / theirsUp, upOk ? "" : "  (CONTENT DIFFERS)");
        std::fflush(stdout);
        same = same && downOk && upOk;
        worst = std::max({worst, oursDown / theirsDown, oursUp / theirsUp});
    }
    std::printf("worst ratio %.2f\n", worst);
    return same ? 0 : 1;
}
