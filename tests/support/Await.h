#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include "Job.h"
#include "Task.h"

// A task of the windows run to its end from a test, the application's loop
// turning meanwhile as it would in the program.
template <typename T>
T Await(core::Task<T>&& task) {
    task.Start();
    while (!task.Done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    // And until the window is unlocked, as the user finds it afterwards (on the
    // interface thread: a job's own work that awaits runs in place).
    while (core::OnUiThread() && (core::JobRunning() || core::JobsAnnounced()))
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return task.Result();
}

// Lets the tasks that a command spawned (a delete, a rename, a paste) end; a
// command that starts its task from a queued step (an editor that closes) is
// given that step first.
inline void AwaitSpawned() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    // Until the window is unlocked too, and what was typed meanwhile has arrived
    // (and has ended, if it started something).
    while (core::g_spawnedTasks > 0 || core::JobRunning() || core::JobsAnnounced())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
    while (core::g_spawnedTasks > 0 || core::JobRunning() || core::JobsAnnounced())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// A job run to its end from a test or a helper program: fn on a worker thread,
// the application's loop turning meanwhile.
template <typename Fn>
auto AwaitJob(Fn fn, const std::atomic<int>* cancel = nullptr) {
    return Await(core::Job(std::move(fn), cancel));
}
