// Jobs: the work runs off the interface thread, which goes on with its own loop,
// and the task that awaits it gets its result, its exception and every text the
// work posted on its way.
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

#include "InternetException.h"
#include "Interrupt.h"
#include "Await.h"
#include "Job.h"

namespace {

// A job awaited by a task, the way the windows await one.
template <typename Fn>
auto RunAwaited(Fn fn, const std::atomic<int>* cancel = nullptr) {
    return Await(core::Job(std::move(fn), cancel));
}

TEST(Job, RunsOffTheInterfaceThreadAndHandsBackResultOrException) {
    QThread* ui = QThread::currentThread();
    ASSERT_TRUE(core::OnUiThread());
    QThread* ranOn = nullptr;
    bool onUiInside = true;
    const int result = RunAwaited([&] {
        ranOn = QThread::currentThread();
        onUiInside = core::OnUiThread();
        return 42;
    });
    EXPECT_EQ(result, 42);
    EXPECT_NE(ranOn, ui);
    EXPECT_FALSE(onUiInside);
    EXPECT_FALSE(core::JobRunning());

    EXPECT_THROW(RunAwaited([]() -> int { throw std::runtime_error("broken"); }),
                 std::runtime_error);
    EXPECT_FALSE(core::JobRunning()); // a failed job is not left counted
}

TEST(Job, TheInterfaceThreadKeepsHandlingEventsMeanwhile) {
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    RunAwaited([] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
    timer.stop();
    EXPECT_GE(ticks, 10); // a frozen thread would have let none through
}

TEST(Job, WhatTheWorkShowsOnItsWayIsShownBeforeTheCallReturns) {
    // Quick work: it may end before the interface thread starts waiting, and its
    // posted texts must still be handled first.
    for (int round = 0; round < 50; ++round) {
        int shown = 0;
        RunAwaited([&] {
            for (int i = 0; i < 5; ++i)
                core::PostToUi([&shown] { ++shown; });
        });
        ASSERT_EQ(shown, 5) << "round " << round;
    }
}

TEST(Job, QuestionsAreAskedOnTheInterfaceThread) {
    bool askedOnUi = false;
    RunAwaited([&] { core::CallOnUi([&] { askedOnUi = core::OnUiThread(); }); });
    EXPECT_TRUE(askedOnUi);
    // An exception of the question reaches the work that asked.
    bool caught = false;
    RunAwaited([&] {
        try {
            core::CallOnUi([] { throw std::runtime_error("refused"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
    });
    EXPECT_TRUE(caught);
}

TEST(Job, NestedWorkRunsInPlaceAndASecondJobFromTheInterfaceIsRefused) {
    std::thread::id outer, inner;
    RunAwaited([&] {
        outer = std::this_thread::get_id();
        RunAwaited([&] { inner = std::this_thread::get_id(); });
    });
    EXPECT_EQ(inner, outer);

    // Started from an event while a job runs (a timer, a click let through):
    // refused, never run beside the first on the same connection.
    bool refused = false;
    bool secondRan = false;
    QTimer::singleShot(20, [&] {
        try {
            RunAwaited([&] { secondRan = true; });
        } catch (const core::JobBusy&) {
            refused = true;
        }
    });
    RunAwaited([] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); });
    EXPECT_TRUE(refused);
    EXPECT_FALSE(secondRan);
}

TEST(Job, TheStopRequestReachesTheWorkAndAGraceEndsByItself) {
    std::atomic<int> cancel{0};
    const auto started = std::chrono::steady_clock::now();
    QTimer::singleShot(50, [&] { cancel = 1; });
    bool stopped = false;
    RunAwaited(
        [&] {
            while (!ftp::Interrupted())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            stopped = true;
            // Clean-up after the stop: not stopped at once, but only for so long.
            ftp::InterruptScope grace(std::chrono::milliseconds(100));
            EXPECT_FALSE(ftp::Interrupted());
            while (!ftp::Interrupted())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        },
        &cancel);
    EXPECT_TRUE(stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_FALSE(ftp::Interrupted()); // nothing is left installed on this thread
}

TEST(Job, TheWaitIsNoNestedLoopAndTheOldBlockingWayStillEnds) {
    // Spawned, the task is suspended at its job: the caller is back at once.
    bool finished = false;
    auto task = [](bool& done) -> core::Task<void> {
        co_await core::Job([] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); });
        done = true;
    };
    task(finished).Spawn();
    EXPECT_FALSE(finished);
    EXPECT_TRUE(core::JobRunning());
    AwaitSpawned();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(core::JobRunning());
    int result = 0;
    AwaitJob([&] { result = 8; });
    EXPECT_EQ(result, 8);
}

} // namespace
