#include "core/system/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Runs body on a thread of its own (std::thread, independent of the code under
// test) and waits for it.
template <typename Body>
void onAnotherThread(Body body) {
    std::thread(body).join();
}

// ---- mutex ----------------------------------------------------------------

// The two initialisations must give the same recursive mutex.
struct MutexInit {
    const char* name;
    int (*init)(mutex_t*);
};

void PrintTo(const MutexInit& mutexInit, std::ostream* out) {
    *out << mutexInit.name;
}

class SystemMutex : public ::testing::TestWithParam<MutexInit> {
protected:
    void SetUp() override { ASSERT_EQ(GetParam().init(&mutex_), 0); }
    void TearDown() override { EXPECT_EQ(mutex_destroy(&mutex_), 0); }

    // What mutex_trylock gives another thread right now; a successful entry is
    // left again at once.
    int trylockFromAnotherThread() {
        int result = 1;
        onAnotherThread([&] {
            result = mutex_trylock(&mutex_);
            if (result == 0) mutex_unlock(&mutex_);
        });
        return result;
    }

    mutex_t mutex_;
};

TEST_P(SystemMutex, TrylockFailsOnlyWhileAnotherThreadHoldsIt) {
    EXPECT_EQ(trylockFromAnotherThread(), 0);
    ASSERT_EQ(mutex_lock(&mutex_), 0);
    EXPECT_EQ(trylockFromAnotherThread(), -1);
    ASSERT_EQ(mutex_unlock(&mutex_), 0);
    EXPECT_EQ(trylockFromAnotherThread(), 0);
}

TEST_P(SystemMutex, OwnerReentersAndReleasesAfterAsManyUnlocks) {
    ASSERT_EQ(mutex_lock(&mutex_), 0);
    // trylock first: on a non-recursive mutex it fails instead of deadlocking.
    ASSERT_EQ(mutex_trylock(&mutex_), 0);
    ASSERT_EQ(mutex_lock(&mutex_), 0);

    ASSERT_EQ(mutex_unlock(&mutex_), 0);
    EXPECT_EQ(trylockFromAnotherThread(), -1);
    ASSERT_EQ(mutex_unlock(&mutex_), 0);
    EXPECT_EQ(trylockFromAnotherThread(), -1);
    ASSERT_EQ(mutex_unlock(&mutex_), 0);
    EXPECT_EQ(trylockFromAnotherThread(), 0);
}

TEST_P(SystemMutex, OnlyTheOwnerCanUnlockOrDestroyIt) {
    ASSERT_EQ(mutex_lock(&mutex_), 0);
    int unlockResult = 0;
    onAnotherThread([&] { unlockResult = mutex_unlock(&mutex_); });
    EXPECT_EQ(unlockResult, -1);
    EXPECT_EQ(trylockFromAnotherThread(), -1);
    EXPECT_EQ(mutex_destroy(&mutex_), -1);
    ASSERT_EQ(mutex_unlock(&mutex_), 0);
    EXPECT_EQ(mutex_unlock(&mutex_), -1);  // no longer held by anyone
}

TEST_P(SystemMutex, ExcludesConcurrentWriters) {
    constexpr int kThreads = 4;
    constexpr int kIncrements = 20000;
    long counter = 0;  // guarded by mutex_
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&] {
            for (int i = 0; i < kIncrements; ++i) {
                mutex_lock(&mutex_);
                const long seen = counter;
                std::atomic_signal_fence(std::memory_order_seq_cst);  // keep read and write apart
                counter = seen + 1;
                mutex_unlock(&mutex_);
            }
        });
    }
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(counter, long{kThreads} * kIncrements);
}

INSTANTIATE_TEST_SUITE_P(SystemInit, SystemMutex,
                         ::testing::Values(MutexInit{"mutex_init", &mutex_init},
                                           MutexInit{"mutex_init_recursive", &mutex_init_recursive}),
                         [](const ::testing::TestParamInfo<MutexInit>& param) { return std::string(param.param.name); });

// ---- condition variable ---------------------------------------------------

