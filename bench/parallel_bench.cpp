// Many small files from a distant server: a folder of 200 files of 1 KiB in 8
// subfolders copied up and down through the program's core (a Transfer with a
// view that only records) and by lftp's mirror, sequential and --parallel=4, on
// the same server in the same run. The server (bench/delay_server.py) holds each
// reply and each data connection's first byte back by the delay: 40 ms and 0 ms.
// Every copy is checked byte for byte before its time counts.
//
// usage: parallel_bench [--delays 40,0] [--files 200] [--folders 8] [--transfers N]
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <cstdio>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Await.h"
#include "FtpSite.h"
#include "Job.h"
#include "Transfer.h"

namespace {

class QuietView : public core::TransferView {
public:
    void ShowLine(core::StatusLine, const QString&) override {}
    void ShowStatus(const QString&) override {}
    void ShowConnectStep(const QString&) override {}
    void ShowProgress(int) override {}
    void RevealTransferControls() override {}
    void Failed(const core::TransferError& error) override {
        std::fprintf(stderr, "copy failed: kind %d %s %s\n", int(error.kind),
                     qPrintable(error.path), qPrintable(error.detail));
    }
    CertificateAnswer AskAboutCertificate(const CertificateVerdict&) override {
        return CertificateAnswer::Cancel;
    }
    bool ShowsProgress() const override { return true; }
    bool StartingUp() const override { return false; }
};

using Hashes = std::map<QString, QByteArray>;

Hashes HashTree(const QString& root) {
    Hashes out;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        out[QDir(root).relativeFilePath(path)] =
            QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
    }
    return out;
}

bool MakeTree(const QString& root, int files, int folders) {
    for (int i = 0; i < files; ++i) {
        const QString folder = root + QStringLiteral("/sub%1").arg(i % folders);
        QByteArray data(1024, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(data.data()), 256);
        QFile file(folder + QStringLiteral("/file%1.bin").arg(i, 3, 10, QLatin1Char('0')));
        if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) || file.write(data) != 1024)
            return false;
    }
    return true;
}

// Binds port 0 on loopback (or connects to port, when given); the port bound.
unsigned short Probe(unsigned short port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    auto* any = reinterpret_cast<sockaddr*>(&address);
    unsigned short result = 0;
    if (port == 0 && ::bind(fd, any, length) == 0 && ::getsockname(fd, any, &length) == 0)
        result = ntohs(address.sin_port);
    else if (port != 0 && ::connect(fd, any, length) == 0)
        result = port;
    ::close(fd);
    return result;
}

