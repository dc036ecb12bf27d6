// A folder delete that runs long: the status window comes up after a second,
// its Cancel stops the delete, and what is left stays where it was. One that
// ends sooner shows nothing at all.
#include <QDirIterator>
#include "Await.h"
#include "Job.h"
#include <QElapsedTimer>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "CommScope.h"
#include "CommStatusDlg.h"
#include "DeleteStatus.h"
#include "ListTestUtil.h"
#include "LocalTreeDelete.h"

using namespace listtest;

namespace {
using Dlg = CCommStatusDlg;
const QString kDeleting = QStringLiteral("Deleting Folder - Please Wait");

// pyftpdlib whose every DELE answers delayMs late, busy meanwhile.
FtpServer::Options LateDeletes(int delayMs) {
    FtpServer::Options options;
    options.lateMs = delayMs;
    return options;
}

// files files spread over folders of ten under root/tree; returns the entry count.
int MakeTree(const QString& root, int files) {
    for (int i = 0; i < files; ++i) {
        const QString folder = root + QStringLiteral("/tree/d%1").arg(i / 10);
        QDir().mkpath(folder);
        QFile file(folder + QStringLiteral("/f%1").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return -1;
    }
    return files + (files + 9) / 10;
}

int CountUnder(const QString& path) {
    int n = 0;
    for (QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                         QDirIterator::Subdirectories);
         it.hasNext(); it.next())
        ++n;
    return n;
}

Dlg* StatusWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dlg = qobject_cast<Dlg*>(w); dlg && dlg->isVisible())
            return dlg;
    return nullptr;
}

// What the window showed the first time it was looked at while up.
struct Seen {
    qint64 atMs = -1;
    QString operation, activity;
    QList<int> shownControls;
    bool frameEnabled = true;
};

QList<int> ShownControls(Dlg* dlg) {
    QList<int> shown;
    for (int id : {Dlg::IDC_CANCEL, Dlg::IDC_FROM_LABEL, Dlg::IDC_TO_LABEL, Dlg::IDC_COPIED_LABEL,
                   Dlg::IDC_PROGRESS, Dlg::IDC_HIDE, Dlg::IDC_HELP, Dlg::IDC_MESSAGE})
        if (dlg->Control(id)->isVisible())
            shown << id;
    return shown;
}

// Looks every 20 ms while the program works at a delete's window; presses its
// Cancel pressAfterMs after it came up (never when negative). Any status window
// shown and any greying of the frame are caught as they happen.
class Watcher : public QObject {
public:
    Watcher(QWidget* frame, int pressAfterMs) : m_frame(frame), m_pressAfter(pressAfterMs) {
        m_clock.start();
        connect(&m_timer, &QTimer::timeout, this, [this] { Look(); });
        m_timer.start(20);
        qApp->installEventFilter(this);
    }
    ~Watcher() override { qApp->removeEventFilter(this); }
    Seen seen;
    qint64 pressedAtMs = -1;
    bool frameEverDisabled = false;
    bool windowEverShown = false;
    QStringList activities;
    qint64 Now() const { return m_clock.elapsed(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<Dlg*>(watched))
            windowEverShown = true;
        if (watched == m_frame && event->type() == QEvent::EnabledChange)
            frameEverDisabled |= !m_frame->isEnabled();
        return false;
    }

private:
    void Look() {
        Dlg* dlg = StatusWindow();
        if (!dlg || dlg->GetDlgItemText(Dlg::IDC_OPERATION) != kDeleting)
            return;
        const QString activity = dlg->GetDlgItemText(Dlg::IDC_ACTIVITY);
        if (activities.isEmpty() || activities.last() != activity)
            activities << activity;
        if (seen.atMs < 0) {
            seen = {Now(), dlg->GetDlgItemText(Dlg::IDC_OPERATION), activity, ShownControls(dlg),
                    m_frame->isEnabled()};
        } else if (m_pressAfter >= 0 && pressedAtMs < 0 && Now() >= seen.atMs + m_pressAfter) {
            pressedAtMs = Now();
            QTest::mouseClick(dlg->Control(Dlg::IDC_CANCEL), Qt::LeftButton); AwaitSpawned();
        }
    }
    QWidget* m_frame;
    int m_pressAfter;
    QElapsedTimer m_clock;
    QTimer m_timer;
};

