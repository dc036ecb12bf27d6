#include "Job.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <mutex>
#include <vector>

#include "Interrupt.h"
#include "JobWatch.h"

namespace core {
namespace {
// Jobs started from the interface thread and not yet taken back by their task.
// One at a time: the connection serves one operation, and the windows are
// locked meanwhile.
int g_running = 0;
// The running job's stop request, and the one every job gets once the program
// is ending.
const std::atomic<int>* g_cancel = nullptr;
bool g_stoppedForGood = false;
// Whether JobWatch has said that jobs run, and not yet that they ended.
bool g_announced = false;
std::atomic<int> g_stopped{1};

void RunGuarded(const std::function<void()>& work, const std::atomic<int>* cancel,
                std::exception_ptr& error) {
    try {
        if (cancel) {
            ftp::InterruptScope scope(cancel);
            work();
        } else {
            work();
        }
    } catch (...) {
        error = std::current_exception();
    }
}
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

namespace {
// The lock ends once no job runs and no operation that started one is still
// under way: a drop's copy, then its folder read again, are one stretch, and what
// the user typed meanwhile arrives after both.
void PostEndCheck() {
    PostToUi([] {
        if (g_running == 0 && g_spawnedTasks == 0 && g_announced) {
            g_announced = false;
            emit JobWatch::Instance().ended();
        }
    });
}
} // namespace

void SpawnedTaskEnded() {
    if (g_spawnedTasks == 0 && g_announced)
        PostEndCheck();
}

OffThread::OffThread(std::function<void()> work, const std::atomic<int>* cancel)
    : m_work(std::move(work)), m_cancel(cancel) {}

OffThread::~OffThread() {
    if (m_thread.joinable())
        m_thread.join();
}

bool OffThread::await_ready() {
    if (QCoreApplication::instance() && OnUiThread())
        return false;
    // Part of a job already (a file of a folder copy): the same thread, and the
    // outer job's stop request unless this one brings its own.
    RunGuarded(m_work, m_cancel, m_error);
    return true;
}

bool OffThread::await_suspend(std::coroutine_handle<> waiting) {
    if (g_running > 0) {
        m_error = std::make_exception_ptr(JobBusy());
        return false;
    }
    if (g_stoppedForGood)
        m_cancel = &g_stopped;
    ++g_running;
    m_counted = true;
    g_cancel = m_cancel;
    if (!g_announced) {
        g_announced = true;
        emit JobWatch::Instance().started();
    }
    try {
        m_thread = std::thread([this, waiting] {
            RunGuarded(m_work, m_cancel, m_error);
            // The task goes on from the application's loop. What the work
            // posted on its way (texts, progress) is queued before this, and is
            // shown before the task reads the result.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [waiting] { waiting.resume(); },
                Qt::QueuedConnection);
        });
    } catch (...) {
        // Not suspended: await_resume gives the count back and throws this.
        m_error = std::current_exception();
        return false;
    }
    return true;
}

void OffThread::await_resume() {
    if (m_thread.joinable())
        m_thread.join();
    if (m_counted) {
        m_counted = false;
        --g_running;
        g_cancel = nullptr;
        if (g_running == 0)
            PostEndCheck();
    }
    if (m_error)
        std::rethrow_exception(m_error);
}

namespace {
class Background {
public:
    ~Background() { JoinAll(); }
    void Start(std::function<void()> work) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_threads.emplace_back(std::move(work));
    }
    void JoinAll() {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            threads.swap(m_threads);
        }
        for (std::thread& thread : threads)
            thread.join();
    }

private:
    std::mutex m_mutex;
    std::vector<std::thread> m_threads;
};
Background& TheBackground() {
    static Background background;
    return background;
}
} // namespace

void RunInBackground(std::function<void()> work) {
    TheBackground().Start(std::move(work));
}

void JoinBackgroundWork() {
    TheBackground().JoinAll();
}

bool JobRunning() {
    return g_running > 0;
}

bool JobsAnnounced() {
    return g_announced;
}

JobWatch& JobWatch::Instance() {
    static JobWatch watch;
    return watch;
}

void StopJobsForGood() {
    g_stoppedForGood = true;
    // The flag is the stop request that the job's owner handed in, and its
    // Cancel would set it just so; only the job's view of it is read-only.
    if (g_cancel)
        const_cast<std::atomic<int>*>(g_cancel)->store(1);
}

} // namespace core