struct Server {
    QProcess process;
    unsigned short port = 0;
    bool Start(const QString& root, int delayMs) {
        port = Probe(0);
        QStringList args = {QStringLiteral(VELMAR_SOURCE_DIR "/bench/delay_server.py"),
                            QStringLiteral("--root"), root, QStringLiteral("--port"),
                            QString::number(port), QStringLiteral("--user"),
                            QStringLiteral("bench"), QStringLiteral("--password"),
                            QStringLiteral("bench"), QStringLiteral("--delay-ms"),
                            QString::number(delayMs)};
        // The server's dialogue, to count what a file costs.
        if (qEnvironmentVariableIsSet("VELMAR_BENCH_SERVER_LOG")) {
            args << QStringLiteral("--log");
            process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        }
        process.start(QStringLiteral("/usr/bin/python3"), args);
        for (int i = 0; i < 100; ++i) {
            if (Probe(port) == port)
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    ~Server() {
        process.kill();
        process.waitForFinished();
    }
};

// Seconds of one timed run; negative when it failed.
double Timed(const std::function<bool()>& run) {
    QElapsedTimer timer;
    timer.start();
    return run() ? timer.nsecsElapsed() / 1e9 : -1.0;
}

bool Lftp(unsigned short port, const QString& command) {
    QProcess lftp;
    lftp.start(QStringLiteral("lftp"),
               {QStringLiteral("-u"), QStringLiteral("bench,bench"), QStringLiteral("-p"),
                QString::number(port), QStringLiteral("127.0.0.1"), QStringLiteral("-e"),
                QStringLiteral("set ftp:passive-mode on; set net:max-retries 1; ") + command +
                    QStringLiteral("; quit")});
    return lftp.waitForFinished(600000) && lftp.exitStatus() == QProcess::NormalExit &&
           lftp.exitCode() == 0;
}

struct Row {
    int delay;
    double oursUp, oursDown, seqUp, seqDown, parUp, parDown;
};

class Bench {
public:
    Bench(int files, int folders, int transfers)
        : m_files(files), m_folders(folders), m_transfers(transfers) {}

    bool Run(int delayMs, Row& row) {
        QTemporaryDir local, remote;
        const QString source = local.filePath(QStringLiteral("src"));
        if (!MakeTree(source, m_files, m_folders))
            return false;
        const Hashes want = HashTree(source);
        Server server;
        if (!server.Start(remote.path(), delayMs))
            return false;
        row.delay = delayMs;
        auto same = [&](const QString& root) { return HashTree(root) == want; };
        auto lftpPass = [&](const QString& command, const QString& check) {
            return Lftp(server.port, command) && same(check);
        };
        row.oursUp = Timed([&] { return Ours(server.port, true, source, "/up") && same(remote.filePath("up")); });
        row.oursDown = Timed([&] {
            return Ours(server.port, false, "/up", local.filePath("down")) &&
                   same(local.filePath("down"));
        });
        row.seqUp = Timed([&] {
            return lftpPass("mirror -R " + source + " /lseq", remote.filePath("lseq"));
        });
        row.seqDown = Timed([&] {
            return lftpPass("mirror /lseq " + local.filePath("lseqdown"), local.filePath("lseqdown"));
        });
        row.parUp = Timed([&] {
            return lftpPass("mirror -R --parallel=4 " + source + " /lpar", remote.filePath("lpar"));
        });
        row.parDown = Timed([&] {
            return lftpPass("mirror --parallel=4 /lpar " + local.filePath("lpardown"),
                            local.filePath("lpardown"));
        });
        return true;
    }

private:
    // One copy through a fresh connection, as the window makes one per operation.
    bool Ours(unsigned short port, bool up, const QString& from, const QString& to) {
        core::FtpSite site;
        CProfile profile;
        profile.m_name = QStringLiteral("bench");
        profile.m_address = QStringLiteral("127.0.0.1:%1").arg(port);
        profile.m_userId = QStringLiteral("bench");
        profile.m_password = QStringLiteral("bench");
        site.SetProfile(profile);
        site.SetTransfers(m_transfers);
        QuietView view;
        std::atomic<int> cancel{0};
        core::Transfer transfer(&site, view, cancel);
        bool done = false;
        AwaitJob(
            [&] {
                done = transfer.Connect() && (up ? transfer.CopyFolderLocalToFtp(from, to)
                                                 : transfer.CopyFolderFtpToLocal(from, to));
            },
            &cancel);
        site.Close();
        return done;
    }

    int m_files;
    int m_folders;
    int m_transfers;
};

QString Seconds(double s) {
    return s < 0 ? QStringLiteral("failed") : QString::number(s, 'f', 2);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QList<int> delays = {40, 0};
    int files = 200, folders = 8, transfers = core::FtpSite::kDefaultTransfers;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--delays")) {
            delays.clear();
            for (const QString& d : args[i + 1].split(QLatin1Char(',')))
                delays << d.toInt();
        } else if (args[i] == QLatin1String("--files"))
            files = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--folders"))
            folders = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--transfers"))
            transfers = args[i + 1].toInt();
    }
    std::printf("%d files of 1 KiB in %d folders, ours with %d transfers at once\n", files,
                folders, transfers);
    std::printf("delay  way   ours(s)  lftp seq(s)  lftp par=4(s)  ours/par\n");
    Bench bench(files, folders, transfers);
    for (int delay : delays) {
        Row row{};
        if (!bench.Run(delay, row)) {
            std::printf("%4d ms: the server or the tree could not be set up\n", delay);
            return 1;
        }
        auto line = [&](const char* way, double ours, double seq, double par) {
            const QString ratio =
                ours > 0 && par > 0 ? QString::number(ours / par, 'f', 2) : QStringLiteral("-");
            std::printf("%4d ms  %-4s  %7s  %11s  %13s  %8s\n", delay, way, qPrintable(Seconds(ours)),
                        qPrintable(Seconds(seq)), qPrintable(Seconds(par)), qPrintable(ratio));
        };
        line("up", row.oursUp, row.seqUp, row.parUp);
        line("down", row.oursDown, row.seqDown, row.parDown);
        std::fflush(stdout);
    }
    return 0;
}
