// Our upload and download over TLS next to curl's, on the same loopback vsftpd
// with TLS required for the login and the data (and session reuse demanded), in
// one run. Prints both times and their ratio; 1.0 or less means we keep pace.
//
// usage: tls_bench [--size-mib N] [--rounds N] [--curl-tls12]
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

#include "CommStatusDlg.h"
#include "FrameBase.h"
#include "FtpConnection.h"
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

// Seconds of the fastest of rounds runs, reset() untimed before each.
double Best(int rounds, const std::function<void()>& reset, const std::function<bool()>& run,
            const char* what) {
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        reset();
        QElapsedTimer timer;
        timer.start();
        if (!run()) {
            std::fprintf(stderr, "tls_bench: %s failed\n", what);
            std::exit(1);
        }
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

// --curl-tls12: curl held to TLS 1.2 as we are, for a like-for-like figure.
bool g_curlTls12 = false;

bool Curl(const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList all{"-sS", "--ssl-reqd", "-k"};
    if (g_curlTls12)
        all << "--tls-max"
            << "1.2";
    process.start("curl", all + args);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

void Report(const char* what, double ours, double peer) {
    std::printf("%-10s ours %8.3f s   curl %8.3f s   ratio %.2f\n", what, ours, peer, ours / peer);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    qint64 sizeMiB = 1024;
    int rounds = 2;
    const QStringList args = qapp.arguments();
    g_curlTls12 = args.contains("--curl-tls12");
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--size-mib")
            sizeMiB = args[i + 1].toLongLong();
        else if (args[i] == "--rounds")
            rounds = args[i + 1].toInt();
    }
    const qint64 size = sizeMiB * 1024 * 1024;
    if (!TestCertificates::Prepare()) {
        std::fprintf(stderr, "tls_bench: %s\n", qPrintable(TestCertificates::Error()));
        return 1;
    }
    TlsServer server(TlsServer::Kind::Vsftpd,
                     TestCertificates::Make(TestCertificates::Kind::Trusted));
    if (!server.IsRunning()) {
        std::fprintf(stderr, "tls_bench: %s\n", qPrintable(server.Error()));
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
    profile.m_address = "ftps://" + server.Address();
    profile.m_userId = server.User();
    profile.m_password = server.Password();
    app.Site().SetProfile(profile);
    {
        CCommStatusDlg connect(app.m_pMainWnd);
        if (!Await(connect.Connect()) || !app.Site().Connection()->IsEncrypted())
            return 1;
    }
    CCommStatusDlg dlg(app.m_pMainWnd);
    dlg.Create();

    const QString url =
        QStringLiteral("ftp://%1:%2@%3/").arg(server.User(), server.Password(), server.Address());
    const QString served = server.PathOf("");
    auto sizeIs = [size](const QString& path) { return QFileInfo(path).size() == size; };
    auto removing = [](const QString& path) { return [path] { QFile::remove(path); }; };

    std::printf("file of %lld MiB over TLS, best of %d rounds, vsftpd on 127.0.0.1%s\n", sizeMiB,
                rounds, g_curlTls12 ? ", curl held to TLS 1.2" : "");
    const double upOurs = Best(
        rounds, removing(served + "ours.bin"),
        [&] { return Await(dlg.CopyLocalToFtp(big, "/ours.bin")) && sizeIs(served + "ours.bin"); },
        "our upload");
    const double upCurl = Best(
        rounds, removing(served + "curl.bin"),
        [&] {
            return Curl({"-T", big, url + "curl.bin"}) && sizeIs(served + "curl.bin");
        },
        "curl upload");
    Report("upload", upOurs, upCurl);
    const QString downOurs = local.path() + "/down-ours.bin";
    const QString downCurl = local.path() + "/down-curl.bin";
    const double dOurs = Best(
        rounds, removing(downOurs),
        [&] { return Await(dlg.CopyFtpToLocal("/ours.bin", downOurs)) && sizeIs(downOurs); },
        "our download");
    const double dCurl = Best(
        rounds, removing(downCurl),
        [&] {
            return Curl({"-o", downCurl, url + "ours.bin"}) && sizeIs(downCurl);
        },
        "curl download");
    Report("download", dOurs, dCurl);
    return 0;
}