int ReportedCount(const QString& text) {
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("(\\d+) item\\(s\\) were deleted")).match(text);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

TEST(DeleteCancel, ASlowFtpDeleteShowsTheWindowAndItsCancelKeepsTheRest) {
    FtpServer server(FtpServer::Kind::Pyftpdlib, LateDeletes(150));
    ASSERT_TRUE(server.IsRunning());
    const int entries = MakeTree(server.PathOf(QString()), 60);
    AppFixture f;
    f.SetProfile(server.Address(), server.User(), server.Password());
    ASSERT_TRUE(f.Start());
    CMyListView* list = f.FtpList();
    ASSERT_GE(RowOf(list, QStringLiteral("tree")), 0);
    list->SelectRows({RowOf(list, QStringLiteral("tree"))});
    f.Boxes().Clear();
    Watcher watch(f.Frame(), 400);
    list->DeleteSelected(); AwaitSpawned();
    const qint64 returnedMs = watch.Now();

    EXPECT_GE(watch.seen.atMs, 900);
    EXPECT_LE(watch.seen.atMs, 2500); // about a second, on a busy machine
    EXPECT_EQ(watch.seen.operation, kDeleting);
    EXPECT_TRUE(watch.seen.activity.contains(QLatin1String("/tree/")))
        << watch.seen.activity.toStdString();
    EXPECT_EQ(watch.seen.shownControls, QList<int>{Dlg::IDC_CANCEL});
    EXPECT_FALSE(watch.seen.frameEnabled);
    EXPECT_GE(watch.activities.size(), 2); // it follows the delete
    ASSERT_GE(watch.pressedAtMs, 0);
    EXPECT_LT(returnedMs - watch.pressedAtMs, 1000);

    // The connection logs in again after the stop, so the list's reading
    // afterwards works: the report is the last box.
    const QStringList boxes = f.Boxes().Captions();
    ASSERT_EQ(boxes, (QStringList{QStringLiteral("Confirm File Delete"),
                                  QStringLiteral("Error Deleting Folder")}));
    const QString text = f.Boxes().Calls().at(1).text;
    EXPECT_FALSE(text.contains(QLatin1String("connection to the server was closed")));
    EXPECT_TRUE(text.contains(QLatin1String("cancelled"))) << text.toStdString();
    // Paths read as the server names them, not as the panes join them ("//tree").
    EXPECT_TRUE(text.contains(QLatin1String(" /tree/"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QLatin1String("//"))) << text.toStdString();
    // What the report counts went; the one the stop cut short may have gone too.
    const int left = CountUnder(server.PathOf(QStringLiteral("tree")));
    EXPECT_GT(left, 0);
    EXPECT_LE(entries - left, ReportedCount(text) + 1);
    EXPECT_GE(entries - left, ReportedCount(text));
    EXPECT_TRUE(f.Frame()->isEnabled());
    EXPECT_EQ(StatusWindow(), nullptr);
    EXPECT_FALSE(f.App().Comm().InProgress());
}

// A quick delete, on either side: no window, no greyed frame.
TEST(DeleteCancel, AQuickDeleteShowsNoWindowAndNeverGreysTheFrame) {
    FtpServer server(FtpServer::Kind::Pyftpdlib);
    ASSERT_TRUE(server.IsRunning()) << server.Error().toStdString();
    for (const QString& dir : {QStringLiteral("a"), QStringLiteral("a/b"), QStringLiteral("c")})
        ASSERT_TRUE(server.MakeDir(dir));
    ASSERT_TRUE(server.WriteFile(QStringLiteral("a/b/f.txt"), "x"));
    LocalDir d;
    ASSERT_TRUE(d.Dir(QStringLiteral("l/m")) && d.File(QStringLiteral("l/m/f.txt")));
    auto f = StartWith(server);
    CMyListView* list = f->FtpList();
    // The primitive itself: the lists' reading afterwards greys the frame anyway.
    Watcher watch(f->Frame(), -1);
    EXPECT_TRUE(Await(list->DeleteFolderTree(list->m_path + QStringLiteral("a/"))));
    EXPECT_TRUE(Await(list->DeleteFolderTree(list->m_path + QStringLiteral("c/"))));
    EXPECT_TRUE(Await(f->LocalList()->DeleteFolderTree(d.PathOf(QStringLiteral("l/")))));
    EXPECT_FALSE(QFileInfo::exists(server.PathOf(QStringLiteral("a"))));
    EXPECT_FALSE(QFileInfo::exists(server.PathOf(QStringLiteral("c"))));
    EXPECT_FALSE(d.Exists(QStringLiteral("l")));
    EXPECT_FALSE(watch.windowEverShown);
    EXPECT_FALSE(watch.frameEverDisabled);
    EXPECT_EQ(f->Boxes().CountCaption(QStringLiteral("Error Deleting Folder")), 0);
}

// A local walk slowed by its progress hook, watched as the pane watches its own.
core::OpResult SlowLocalDelete(CMainFrame* frame, CVelmarApp& app, const QString& path) {
    DeleteStatus status(frame, &app, path);
    const core::DeleteProgress toWindow = status.Progress();
    return Await(core::Job([&] {
        return core::DeleteLocalTree(path, status.Cancel(), [&](int n, const QString& gone) {
            toWindow(n, gone);
            QThread::msleep(20);
        });
    }));
}

TEST(DeleteCancel, ALocalDeleteIsCancelledTheSameWay) {
    auto f = StartOffline();
    LocalDir d;
    const int entries = MakeTree(d.Path(), 200);
    Watcher watch(f->Frame(), 300);
    const core::OpResult result =
        SlowLocalDelete(f->Frame(), f->App(), d.PathOf(QStringLiteral("tree/")));
    const qint64 returnedMs = watch.Now();
    EXPECT_EQ(watch.seen.operation, kDeleting);
    EXPECT_EQ(watch.seen.shownControls, QList<int>{Dlg::IDC_CANCEL});
    ASSERT_GE(watch.pressedAtMs, 0);
    EXPECT_LT(returnedMs - watch.pressedAtMs, 500);
    ASSERT_EQ(result.kind, core::OpErrorKind::Cancelled) << result.detail.toStdString();
    EXPECT_EQ(entries - CountUnder(d.PathOf(QStringLiteral("tree"))), ReportedCount(result.detail));
    EXPECT_TRUE(f->Frame()->isEnabled());
    EXPECT_EQ(StatusWindow(), nullptr);
}

// The delete after a folder replace borrows the copy's window and gives it back.
TEST(DeleteCancel, ACopysWindowIsBorrowedAndGivenBackAsItWas) {
    auto f = StartOffline();
    LocalDir d;
    MakeTree(d.Path(), 80);
    CommScope comm(f->Frame(), &f->App(), CommScope::Operation(false, false));
    Dlg* dlg = comm.Dlg();
    dlg->ShowTransferControls();
    dlg->SetDlgItemText(Dlg::IDC_ACTIVITY, QStringLiteral("Transferring Data"));
    const QList<int> before = ShownControls(dlg);
    Watcher watch(f->Frame(), -1);
    const core::OpResult result =
        SlowLocalDelete(f->Frame(), f->App(), d.PathOf(QStringLiteral("tree/")));
    EXPECT_TRUE(result.Ok()) << result.detail.toStdString();
    EXPECT_EQ(watch.seen.operation, kDeleting);
    EXPECT_EQ(watch.seen.shownControls, QList<int>{Dlg::IDC_CANCEL});
    EXPECT_EQ(dlg->GetDlgItemText(Dlg::IDC_OPERATION), CommScope::Operation(false, false));
    EXPECT_EQ(dlg->GetDlgItemText(Dlg::IDC_ACTIVITY), QStringLiteral("Transferring Data"));
    EXPECT_EQ(ShownControls(dlg), before);
    EXPECT_FALSE(f->Frame()->isEnabled()); // still the copy's communication
}

} // namespace
