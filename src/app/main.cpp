#include <QApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include "FrameBase.h"
#include "Job.h"
#include "MessageBox.h"
#include "PaneAccessible.h"
#include "Startup.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"

namespace {
int g_signalPipe[2] = {-1, -1};
// Set once a signal has asked the program to end, and once the main event loop
// runs: a quit before that would be lost, and one in a job's wait would spin it.
bool g_terminating = false;
bool g_inMainLoop = false;
// How long a stopped job may take to clear up (an upload's last blocks, a
// temporary file removed) before the program ends without it.
constexpr qint64 kClearUpBoundMs = 6000;

void OnTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(g_signalPipe[1], &byte, 1);
}

// Closes the window and quits once nothing runs any more; true when done.
bool TryToQuit(CVelmarApp& app) {
    if (core::JobRunning() || app.Comm().InProgress() || !g_inMainLoop)
        return false;
    // The frame refuses only while a communication runs.
    if (app.m_pMainWnd && !app.m_pMainWnd->close())
        return false;
    QApplication::quit();
    return true;
}

// The program ends as Exit ends it, at any moment: the boxes still open are
// answered as Escape would answer them, the running job is stopped as its
// Cancel would stop it, and the program quits once the job has cleared up.
void Terminate(CVelmarApp& app) {
    if (g_terminating)
        return;
    g_terminating = true;
    CloseMessageBoxesForGood();
    core::StopJobsForGood();
    auto* tick = new QTimer(qApp);
    auto* since = new QElapsedTimer;
    since->start();
    QObject::connect(tick, &QTimer::timeout, qApp, [&app, tick, since] {
        if (TryToQuit(app)) {
            tick->stop();
            delete since;
        } else if (since->elapsed() > kClearUpBoundMs && g_inMainLoop) {
            std::fputs("Velmar98: the running operation did not end in time.\n", stderr);
            ::_exit(1);
        }
    });
    tick->start(50);
}

// SIGTERM (as at logout), SIGINT and SIGHUP close the program the way Exit does,
// so the settings are written.
void InstallTerminationHandler(CVelmarApp& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [&app] {
        char byte;
        [[maybe_unused]] auto n = ::read(g_signalPipe[0], &byte, 1);
        Terminate(app);
    });
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}
} // namespace

int main(int argc, char** argv) {
    InstallAccessibleContextMenus();
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmar98"));
    QApplication::setWindowIcon(CVelmarDoc::AppIcon());
    int result = 0;
    {
        CVelmarApp app;
        InstallStartupHooks(app);
        InstallTerminationHandler(app);
        // A start-up cut short by a signal to end is an ending asked for, not a failure.
        if (!app.InitInstance())
            return g_terminating ? 0 : 1;
        if (!g_terminating) {
            g_inMainLoop = true;
            result = QApplication::exec();
        }
        // The frame saves its settings as it is destroyed, before the connection
        // and the session are closed.
        delete app.m_pMainWnd;
        app.m_pMainWnd = nullptr;
        const int exitCode = app.ExitInstance();
        // The goodbyes to the servers, sent off the interface thread, end here.
        core::JoinBackgroundWork();
        if (result == 0)
            result = exitCode;
    }
    return result;
}
