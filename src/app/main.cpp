#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "FrameBase.h"
#include "PaneAccessible.h"
#include "Startup.h"
#include "VelmarApp.h"
#include "VelmarDoc.h"

namespace {
int g_signalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] auto n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM (as at logout), SIGINT and SIGHUP close the program the way Exit does,
// so the settings are written.
void InstallTerminationHandler(CVelmarApp& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [&app] {
        char byte;
        [[maybe_unused]] auto n = ::read(g_signalPipe[0], &byte, 1);
        auto* retry = new QTimer(qApp);
        QObject::connect(retry, &QTimer::timeout, qApp, [&app, retry] {
            // A running transfer refuses the close; try again until it has ended.
            if (!app.m_pMainWnd || app.m_pMainWnd->close()) {
                retry->stop();
                QApplication::quit();
            }
        });
        retry->start(200);
        QMetaObject::invokeMethod(retry, "timeout");
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
        if (!app.InitInstance())
            return 1;
        result = QApplication::exec();
        // The frame saves its settings as it is destroyed, before the connection
        // and the session are closed.
        delete app.m_pMainWnd;
        app.m_pMainWnd = nullptr;
        const int exitCode = app.ExitInstance();
        if (result == 0)
            result = exitCode;
    }
    return result;
}
