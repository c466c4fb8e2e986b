#include "core/system/time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using std::chrono::duration_cast;
using std::chrono::nanoseconds;
using std::chrono::steady_clock;

uint64_t steadyNs() {
    return static_cast<uint64_t>(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

TEST(SystemTime, NeverDecreasesAcrossManyCalls) {
    uint64_t previous = GetTimeNs();
    for (int i = 0; i < 200000; ++i) {
        const uint64_t now = GetTimeNs();
        ASSERT_GE(now, previous) << "call " << i;
        previous = now;
    }
}

// Each reading is taken under a lock and compared with the last reading of
// whichever thread held the lock before: the clock must not run backwards
// from one thread (CPU) to the next.
TEST(SystemTime, NeverDecreasesFromOneThreadToTheNext) {
    std::mutex latestMutex;
    uint64_t latest = 0;  // guarded by latestMutex
    int backwards = 0;    // guarded by latestMutex
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                const std::lock_guard<std::mutex> lock(latestMutex);
                const uint64_t now = GetTimeNs();
                if (now < latest) ++backwards;
                latest = now;
            }
        });
    }
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(backwards, 0);
}

// The interval GetTimeNs measures lies between the shortest and the longest
// interval steady_clock can have seen around it; a wrong unit (microseconds,
// milliseconds) or a clock that stops fails by orders of magnitude.
TEST(SystemTime, MeasuresIntervalsInNanosecondsLikeSteadyClock) {
    constexpr uint64_t kToleranceNs = 1000000;  // a clock slewed by NTP may drift a little
    for (int round = 0; round < 3; ++round) {
        const uint64_t outerStart = steadyNs();
        const uint64_t start = GetTimeNs();
        const uint64_t innerStart = steadyNs();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const uint64_t innerEnd = steadyNs();
        const uint64_t end = GetTimeNs();
        const uint64_t outerEnd = steadyNs();

        const uint64_t measured = end - start;
        EXPECT_GE(measured + kToleranceNs, innerEnd - innerStart);
        EXPECT_LE(measured, outerEnd - outerStart + kToleranceNs);
        EXPECT_GE(measured, uint64_t{20000000});
    }
}

}  // namespace
