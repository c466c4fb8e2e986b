// ThreadSanitizer build only: the edges tsan_qt_sync.cpp adds are there (a
// QMutex, a queued call from a QThread and a QThread that ended before
// wait() each order their threads, so none is reported), and they do not
// hide a race between threads that never synchronise.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMutex>
#include <QThread>

#include <memory>
#include <thread>

namespace {

TEST(TsanQtSync, CountingUnderAQMutexFromTwoThreadsIsNoRace) {
    QMutex mutex;
    int counter = 0;
    auto work = [&] {
        for (int n = 0; n < 20000; ++n) {
            QMutexLocker lock(&mutex);
            ++counter;
        }
    };
    std::thread a(work);
    std::thread b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

TEST(TsanQtSync, DataHandedOverByAQueuedCallIsNoRace) {
    auto data = std::make_unique<int[]>(4);
    QThread worker;
    worker.start();
    QObject onWorker;
    onWorker.moveToThread(&worker);
    int seen = 0;
    bool done = false;
    QObject onMain;
    QMetaObject::invokeMethod(
        &onWorker,
        [&] {
            data[0] = 42;  // written on the worker
            QMetaObject::invokeMethod(
                &onMain, [&] { seen = data[0]; done = true; }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    for (int round = 0; round < 500 && !done; ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    worker.quit();
    ASSERT_TRUE(worker.wait(5000));
    EXPECT_TRUE(done);
    EXPECT_EQ(seen, 42);
}

TEST(TsanQtSync, WhatAThreadWroteIsSeenAfterWaitEvenWhenItEndedFirst) {
    int value = 0;
    std::unique_ptr<QThread> thread(QThread::create([&] { value = 7; }));
    thread->start();
    while (!thread->isFinished()) QThread::msleep(5);
    QThread::msleep(20);  // ended well before the wait
    ASSERT_TRUE(thread->wait(5000));
    EXPECT_EQ(value, 7);
}

// Two threads that share nothing but a plain int: TSan still reports it
// (and ends the program with its exit code, 66).
TEST(TsanQtSyncDeathTest, ARaceBetweenThreadsThatNeverSynchroniseIsStillReported) {
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            static int shared = 0;
            std::thread a([] { shared = shared + 1; });
            std::thread b([] { shared = shared + 1; });
            a.join();
            b.join();
            std::exit(0);
        },
        testing::ExitedWithCode(66), "ThreadSanitizer: data race");
}

}  // namespace
