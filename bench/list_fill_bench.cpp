// The list pane filled with a folder of 100,000 entries, next to `ls -l` on the
// same folder, in one run: the local folder read and shown, the same entries
// sorted again without reading (the pane's own work), and a 100,000-entry FTP
// listing shown. Each figure is the median of several rounds after one warm-up,
// with the window on the (offscreen) screen and painted.
//
// usage: list_fill_bench [--entries N] [--rounds N]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Await.h"
#include "ListModel.h"
#include "MainFrame.h"
#include "MessageBox.h"
#include "MyListView.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"

namespace {
int Argument(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::atoi(argv[i + 1]);
    return fallback;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A big folder is ordered on a worker: a fill ends when its rows are in.
void WaitForRows(CMyListView* list) {
    while (list->Model()->Filling())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
}

double TimeMs(const std::function<void()>& run) {
    QElapsedTimer timer;
    timer.start();
    run();
    return double(timer.nsecsElapsed()) / 1e6;
}

// A mix of folders and files with sizes of every magnitude (sparse, so the disk
// is not filled) and names that sort differently by name and by extension.
bool MakeFolder(const QString& path, int entries) {
    const char* const exts[] = {"txt", "jpg", "tar.gz", "c", "", "html"};
    for (int i = 0; i < entries; ++i) {
        const QString name = i % 100 == 0
                                 ? QStringLiteral("Folder%1").arg(i, 6, 10, QLatin1Char('0'))
                                 : QStringLiteral("file%1.%2")
                                       .arg((i * 7919) % entries, 6, 10, QLatin1Char('0'))
                                       .arg(QLatin1String(exts[i % 6]));
        const QByteArray full = QFile::encodeName(path + name);
        if (i % 100 == 0) {
            if (::mkdir(full.constData(), 0755) != 0)
                return false;
            continue;
        }
        const int fd = ::open(full.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd < 0)
            return false;
        const bool ok = ::ftruncate(fd, off_t(i) * 977) == 0;
        ::close(fd);
        if (!ok)
            return false;
    }
    return true;
}

std::vector<DirEntry> MakeListing(int entries) {
    std::vector<DirEntry> listing;
    listing.reserve(std::size_t(entries) + 2);
    for (const char* dot : {".", ".."}) {
        DirEntry e;
        e.name = QString::fromLatin1(dot);
        e.attributes = DirEntry::kFolder;
        listing.push_back(e);
    }
    for (int i = 0; i < entries; ++i) {
        DirEntry e;
        e.name = QStringLiteral("remote%1.dat").arg((i * 7919) % entries, 6, 10, QLatin1Char('0'));
        e.attributes = i % 100 == 0 ? DirEntry::kFolder : 0;
        e.size = std::uint64_t(i) * 1234567;
        e.lastWriteTime = 900000000 + std::int64_t(i) * 61;
        listing.push_back(e);
    }
    return listing;
}
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings of this run stay in a folder of its own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication qapp(argc, argv);
    const int entries = Argument(argc, argv, "--entries", 100000);
    const int rounds = std::max(1, Argument(argc, argv, "--rounds", 7));
    // No registry key was made for this run, so the frame's settings cannot be
    // saved at the end; that message, and any other, is answered unseen.
    SetMessageBoxHandler([](const MessageBoxCall&) { return int(IDOK); });

    QTemporaryDir dir;
    const QString path = dir.path() + QLatin1Char('/');
    std::printf("making a folder of %d entries in %s ...\n", entries, qPrintable(path));
    std::fflush(stdout);
    if (!dir.isValid() || !MakeFolder(path, entries)) {
        std::fprintf(stderr, "could not make the folder\n");
        return 1;
    }

    // The real frame and panes, without connecting anywhere: the panes' initial
    // updates run, the trees are not built.
    CVelmarApp app;
    app.SetStartingUp(false);
    app.m_doc = new CVelmarDoc;
    auto* frame = new CMainFrame(&app);
    app.m_pMainWnd = frame;
    frame->OnCreateClient();
    frame->LocalList()->OnInitialUpdate();
    frame->FtpList()->OnInitialUpdate();
    frame->resize(1200, 800);
    frame->show();
    QCoreApplication::processEvents();
    CMyListView* local = frame->LocalList();
    CMyListView* ftp = frame->FtpList();
    local->m_path = path;
    const std::vector<DirEntry> listing = MakeListing(entries);

    const QByteArray ls = "ls -l '" + QFile::encodeName(path) + "' > /dev/null";
    auto runLs = [&] {
        if (std::system(ls.constData()) != 0)
            std::fprintf(stderr, "ls -l failed\n");
    };
    // Each fill includes the view's answer to it: the first paint of the rows.
    auto fillLocal = [&] {
        Await(local->Populate(path));
        WaitForRows(local);
    };
    auto resortLocal = [&] {
        local->Resort();
        WaitForRows(local);
    };
    auto fillFtp = [&] {
        app.Site().SetListing(listing);
        ftp->m_skipFtpRead = 1;
        Await(ftp->Populate(QStringLiteral("//")));
        WaitForRows(ftp);
    };
    auto fillFtpOnly = [&] {
        ftp->m_skipFtpRead = 1;
        Await(ftp->Populate(QStringLiteral("//")));
        WaitForRows(ftp);
    };

    // Warm-up: the folder in the page cache, the code paged in.
    runLs();
    fillLocal();
    fillFtp();

    std::vector<double> tLs, tLocal, tResort, tFtp;
    for (int r = 0; r < rounds; ++r) {
        tLs.push_back(TimeMs(runLs));
        tLocal.push_back(TimeMs(fillLocal));
        tResort.push_back(TimeMs(resortLocal));
        app.Site().SetListing(listing); // the copy into the shared listing is the reader's work
        tFtp.push_back(TimeMs(fillFtpOnly));
    }
    const double ls1 = Median(tLs);
    std::printf("entries shown: local %d, FTP %d (%d rounds, medians)\n", local->ItemCount(),
                ftp->ItemCount(), rounds);
    std::printf("  ls -l (same folder)                 %8.1f ms\n", ls1);
    std::printf("  local fill: read, sort, show        %8.1f ms   ratio to ls -l %.2f\n",
                Median(tLocal), Median(tLocal) / ls1);
    std::printf("  local re-sort: the pane itself      %8.1f ms\n", Median(tResort));
    std::printf("  FTP fill from a 100,000 listing     %8.1f ms\n", Median(tFtp));
    std::printf("goal: local fill <= ls -l, the pane itself and the FTP fill <= 100 ms\n");

    delete frame;
    app.m_pMainWnd = nullptr;
    delete app.m_doc;
    app.m_doc = nullptr;
    return 0;
}
