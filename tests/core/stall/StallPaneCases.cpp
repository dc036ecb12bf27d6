// The cases that run the whole program: the list pane's delete and its copy.
#include <QApplication>
#include "Await.h"
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "AppFixture.h"
#include "CommStatusDlg.h"
#include "FaultServer.h"
#include "FtpServer.h"
#include "MainFrame.h"
#include "MessageBox.h"
#include "MyListView.h"
#include "StallCases.h"
#include "StallMeter.h"

namespace stall {

namespace {

int RowOf(const CMyListView* list, const QString& name) {
    for (int r = 0; r < list->ItemCount(); ++r)
        if (list->ItemName(r) == name)
            return r;
    return -1;
}

QByteArray Pattern(int size, int seed) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 131 + seed + i / 977) & 0xff);
    return data;
}

// The time the main window was last enabled again.
class EnableWatch : public QObject {
public:
    EnableWatch(QWidget* frame, const QElapsedTimer& clock) : m_frame(frame), m_clock(clock) {
        frame->installEventFilter(this);
    }
    ~EnableWatch() override { m_frame->removeEventFilter(this); }
    qint64 enabledMs = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_frame && event->type() == QEvent::EnabledChange && m_frame->isEnabled())
            enabledMs = m_clock.elapsed();
        return false;
    }

private:
    QWidget* m_frame;
    const QElapsedTimer& m_clock;
};

CCommStatusDlg* StatusWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dlg = qobject_cast<CCommStatusDlg*>(w); dlg && dlg->isVisible())
            return dlg;
    return nullptr;
}

} // namespace

std::vector<Outcome> DeleteTree(const Sizes& sizes) {
    const QString name = QStringLiteral("%1-file FTP tree delete").arg(sizes.deleteFiles);
    FtpServer server(FtpServer::Kind::Vsftpd);
    // Each folder on the way writable by the server's user, or nothing could go.
    bool made = server.IsRunning() && server.MakeDir(QStringLiteral("tree"));
    for (int i = 0; made && i < sizes.deleteFiles; ++i) {
        const QString folder = QStringLiteral("tree/d%1").arg(i / 100);
        made = server.MakeDir(folder) &&
               server.WriteFile(QStringLiteral("%1/f%2").arg(folder).arg(i), "x");
    }
    AppFixture f;
    f.SetProfile(server.Address(), server.User(), server.Password());
    CMyListView* list = made && f.Start() ? f.FtpList() : nullptr;
    const int row = list ? RowOf(list, QStringLiteral("tree")) : -1;
    if (row < 0) {
        Outcome out;
        out.name = name;
        out.detail = QStringLiteral("no tree shown in the FTP list");
        return {out};
    }
    f.Boxes().Clear();
    list->SelectRows({row});
    Outcome out = Measure(name, [&] {
        list->DeleteSelected(); AwaitSpawned();
        return !QFileInfo::exists(server.PathOf(QStringLiteral("tree")));
    });
    if (f.Boxes().Captions() != QStringList{"Confirm File Delete"}) {
        out.done = false;
        out.detail = f.Boxes().Captions().join(QStringLiteral(", "));
    }
    return {out};
}

CancelTimeline StalledDownload(int cancelAfterMs) {
    CancelTimeline t;
    t.outcome.name =
        QStringLiteral("stalled data connection, Cancel after %1 ms").arg(cancelAfterMs);
    FaultServer server(QStringLiteral("stall-data"));
    QTemporaryDir local;
    const QByteArray older = Pattern(5000, 3);
    const QString localFile = local.filePath(QStringLiteral("remote.bin"));
    QFile out(localFile);
    if (!server.IsRunning() || !server.WriteFile("remote.bin", Pattern(3 << 20, 1)) ||
        !out.open(QIODevice::WriteOnly) || out.write(older) != older.size()) {
        t.outcome.detail = QStringLiteral("no fault server or no files");
        return t;
    }
    out.close();
    AppFixture f;
    f.SetProfile(server.Address(), QStringLiteral("user"), QStringLiteral("secret"));
    CMyListView* list = f.Start() ? f.FtpList() : nullptr;
    const int row = list ? RowOf(list, QStringLiteral("remote.bin")) : -1;
    if (row < 0) {
        t.outcome.detail = QStringLiteral("the file is not shown in the FTP list");
        return t;
    }
    f.Boxes().Clear();
    list->SelectRows({row});

    QElapsedTimer clock;
    bool running = false;
    QTimer canceller;
    canceller.setInterval(10);
    QObject::connect(&canceller, &QTimer::timeout, [&] {
        CCommStatusDlg* dlg = StatusWindow();
        if (!running || clock.elapsed() < cancelAfterMs || !dlg || !dlg->Control(1033))
            return;
        canceller.stop();
        t.clickMs = clock.elapsed();
        t.lockedAtClick = !f.Frame()->isEnabled();
        QTest::mouseClick(dlg->Control(1033), Qt::LeftButton);
    });
    MessageBoxHandler recorder;
    recorder = SetMessageBoxHandler([&](const MessageBoxCall& call) {
        if (t.boxMs < 0)
            t.boxMs = clock.elapsed();
        const int answer = recorder(call);
        if (t.answeredMs < 0)
            t.answeredMs = clock.elapsed();
        return answer;
    });
    EnableWatch watch(f.Frame(), clock);
    clock.start();
    canceller.start();
    t.outcome = Measure(t.outcome.name, [&] {
        running = true;
        const bool copied = Await(list->CopySelectedTo(local.path() + QLatin1Char('/'), 0));
        running = false;
        return !copied;
    });
    canceller.stop();
    SetMessageBoxHandler(recorder);
    t.enabledMs = watch.enabledMs;
    t.captions = f.Boxes().Captions();
    t.enabledAtEnd = f.Frame()->isEnabled();
    QFile back(localFile);
    t.localKept = back.open(QIODevice::ReadOnly) && back.readAll() == older;
    t.outcome.done = t.outcome.done && t.localKept && t.enabledAtEnd && !t.captions.isEmpty();
    if (!t.outcome.done)
        t.outcome.detail = QStringLiteral("boxes: %1; older copy kept: %2; enabled: %3")
                               .arg(t.captions.join(QStringLiteral(", ")))
                               .arg(t.localKept)
                               .arg(t.enabledAtEnd);
    return t;
}

std::vector<Outcome> StalledData(const Sizes& sizes) {
    return {StalledDownload(sizes.cancelAfterMs).outcome};
}

} // namespace stall
