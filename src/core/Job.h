#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <stdexcept>
#include <type_traits>

// Long work off the interface thread. The interface thread keeps handling its
// events (painting, the status window's Cancel) while a job runs; the caller
// still reads as one call that returns when the work has ended.
namespace core {

// Whether the calling thread is the application's interface thread.
bool OnUiThread();

// Runs fn on the interface thread and waits for it to end; on that thread
// already, simply calls it. For what a job must show or ask on its way.
void CallOnUi(const std::function<void()>& fn);

// Runs fn on the interface thread soon, without waiting.
void PostToUi(std::function<void()> fn);

// Runs work on a worker thread and returns when it has ended, rethrowing what
// it threw. cancel (may be null) is the work's stop request, seen by the FTP
// classes' waits. Called on a worker thread already, the work runs there at
// once. userInput says whether input events reach the windows meanwhile (the
// status window's buttons); without it they wait until the work is done.
void RunJob(const std::function<void()>& work, const std::atomic<int>* cancel = nullptr,
            bool userInput = true);

// Thrown by RunJob for a job started while another one runs: the connection
// serves one operation at a time, and the second is refused before it has
// touched anything.
class JobBusy : public std::runtime_error {
public:
    JobBusy() : std::runtime_error("Another operation with the server is under way.") {}
};

// Whether a job started from the interface thread is running now.
bool JobRunning();

// From now on, input events reach the windows during the job that is running
// (one started without userInput): called on the interface thread once a window
// that the user may press a button in has come up, with the others locked.
// Without a running job it does nothing; the next job starts as it was asked.
void LetUserInputThrough();

// The program is ending: the running job is stopped as its own Cancel would
// stop it, and every job started from now on begins stopped (its waits on the
// server give up at once), so that each clears up within its bound and ends.
// Called on the interface thread.
void StopJobsForGood();

// RunJob for work that returns a value. Without a status window to press Cancel
// in, input waits until the work is done.
template <typename Fn>
auto Run(Fn&& fn, const std::atomic<int>* cancel = nullptr, bool userInput = false) {
    using Result = decltype(fn());
    if constexpr (std::is_void_v<Result>) {
        RunJob(fn, cancel, userInput);
    } else {
        std::optional<Result> result;
        RunJob([&] { result.emplace(fn()); }, cancel, userInput);
        return std::move(*result);
    }
}

} // namespace core
