#include "StallCases.h"
#include "Await.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "FaultServer.h"
#include "FtpConnection.h"
#include "InternetSession.h"
#include "StallMeter.h"
#include "TransferFixture.h"
#include "VelmarApp.h"

namespace stall {

std::vector<Outcome> DeleteTree(const Sizes& sizes);  // StallPaneCases.cpp
std::vector<Outcome> StalledData(const Sizes& sizes); // StallPaneCases.cpp
std::vector<Outcome> HugeList(const Sizes& sizes);    // StallListCases.cpp

Sizes BenchSizes() {
    return {qint64(1) << 30, 10000, 100000, 2000, 2000, 1000000};
}

Sizes TestSizes() {
    return {qint64(64) << 20, 1000, 10000, 500, 1000, 100000};
}

Outcome Measure(const QString& name, const std::function<bool()>& op) {
    Outcome out;
    out.name = name;
    StallMeter meter;
    QElapsedTimer clock;
    meter.Start();
    clock.start();
    out.done = op();
    out.operationMs = clock.elapsed();
    out.stallMs = meter.Stop();
    return out;
}

namespace {

bool WriteRandom(const QString& path, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray chunk(4 << 20, Qt::Uninitialized);
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

// Same size, and the same bytes at the start, in the middle and at the end.
bool SameFile(const QString& a, const QString& b) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    const qint64 size = fa.size();
    for (qint64 at : {qint64(0), size / 2, std::max<qint64>(0, size - 65536)}) {
        if (!fa.seek(at) || !fb.seek(at) || fa.read(65536) != fb.read(65536))
            return false;
    }
    return true;
}

// A status window over a disabled main window, as the panes run a copy.
struct Connected {
    explicit Connected(FtpServer::Kind kind) : env(kind) {
        ready = env.server.IsRunning() && env.Connect();
        if (ready) {
            dlg = env.NewStatusWindow();
            env.frame->setEnabled(false);
        }
    }
    TransferEnv env;
    std::unique_ptr<CCommStatusDlg> dlg;
    bool ready = false;
};

Outcome NotReady(const QString& name, const QString& why) {
    Outcome out;
    out.name = name;
    out.detail = why;
    return out;
}

std::vector<Outcome> UpAndDown(const Sizes& sizes) {
    Connected c(FtpServer::Kind::Vsftpd);
    const QString mib = QString::number(sizes.fileBytes >> 20);
    const QString up = mib + QStringLiteral(" MiB upload");
    const QString down = mib + QStringLiteral(" MiB download");
    const QString big = c.env.Local(QStringLiteral("big.bin"));
    if (!c.ready || !WriteRandom(big, sizes.fileBytes))
        return {NotReady(up, "no connection or no file"), NotReady(down, "not run")};
    const QString served = c.env.server.PathOf(QStringLiteral("big.bin"));
    Outcome upload = Measure(up, [&] { return Await(c.dlg->CopyLocalToFtp(big, "/big.bin")); });
    upload.done = upload.done && SameFile(big, served);
    QFile::remove(big);
    const QString back = c.env.Local(QStringLiteral("back.bin"));
    Outcome download = Measure(down, [&] { return Await(c.dlg->CopyFtpToLocal("/big.bin", back)); });
    download.done = download.done && SameFile(served, back);
    QFile::remove(back);
    QFile::remove(served);
    return {upload, download};
}

int CountFiles(const QString& root) {
    int n = 0;
    for (const QFileInfo& info : QDir(root).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot))
        n += info.isDir() ? CountFiles(info.filePath()) : 1;
    return n;
}

std::vector<Outcome> FolderCopy(const Sizes& sizes) {
    Connected c(FtpServer::Kind::Vsftpd);
    const QString name = QStringLiteral("%1-file folder copy to FTP").arg(sizes.folderFiles);
    const QString tree = c.env.Local(QStringLiteral("tree"));
    const QByteArray data(1024, 'f');
    for (int i = 0; i < sizes.folderFiles; ++i) {
        const QString folder = QStringLiteral("%1/sub%2").arg(tree).arg(i % 10);
        if (!QDir().mkpath(folder) ||
            !TransferEnv::WriteLocal(QStringLiteral("%1/f%2.dat").arg(folder).arg(i), data))
            return {NotReady(name, "could not make the local tree")};
    }
    if (!c.ready)
        return {NotReady(name, "no connection")};
    Outcome out = Measure(name, [&] { return Await(c.dlg->CopyFolderLocalToFtp(tree, "/tree")); });
    const int arrived = CountFiles(c.env.server.PathOf(QStringLiteral("tree")));
    if (arrived != sizes.folderFiles) {
        out.done = false;
        out.detail = QStringLiteral("%1 files arrived").arg(arrived);
    }
    return {out};
}

std::vector<Outcome> SilentConnect(const Sizes&) {
    TransferEnv env(FtpServer::Kind::Silent);
    const QString name = QStringLiteral("connect to a silent server");
    if (!env.server.IsRunning())
        return {NotReady(name, env.server.Error())};
    CCommStatusDlg dlg(env.frame);
    // Giving up, with its error box, is what it must do here.
    Outcome out = Measure(name, [&] { return !Await(dlg.Connect()); });
    out.done = out.done && env.boxes.Captions() == QStringList{"Error Opening FTP Connection"};
    env.app.reset();
    CCommStatusDlg::WaitForConnectWorkers(60000);
    return {out};
}

// Refresh and the Profiles dialog close the connection before they connect
// anew; a server that has gone silent must not hold the window for its goodbye.
std::vector<Outcome> SilentClose(const Sizes&) {
    const QString name = QStringLiteral("closing the connection to a silent server");
    FaultServer server(QStringLiteral("silent-all"));
    TransferEnv env(FtpServer::Kind::Silent);
    if (!server.IsRunning())
        return {NotReady(name, "no fault server")};
    auto session = std::make_unique<CInternetSession>();
    session->m_timeouts = {2000, 2000, 2000, 2000};
    try {
        env.app->Site().SetConnection(std::unique_ptr<CFtpConnection>(session->GetFtpConnection(
            server.Address(), QStringLiteral("user"), QStringLiteral("secret"))));
    } catch (const CInternetException& e) {
        return {NotReady(name, e.Message())};
    }
    env.app->Site().SetSession(std::move(session));
    Outcome out = Measure(name, [&] {
        env.app->Site().Close();
        return !env.app->Site().IsConnected() && !env.app->Site().Session();
    });
    return {out};
}

bool MakeEmptyFiles(const QString& folder, int count) {
    for (int i = 0; i < count; ++i) {
        const QByteArray path =
            QFile::encodeName(QStringLiteral("%1/entry%2.txt").arg(folder).arg(i));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::close(fd) != 0)
            return false;
    }
    return true;
}

std::vector<Outcome> Listing(const Sizes& sizes) {
    const QString name = QStringLiteral("%1-entry folder listing").arg(sizes.listingEntries);
    Connected c(FtpServer::Kind::Vsftpd);
    if (!c.ready || !MakeEmptyFiles(c.env.server.Root(), sizes.listingEntries))
        return {NotReady(name, "no connection or no files")};
    QString error;
    Outcome out = Measure(name, [&] {
        try {
            Await(c.dlg->ReadFtpDirectory());
            return true;
        } catch (const std::exception& e) {
            error = QString::fromLocal8Bit(e.what());
            return false;
        }
    });
    const auto listed = qsizetype(c.env.app->Site().Listing().size());
    if (listed != sizes.listingEntries) {
        out.done = false;
        out.detail = QStringLiteral("%1 entries listed %2").arg(listed).arg(error);
    }
    return {out};
}

} // namespace

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"transfers", UpAndDown},          {"folder-copy", FolderCopy},
        {"silent-connect", SilentConnect}, {"silent-close", SilentClose},
        {"stalled-data", StalledData},     {"listing", Listing},
        {"delete-tree", DeleteTree},       {"huge-list", HugeList},
    };
    return cases;
}

} // namespace stall
