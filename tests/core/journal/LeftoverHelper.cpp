// A run of the program's copy code that the journal test kills with SIGKILL in
// the middle of a copy, and runs again to log in after it.
//   leftover_helper upload|download ADDRESS USER PASSWORD FROM TO
//     copies and, once two blocks are through, says "MID" and waits to be killed
//   leftover_helper folder ADDRESS USER PASSWORD LOCAL-FOLDER FTP-FOLDER
//     uploads the folder over an existing one through the list pane
//   leftover_helper sweep ADDRESS USER PASSWORD
//     starts up and logs in, as the program does, then ends
#include <QApplication>
#include "Await.h"
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "AppFixture.h"
#include "FtpSite.h"
#include "Job.h"
#include "MyListView.h"
#include "TempJournal.h"
#include "Transfer.h"
#include "VelmarApp.h"

namespace {
class StallingView : public core::TransferView {
public:
    void ShowLine(core::StatusLine, const QString&) override {}
    void ShowStatus(const QString&) override {}
    void ShowConnectStep(const QString&) override {}
    void ShowProgress(int) override {}
    void RevealTransferControls() override {}
    void Failed(const core::TransferError&) override {}
    CertificateAnswer AskAboutCertificate(const CertificateVerdict&) override {
        return CertificateAnswer::Cancel;
    }
    bool ShowsProgress() const override { return true; }
    bool StartingUp() const override { return false; }
    bool WatchesBlocks() const override { return true; }
    void BlockFinished(const BlockReport& report) override {
        if (report.blockIndex < 1)
            return;
        std::puts("MID");
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
};

int RunTransfer(const QStringList& a) {
    core::FtpSite site;
    CProfile profile;
    profile.m_address = a[2];
    profile.m_userId = a[3];
    profile.m_password = a[4];
    site.SetProfile(profile);
    StallingView view;
    std::atomic<int> cancel{0};
    core::Transfer transfer(&site, view, cancel);
    bool ok = false;
    AwaitJob([&] { ok = transfer.Connect(); }, &cancel);
    if (!ok || a[1] == QLatin1String("sweep"))
        return ok ? 0 : 2;
    AwaitJob(
        [&] {
            ok = a[1] == QLatin1String("upload") ? transfer.CopyLocalToFtp(a[5], a[6])
                                                 : transfer.CopyFtpToLocal(a[5], a[6]);
        },
        &cancel);
    site.Close();
    return 3; // the copy was to be killed before its end
}
} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() < 5)
        return 1;
    if (a[1] == QLatin1String("sweep"))
        tempjournal::SweepLocalOnce();
    if (a[1] != QLatin1String("folder"))
        return RunTransfer(a);
    AppFixture f;
    f.SetProfile(a[2], a[3], a[4]);
    if (!f.Start())
        return 2;
    Await(f.FtpList()->UploadLocalPaths({a[5]}, a[6]));
    return 3;
}
