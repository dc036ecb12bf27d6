// Our copy routines next to curl and lftp on the same loopback vsftpd, in one run:
// a 1 GiB upload and download (curl), and a folder of 2,000 files of 1 KiB in 20
// subfolders uploaded with our folder copy and with lftp's "mirror -R" (one
// connection). Prints each pair of times and their ratio; a ratio of 1.0 or less
// means we keep pace with the peer.
//
// usage: transfer_bench [--size-mib N] [--rounds N]
#include <QApplication>
#include "Await.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "CommStatusDlg.h"
#include "FrameBase.h"
#include "FtpServer.h"
#include "VelmarApp.h"

namespace {

class BenchFrame : public CFrameBase {
public:
    void SetPaneText(int pane, const QString& text) override {
        if (pane >= 0 && pane < 3)
            m_panes[pane] = text;
    }
    QString PaneText(int pane) const override {
        return pane >= 0 && pane < 3 ? m_panes[pane] : QString();
    }
    QWidget* GetPane(int, int) const override { return nullptr; }
    void SetActiveView(QWidget*) override {}

private:
    QString m_panes[3];
};

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

// Seconds of the fastest of rounds runs; before each run, reset() is called
// untimed. A failed run ends the benchmark.
double Best(int rounds, const std::function<void()>& reset, const std::function<bool()>& run,
            const char* what) {
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        reset();
        QElapsedTimer timer;
        timer.start();
        if (!run()) {
            std::fprintf(stderr, "transfer_bench: %s failed\n", what);
            std::exit(1);
        }
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

bool RunTool(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, args);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardOutput().constData());
        return false;
    }
    return true;
}

void Report(const char* what, double ours, double peer, const char* peerName) {
    std::printf("%-34s ours %8.3f s   %-5s %8.3f s   ratio %.2f\n", what, ours, peerName, peer,
                ours / peer);
}

qint64 SizeOf(const QString& path) {
    return QFileInfo(path).size();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    qint64 sizeMiB = 1024;
    int rounds = 2;
    const QStringList args = qapp.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--size-mib")
            sizeMiB = args[i + 1].toLongLong();
        else if (args[i] == "--rounds")
            rounds = args[i + 1].toInt();
    }
    const qint64 size = sizeMiB * 1024 * 1024;

    FtpServer server(FtpServer::Kind::Vsftpd);
    if (!server.IsRunning()) {
        std::fprintf(stderr, "transfer_bench: %s\n", qPrintable(server.Error()));
        return 1;
    }
    QTemporaryDir local;
    const QString big = local.path() + "/big.bin";
    if (!WriteRandomFile(big, size))
        return 1;

    CVelmarApp app;
    app.SetStartingUp(false);
    app.m_pMainWnd = new BenchFrame;
    CProfile profile = app.Site().Profile();
    profile.m_name = "Bench";
    profile.m_address = server.Address();
    profile.m_userId = server.User();
    profile.m_password = server.Password();
    app.Site().SetProfile(profile);
    {
        CCommStatusDlg connect(app.m_pMainWnd);
        if (!Await(connect.Connect()))
            return 1;
    }
    CCommStatusDlg dlg(app.m_pMainWnd);
    dlg.Create();

    const QString url =
        QStringLiteral("ftp://%1:%2@%3/")
            .arg(server.User(), QString(server.Password()).replace(' ', "%20"), server.Address());
    const QString served = server.PathOf("");
    auto removeServed = [&](const char* name) {
        return [&, name] { QFile::remove(served + name); };
    };
    auto removeLocal = [&](const char* name) {
        return [&, name] { QFile::remove(local.path() + "/" + name); };
    };

    std::printf("file of %lld MiB, best of %d rounds, vsftpd on 127.0.0.1\n", sizeMiB, rounds);
    const double upOurs = Best(
        rounds, removeServed("ours.bin"),
        [&] { return Await(dlg.CopyLocalToFtp(big, "/ours.bin")) && SizeOf(served + "ours.bin") == size; },
        "our upload");
    const double upCurl = Best(
        rounds, removeServed("curl.bin"),
        [&] {
            return RunTool("curl", {"-sS", "-T", big, url + "curl.bin"}) &&
                   SizeOf(served + "curl.bin") == size;
        },
        "curl upload");
    Report("upload", upOurs, upCurl, "curl");

    const double downOurs = Best(
        rounds, removeLocal("down-ours.bin"),
        [&] {
            return Await(dlg.CopyFtpToLocal("/ours.bin", local.path() + "/down-ours.bin")) &&
                   SizeOf(local.path() + "/down-ours.bin") == size;
        },
        "our download");
    const double downCurl = Best(
        rounds, removeLocal("down-curl.bin"),
        [&] {
            return RunTool("curl",
                           {"-sS", "-o", local.path() + "/down-curl.bin", url + "ours.bin"}) &&
                   SizeOf(local.path() + "/down-curl.bin") == size;
        },
        "curl download");
    Report("download", downOurs, downCurl, "curl");
    QFile::remove(served + "ours.bin");
    QFile::remove(served + "curl.bin");
    QFile::remove(local.path() + "/down-ours.bin");
    QFile::remove(local.path() + "/down-curl.bin");
    QFile::remove(big);

    // 20 subfolders of 100 files of 1 KiB.
    const QString tree = local.path() + "/tree";
    for (int d = 0; d < 20; ++d) {
        const QString folder = QStringLiteral("%1/sub%2").arg(tree).arg(d, 2, 10, QChar('0'));
        QDir().mkpath(folder);
        for (int f = 0; f < 100; ++f)
            if (!WriteRandomFile(
                    QStringLiteral("%1/file%2.dat").arg(folder).arg(f, 3, 10, QChar('0')), 1024))
                return 1;
    }
    int round = 0;
    const double folderOurs = Best(
        rounds, [&] { ++round; },
        [&] { return Await(dlg.CopyFolderLocalToFtp(tree, QStringLiteral("/ours%1").arg(round))); },
        "our folder copy");
    int lftpRound = 0;
    const double folderLftp = Best(
        rounds, [&] { ++lftpRound; },
        [&] {
            const QString script =
                QStringLiteral(
                    "set net:max-retries 1; set cmd:fail-exit yes; "
                    "open -u '%1','%2' ftp://%3; mirror -R --parallel=1 '%4' /lftp%5; quit")
                    .arg(server.User(), server.Password(), server.Address(), tree)
                    .arg(lftpRound);
            return RunTool("lftp", {"-c", script});
        },
        "lftp mirror -R");
    Report("folder 2000 x 1 KiB in 20 folders", folderOurs, folderLftp, "lftp");
    return 0;
}
