// Our upload and download next to curl's over a loopback shaped like a real link
// (tc's tbf), on vsftpd and pyftpdlib, plain and TLS, in one run. Run it through
// bench/shaped_bench.sh, which gives it a network namespace of its own. Prints
// each pair of times and their ratio; 1.0 or less means we keep pace with curl.
//
// usage: shaped_bench [--size-mib N] [--rounds N] [--rate 40mbit] [--burst 256kb]
//                     [--only vsftpd|pyftpdlib]
#include <QApplication>
#include "Await.h"
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

#include "CommStatusDlg.h"
#include "FrameBase.h"
#include "FtpServer.h"
#include "TlsServer.h"
#include "VelmarApp.h"

namespace {

class BenchFrame : public CFrameBase {
public:
    void SetPaneText(int, const QString&) override {}
    QString PaneText(int) const override { return {}; }
    QWidget* GetPane(int, int) const override { return nullptr; }
    void SetActiveView(QWidget*) override {}
};

struct Served {
    QString address; // as a profile writes it
    QString hostPort;
    QString user;
    QString password;
    QString root;
    bool tls = false;
};

bool Run(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, args);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

double Best(int rounds, const std::function<void()>& reset, const std::function<bool()>& run) {
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        reset();
        QElapsedTimer timer;
        timer.start();
        if (!run())
            return -1;
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

bool Measure(const Served& site, const QString& big, qint64 size, int rounds, const char* name) {
    CVelmarApp app;
    app.SetStartingUp(false);
    app.m_pMainWnd = new BenchFrame;
    CProfile profile = app.Site().Profile();
    profile.m_name = "Bench";
    profile.m_address = site.address;
    profile.m_userId = site.user;
    profile.m_password = site.password;
    app.Site().SetProfile(profile);
    {
        CCommStatusDlg connect(app.m_pMainWnd);
        if (!Await(connect.Connect()))
            return false;
    }
    CCommStatusDlg dlg(app.m_pMainWnd);
    dlg.Create();
    const QString dir = QFileInfo(big).path();
    const QString url = QStringLiteral("ftp://%1/").arg(site.hostPort);
    QStringList curl{"-sS", "--user", site.user + ":" + site.password};
    if (site.tls)
        // Held to TLS 1.2, as we are: pyftpdlib's data connections take no other.
        curl << "--ssl-reqd" << "-k" << "--disable-epsv" << "--tls-max" << "1.2";
    auto whole = [size](const QString& path) { return QFileInfo(path).size() == size; };
    auto gone = [](const QString& path) { return [path] { QFile::remove(path); }; };

    const double upOurs = Best(rounds, gone(site.root + "/ours.bin"), [&] {
        return Await(dlg.CopyLocalToFtp(big, "/ours.bin")) && whole(site.root + "/ours.bin");
    });
    const double upCurl = Best(rounds, gone(site.root + "/curl.bin"), [&] {
        return Run("curl", curl + QStringList{"-T", big, url + "curl.bin"}) &&
               whole(site.root + "/curl.bin");
    });
    const double downOurs = Best(rounds, gone(dir + "/down-ours.bin"), [&] {
        return Await(dlg.CopyFtpToLocal("/ours.bin", dir + "/down-ours.bin")) &&
               whole(dir + "/down-ours.bin");
    });
    const double downCurl = Best(rounds, gone(dir + "/down-curl.bin"), [&] {
        return Run("curl", curl + QStringList{"-o", dir + "/down-curl.bin", url + "ours.bin"}) &&
               whole(dir + "/down-curl.bin");
    });
    if (upOurs < 0 || downOurs < 0) {
        std::fprintf(stderr, "shaped_bench: our copy failed on %s\n", name);
        return false;
    }
    // curl cannot make a TLS data connection to pyftpdlib (it is reset): then
    // only our times are shown.
    auto line = [&](const char* what, double ours, double peer) {
        if (peer < 0)
            std::printf("%-16s %-8s ours %7.2f s  curl failed\n", name, what, ours);
        else
            std::printf("%-16s %-8s ours %7.2f s  curl %7.2f s  ratio %.2f\n", name, what, ours,
                        peer, ours / peer);
    };
    line("upload", upOurs, upCurl);
    line("download", downOurs, downCurl);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    qint64 sizeMiB = 20;
    int rounds = 3;
    QString rate = "40mbit", burst = "256kb", only;
    const QStringList args = qapp.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--size-mib")
            sizeMiB = args[i + 1].toLongLong();
        else if (args[i] == "--rounds")
            rounds = args[i + 1].toInt();
        else if (args[i] == "--rate")
            rate = args[i + 1];
        else if (args[i] == "--burst")
            burst = args[i + 1];
        else if (args[i] == "--only")
            only = args[i + 1];
    }
    if (!Run("tc", {"qdisc", "replace", "dev", "lo", "root", "tbf", "rate", rate, "burst", burst,
                    "limit", "20mb"})) {
        std::fprintf(stderr, "shaped_bench: tc could not shape the loopback: run it through "
                             "bench/shaped_bench.sh\n");
        return 1;
    }
    if (!TestCertificates::Prepare())
        return 1;
    const qint64 size = sizeMiB * 1024 * 1024;
    QTemporaryDir local;
    const QString big = local.path() + "/big.bin";
    {
        QFile file(big);
        QByteArray data(size, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(data.data()), size / 4);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != size)
            return 1;
    }
    std::printf("file of %lld MiB over tbf rate %s burst %s, best of %d rounds\n", sizeMiB,
                qPrintable(rate), qPrintable(burst), rounds);
    bool ok = true;
    for (const auto kind : {FtpServer::Kind::Vsftpd, FtpServer::Kind::Pyftpdlib}) {
        const QString name = FtpServer::KindName(kind);
        if (!only.isEmpty() && name != only)
            continue;
        {
            FtpServer server(kind);
            ok = server.IsRunning() &&
                 Measure({server.Address(), server.Address(), server.User(), server.Password(),
                          server.PathOf(""), false},
                         big, size, rounds, qPrintable(name + " plain")) &&
                 ok;
        }
        TlsServer tls(kind == FtpServer::Kind::Vsftpd ? TlsServer::Kind::Vsftpd
                                                      : TlsServer::Kind::Pyftpdlib,
                      TestCertificates::Make(TestCertificates::Kind::Trusted));
        ok = tls.IsRunning() &&
             Measure({"ftps://" + tls.Address(), tls.Address(), tls.User(), tls.Password(),
                      tls.Root(), true},
                     big, size, rounds, qPrintable(name + " TLS")) &&
             ok;
    }
    return ok ? 0 : 1;
}
