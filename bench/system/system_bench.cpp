// The clock and the mutex sit on the streaming engine's per-frame path. Each
// is measured next to what it wraps, in the same run.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdint>
#include <mutex>

#include "core/system/thread.h"
#include "core/system/time.h"

namespace {

void BM_ClockGettimeMonotonic(benchmark::State& state) {
    for (auto _ : state) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        benchmark::DoNotOptimize(now);
    }
}
BENCHMARK(BM_ClockGettimeMonotonic);

void BM_GetTimeNs(benchmark::State& state) {
    for (auto _ : state) {
        const uint64_t now = GetTimeNs();
        benchmark::DoNotOptimize(now);
    }
}
BENCHMARK(BM_GetTimeNs);

void BM_StdMutexLockUnlock(benchmark::State& state) {
    std::mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        benchmark::ClobberMemory();
        mutex.unlock();
    }
}
BENCHMARK(BM_StdMutexLockUnlock);

void BM_MutexLockUnlock(benchmark::State& state) {
    mutex_t mutex;
    if (mutex_init(&mutex) != 0) {
        state.SkipWithError("mutex_init failed");
        return;
    }
    for (auto _ : state) {
        mutex_lock(&mutex);
        benchmark::ClobberMemory();
        mutex_unlock(&mutex);
    }
    mutex_destroy(&mutex);
}
BENCHMARK(BM_MutexLockUnlock);

}  // namespace