class SystemCond : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mutex_init(&mutex_), 0);
        ASSERT_EQ(cond_init(&cond_), 0);
    }
    void TearDown() override {
        joinWaiters();
        EXPECT_EQ(cond_destroy(&cond_), 0);
        EXPECT_EQ(mutex_destroy(&mutex_), 0);
    }

    bool heldByAnotherThread() {
        int result = 1;
        onAnotherThread([&] {
            result = mutex_trylock(&mutex_);
            if (result == 0) mutex_unlock(&mutex_);
        });
        return result == -1;
    }

    // Starts count threads that wait for ready_ in the predicate loop, with
    // cond_timedwait(timeout) or, without a timeout, cond_wait. Returns once
    // every one of them is inside the wait: each counts itself under the lock
    // and gives the lock up only by waiting.
    void startWaiters(int count, std::optional<int64_t> timeoutMs) {
        for (int i = 0; i < count; ++i) {
            waiters_.emplace_back([this, timeoutMs] {
                mutex_lock(&mutex_);
                ++waiting_;
                int result = 0;
                while (!ready_ && result == 0) {
                    result = timeoutMs ? cond_timedwait(&cond_, &mutex_, *timeoutMs) : cond_wait(&cond_, &mutex_);
                }
                ++(result == 0 ? woken_ : timedOut_);
                mutex_unlock(&mutex_);
            });
        }
        for (;;) {
            mutex_lock(&mutex_);
            const bool allWaiting = waiting_ == count;
            mutex_unlock(&mutex_);
            if (allWaiting) return;
            std::this_thread::sleep_for(milliseconds(1));
        }
    }

    void setReadyAnd(int (*wake)(cond_t*)) {
        mutex_lock(&mutex_);
        ready_ = true;
        EXPECT_EQ(wake(&cond_), 0);
        mutex_unlock(&mutex_);
    }

    void joinWaiters() {
        for (std::thread& waiter : waiters_) waiter.join();
        waiters_.clear();
    }

    mutex_t mutex_;
    cond_t cond_;
    std::vector<std::thread> waiters_;
    // Guarded by mutex_.
    bool ready_ = false;
    int waiting_ = 0;
    int woken_ = 0;
    int timedOut_ = 0;
};

TEST_F(SystemCond, TimedWaitWithoutTimeGivesUpAtOnceAndHoldsTheMutexAgain) {
    for (const int64_t timeout : {int64_t{0}, int64_t{-1}, std::numeric_limits<int64_t>::min()}) {
        SCOPED_TRACE(timeout);
        mutex_lock(&mutex_);
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(cond_timedwait(&cond_, &mutex_, timeout), 1);
        EXPECT_LT(Clock::now() - start, milliseconds(1000));
        EXPECT_TRUE(heldByAnotherThread());
        mutex_unlock(&mutex_);
    }
}

TEST_F(SystemCond, TimedWaitTimesOutNoEarlierThanAsked) {
    mutex_lock(&mutex_);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(cond_timedwait(&cond_, &mutex_, 50), 1);
    const Clock::duration waited = Clock::now() - start;
    EXPECT_GE(waited, milliseconds(50));
    EXPECT_LT(waited, milliseconds(10000));
    EXPECT_TRUE(heldByAnotherThread());
    mutex_unlock(&mutex_);
}

// A deadline that overflowed would lie in the past (an immediate time-out); one
// with tv_nsec left at a second or more is rejected by the system (an abort).
// 1999 ms carries into the seconds unless the clock stands in its first
// millisecond of a second.
TEST_F(SystemCond, SignalWakesATimedWaiterWhateverItsTimeout) {
    for (const int64_t timeout : {int64_t{5000}, int64_t{1999}, int64_t{std::numeric_limits<uint32_t>::max()},
                                  int64_t{1} << 62, std::numeric_limits<int64_t>::max()}) {
        SCOPED_TRACE(timeout);
        ready_ = false;
        waiting_ = woken_ = timedOut_ = 0;
        startWaiters(1, timeout);
        setReadyAnd(&cond_signal);
        joinWaiters();
        EXPECT_EQ(woken_, 1);
        EXPECT_EQ(timedOut_, 0);
    }
}

TEST_F(SystemCond, SignalWakesAnUntimedWaiter) {
    startWaiters(1, std::nullopt);
    setReadyAnd(&cond_signal);
    joinWaiters();
    EXPECT_EQ(woken_, 1);
}

