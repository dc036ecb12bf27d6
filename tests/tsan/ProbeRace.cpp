// Proves the thread-sanitized run sees a race that passes through Qt's queue: a
// std::thread worker and a slot run on the interface thread through a queued
// connection both touch a plain int. CTest runs the cases as programs of their
// own: the first must fail with the sanitizer's report; the others, hand-offs
// done right in both directions, must pass, so the annotation of Qt's queue
// neither hides the race nor invents one.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

class Worker : public QObject {
    Q_OBJECT
signals:
    void Ready();
};

int g_plain = 0;                 // deliberately not atomic
std::atomic<bool> g_read{false}; // relaxed only: no order for the sanitizer

// writeFirst: the worker writes, then emits (a proper hand-off); otherwise it
// emits, then writes while the slot may be reading.
void RaceOrHandOff(bool writeFirst) {
    Worker worker;
    QObject receiver;
    int seen = -1;
    QObject::connect(
        &worker, &Worker::Ready, &receiver,
        [&] {
            seen = g_plain;
            g_read.store(true, std::memory_order_relaxed);
        },
        Qt::QueuedConnection);
    g_plain = 0;
    g_read.store(false, std::memory_order_relaxed);
    std::thread thread([&] {
        if (writeFirst)
            g_plain = 7;
        emit worker.Ready();
        if (!writeFirst)
            g_plain = 7;
    });
    QElapsedTimer timer;
    timer.start();
    while (!g_read.load(std::memory_order_relaxed) && timer.elapsed() < 10000)
        QTest::qWait(5);
    thread.join();
    EXPECT_TRUE(g_read.load(std::memory_order_relaxed));
    if (writeFirst) {
        EXPECT_EQ(seen, 7);
    }
}

TEST(TsanProbe, WorkerWritesAfterItQueuedTheSlot) {
    RaceOrHandOff(false);
}

TEST(TsanProbe, WorkerWritesBeforeItQueuedTheSlot) {
    RaceOrHandOff(true);
}

// The other way: the interface thread, after it ran a queued slot, writes under a
// mutex that the worker then takes.
TEST(TsanProbe, InterfaceThreadToWorkerUnderAMutex) {
    Worker worker;
    QObject receiver;
    std::mutex mutex;
    int shared = 0;
    std::atomic<int> stage{0};
    QObject::connect(
        &worker, &Worker::Ready, &receiver, [&] { stage.store(1, std::memory_order_relaxed); },
        Qt::QueuedConnection);
    std::thread thread([&] {
        emit worker.Ready();
        while (stage.load(std::memory_order_relaxed) < 2)
            std::this_thread::yield();
        std::lock_guard lock(mutex);
        EXPECT_EQ(shared, 7);
    });
    QElapsedTimer timer;
    timer.start();
    while (stage.load(std::memory_order_relaxed) < 1 && timer.elapsed() < 10000)
        QTest::qWait(5);
    {
        std::lock_guard lock(mutex);
        shared = 7;
    }
    stage.store(2, std::memory_order_relaxed);
    thread.join();
}

} // namespace

#include "ProbeRace.moc"
