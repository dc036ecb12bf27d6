#include "Job.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <exception>
#include <thread>

#include "InternetException.h"
#include "Interrupt.h"

namespace core {
namespace {
// Jobs started from the interface thread and not yet ended. One at a time: the
// FTP connection serves one operation, and the windows are locked meanwhile.
int g_running = 0;
// The running job's wait, and whether input has been let through it since.
QEventLoop* g_loop = nullptr;
bool g_inputLetThrough = false;
// The running job's stop request, and the one every job gets once the program
// is ending.
const std::atomic<int>* g_cancel = nullptr;
bool g_stoppedForGood = false;
std::atomic<int> g_stopped{1};

// Restores the running job's wait when a job ends, however it ends.
class LoopScope {
public:
    explicit LoopScope(QEventLoop* loop) : m_loop(g_loop), m_input(g_inputLetThrough) {
        g_loop = loop;
        g_inputLetThrough = false;
    }
    ~LoopScope() {
        g_loop = m_loop;
        g_inputLetThrough = m_input;
    }
    LoopScope(const LoopScope&) = delete;
    LoopScope& operator=(const LoopScope&) = delete;

private:
    QEventLoop* m_loop;
    bool m_input;
};
} // namespace

bool OnUiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void CallOnUi(const std::function<void()>& fn) {
    if (OnUiThread()) {
        fn();
        return;
    }
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            try {
                fn();
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error)
        std::rethrow_exception(error);
}

void PostToUi(std::function<void()> fn) {
    if (!QCoreApplication::instance()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

void RunJob(const std::function<void()>& work, const std::atomic<int>* cancel, bool userInput) {
    if (!OnUiThread() || !QCoreApplication::instance()) {
        // Part of a job already (a file of a folder copy): same thread, and the
        // outer job's stop request unless this one brings its own.
        if (!cancel) {
            work();
            return;
        }
        ftp::InterruptScope scope(cancel);
        work();
        return;
    }
    if (g_running > 0)
        throw JobBusy();
    if (g_stoppedForGood)
        cancel = &g_stopped;
    ++g_running;
    g_cancel = cancel;
    QEventLoop loop;
    const LoopScope current(&loop);
    std::exception_ptr error;
    std::atomic<bool> done{false};
    std::thread worker;
    try {
        worker = std::thread([&] {
            {
                ftp::InterruptScope scope(cancel);
                try {
                    work();
                } catch (...) {
                    error = std::current_exception();
                }
            }
            done = true;
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    } catch (...) {
        --g_running;
        g_cancel = nullptr;
        throw;
    }
    // An application that quits ends every event loop at once; the worker may be
    // waiting on this thread for a question, so the loop runs until it is done.
    // At least once: what the work posted on its way (texts, progress) is in the
    // queue before its quit, and must be shown before the caller goes on.
    do
        loop.exec(userInput || g_inputLetThrough ? QEventLoop::AllEvents
                                                 : QEventLoop::ExcludeUserInputEvents);
    while (!done);
    worker.join();
    --g_running;
    g_cancel = nullptr;
    if (error)
        std::rethrow_exception(error);
}

bool JobRunning() {
    return g_running > 0;
}

void StopJobsForGood() {
    g_stoppedForGood = true;
    // The flag is the stop request that the job's owner handed in, and its
    // Cancel would set it just so; only the job's view of it is read-only.
    if (g_cancel)
        const_cast<std::atomic<int>*>(g_cancel)->store(1);
}

void LetUserInputThrough() {
    if (!OnUiThread() || !g_loop || g_inputLetThrough)
        return;
    g_inputLetThrough = true;
    // The wait's kind is fixed while it runs: it ends here and, the work not
    // being done, starts again with input let through.
    g_loop->quit();
}

} // namespace core