// With a signal instead of a broadcast all but one waiter would time out.
TEST_F(SystemCond, BroadcastWakesEveryWaiter) {
    constexpr int kWaiters = 4;
    startWaiters(kWaiters, 5000);
    setReadyAnd(&cond_broadcast);
    joinWaiters();
    EXPECT_EQ(woken_, kWaiters);
    EXPECT_EQ(timedOut_, 0);
}

// ---- threads --------------------------------------------------------------

struct Probe {
    int argument = 0;
    std::atomic<int> seen{0};
    std::thread::id ranOn;
};

void recordAfterAWhile(void* raw) {
    Probe* const probe = static_cast<Probe*>(raw);
    std::this_thread::sleep_for(milliseconds(20));  // join must really wait
    probe->ranOn = std::this_thread::get_id();
    probe->seen.store(probe->argument);
}

void countUp(void* raw) {
    static_cast<std::atomic<int>*>(raw)->fetch_add(1);
}

TEST(SystemThread, CreateRunsTheFunctionWithItsArgumentAndJoinNullsTheHandle) {
    thread_t thread;
    EXPECT_FALSE(thread.joinable);
    Probe probe;
    probe.argument = 42;

    ASSERT_EQ(thread_create(&thread, &recordAfterAWhile, &probe), 0);
    EXPECT_TRUE(thread.joinable);
    EXPECT_EQ(thread_join(&thread), 0);

    EXPECT_EQ(probe.seen.load(), 42);
    EXPECT_NE(probe.ranOn, std::this_thread::get_id());
    EXPECT_FALSE(thread.joinable);
}

TEST(SystemThread, CreateWithoutFunctionFailsAndLeavesTheHandleNull) {
    thread_t thread{};
    EXPECT_EQ(thread_create(&thread, nullptr, nullptr), -1);
    EXPECT_FALSE(thread.joinable);
}

// Under AddressSanitizer a start block that is not freed fails the run at exit.
TEST(SystemThread, ManyCreateJoinCyclesRunEveryThreadOnce) {
    std::atomic<int> runs{0};
    constexpr int kRounds = 125;
    constexpr int kPerRound = 8;
    for (int round = 0; round < kRounds; ++round) {
        thread_t threads[kPerRound] = {};
        for (thread_t& thread : threads) ASSERT_EQ(thread_create(&thread, &countUp, &runs), 0);
        for (thread_t& thread : threads) {
            ASSERT_EQ(thread_join(&thread), 0);
            ASSERT_FALSE(thread.joinable);
        }
    }
    EXPECT_EQ(runs.load(), kRounds * kPerRound);
}

// ---- abort paths ----------------------------------------------------------

class SystemThreadDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

struct SelfJoin {
    thread_t handle;
    std::atomic<bool> handleStored{false};
};

void joinOwnHandle(void* raw) {
    SelfJoin* const self = static_cast<SelfJoin*>(raw);
    while (!self->handleStored.load()) std::this_thread::yield();
    thread_join(&self->handle);
}

void startThreadThatJoinsItself() {
    static SelfJoin self;
    if (thread_create(&self.handle, &joinOwnHandle, &self) != 0) return;
    self.handleStored.store(true);
    std::this_thread::sleep_for(std::chrono::seconds(30));  // the thread aborts the process first
}

TEST_F(SystemThreadDeathTest, JoiningTheNullHandleAborts) {
    thread_t thread{};
    EXPECT_DEATH(thread_join(&thread), "thread_join failed on the null handle: Invalid argument");
}

TEST_F(SystemThreadDeathTest, JoiningItselfAbortsWithTheReason) {
    EXPECT_DEATH(startThreadThatJoinsItself(), "thread_join failed: Resource deadlock avoided");
}

TEST_F(SystemThreadDeathTest, WaitingWithoutHoldingTheMutexAborts) {
    mutex_t mutex;
    cond_t cond;
    ASSERT_EQ(mutex_init(&mutex), 0);
    ASSERT_EQ(cond_init(&cond), 0);
    EXPECT_DEATH(cond_wait(&cond, &mutex), "cond_wait failed: Operation not permitted");
    EXPECT_DEATH(cond_timedwait(&cond, &mutex, 1000), "cond_timedwait failed: Operation not permitted");
    cond_destroy(&cond);
    mutex_destroy(&mutex);
}

}  // namespace
