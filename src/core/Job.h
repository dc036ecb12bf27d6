#pragma once

#include <atomic>
#include <coroutine>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <thread>
#include <type_traits>

#include "Interrupt.h"
#include "Task.h"

// Long work off the interface thread. A job runs its work on a worker thread and
// the task that awaits it is suspended meanwhile: the interface thread goes back
// to the application's loop (painting, the status window's Cancel) and the task
// goes on there when the work has ended. Nothing on the interface thread waits.
namespace core {

// Whether the calling thread is the application's interface thread.
bool OnUiThread();

// Runs fn on the interface thread and waits for it to end; on that thread
// already, simply calls it. For what a job must show or ask on its way: the
// worker waits, the interface thread answers from its own loop.
void CallOnUi(const std::function<void()>& fn);

// Runs fn on the interface thread soon, without waiting.
void PostToUi(std::function<void()> fn);

// Thrown where a job is awaited while another one runs: the connection serves one
// operation at a time, and the second is refused before it has touched anything.
class JobBusy : public std::runtime_error {
public:
    JobBusy() : std::runtime_error("Another operation with the server is under way.") {}
};

// Awaitable that runs work on a worker thread; cancel (may be null) is the work's
// stop request, seen by the protocol classes' waits. Awaited on a worker thread
// (or without an application), the work runs there at once.
class OffThread {
public:
    OffThread(std::function<void()> work, const std::atomic<int>* cancel);
    ~OffThread();
    OffThread(const OffThread&) = delete;
    OffThread& operator=(const OffThread&) = delete;

    bool await_ready();
    bool await_suspend(std::coroutine_handle<> waiting);
    void await_resume();

private:
    std::function<void()> m_work;
    const std::atomic<int>* m_cancel;
    std::exception_ptr m_error;
    std::thread m_thread;
    bool m_counted = false;
};

// A job: fn on a worker thread, its value (or what it threw) handed to the task
// that awaits it.
//
// In a coroutine, an argument handed to another coroutine is an object of the
// parameter's own type (a named one, or one made in place): GCC 12 destroys twice
// a temporary that was converted on the way in, such as a lambda turned into a
// std::function, which then frees what it captured twice.
template <typename Fn>
auto Job(Fn fn, const std::atomic<int>* cancel = nullptr) -> Task<decltype(fn())> {
    using Result = decltype(fn());
    if constexpr (std::is_void_v<Result>) {
        std::function<void()> work = [&] { fn(); };
        co_await OffThread(std::move(work), cancel);
    } else {
        std::optional<Result> result;
        std::function<void()> work = [&] { result.emplace(fn()); };
        co_await OffThread(std::move(work), cancel);
        co_return std::move(*result);
    }
}

// Runs fn on the calling thread with cancel (may be null) as its stop request
// there; the core's operations run so, on the thread of the job that calls them.
template <typename Fn>
auto RunHere(Fn&& fn, const std::atomic<int>* cancel) -> decltype(fn()) {
    if (!cancel)
        return fn();
    ftp::InterruptScope scope(cancel);
    return fn();
}

// Whether a job is running now.
bool JobRunning();
// Whether JobWatch has told of jobs that run and not yet of their end: the
// window stays locked until then.
bool JobsAnnounced();

// Runs work on a thread of its own that nobody waits for now, such as the
// goodbye to a server: the program waits for what is left of it as it ends.
void RunInBackground(std::function<void()> work);
// Waits for that background work: before a new connection to the server, and
// once the windows are gone. Off the interface thread while the program runs.
void JoinBackgroundWork();

// The program is ending: the running job is stopped as its own Cancel would
// stop it, and every job started from now on begins stopped (its waits on the
// server give up at once), so that each clears up within its bound and ends.
// Called on the interface thread.
void StopJobsForGood();

} // namespace core
