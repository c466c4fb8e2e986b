// The device's two kinds of frames on a manual clock: a new source picture
// (RequestFrame) composed at once when its turn has come, held back to a
// quarter period after the last frame when it comes too soon, pictures
// bunched behind a slow key frame each composed, the cadence taken up
// again a period and a half after the last picture; and the row workers
// that every pass runs on.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "vexo/gs_device.h"
#include "vexo/gs_manual_clock.h"
#include "vexo/gs_row_workers.h"
#include "vexo_test_objects.h"

namespace {

using Nanos = std::chrono::nanoseconds;
using std::chrono::milliseconds;

constexpr int64_t kPeriod = 1'000'000'000LL / 30;

TEST(VexoNewPicture, ComposedAtOnceWhenItsTurnHasComeElseAtAQuarterPeriod) {
    ManualDevice d;
    PacedScene paced(d, 30);
    ASSERT_TRUE(paced.started);
    RecordingOutput& output = paced.output;

    // Frame 0 at 0, then the cadence's next deadline.
    Nanos sleeper = d.NextSleepAfter(Nanos(-1));
    ASSERT_EQ(sleeper.count(), kPeriod);
    // A picture 5 ms after the last frame waits until a quarter period.
    d.clock->AdvanceTo(milliseconds(5));
    d.device->RequestFrame();
    sleeper = d.NextSleepAfter(sleeper);
    EXPECT_EQ(sleeper.count(), kPeriod / 4);
    d.clock->AdvanceTo(milliseconds(20));
    // Composed at 20 ms; without another picture the cadence goes on a
    // period and a half later.
    sleeper = d.NextSleepAfter(sleeper);
    EXPECT_EQ(sleeper.count(), 20'000'000 + kPeriod / 2 + kPeriod);
    // The next picture, its turn come: composed the moment it arrives.
    d.clock->AdvanceTo(milliseconds(45));
    d.device->RequestFrame();
    sleeper = d.NextSleepAfter(sleeper);
    EXPECT_EQ(sleeper.count(), 45'000'000 + kPeriod / 2 + kPeriod);
    // No picture any more: frames on the cadence, one period apart.
    d.clock->AdvanceTo(sleeper);
    const Nanos after = d.NextSleepAfter(sleeper);
    EXPECT_EQ((after - sleeper).count(), kPeriod);
    d.device->StopThread();

    const std::vector<uint64_t> expected{0, 20'000'000, 45'000'000,
                                         static_cast<uint64_t>(sleeper.count())};
    EXPECT_EQ(output.stamps, expected);
}

// A phone faster than the frame rate: at most one frame per period over
// time, however often pictures come.
TEST(VexoNewPicture, PicturesFasterThanTheFrameRateAreNotComposedMoreOften) {
    ManualDevice d;
    PacedScene paced(d, 30);
    ASSERT_TRUE(paced.started);
    RecordingOutput& output = paced.output;
    Nanos sleeper = d.NextSleepAfter(Nanos(-1));
    // A picture every 5 ms for one second.
    for (int ms = 5; ms <= 1000; ms += 5) {
        d.clock->AdvanceTo(milliseconds(ms));
        d.device->RequestFrame();
        sleeper = d.clock->WaitForSleeper();
    }
    d.device->StopThread();
    // Frame 0 and at most thirty more in one second, none closer together
    // than a quarter period.
    EXPECT_LE(output.stamps.size(), 32u);
    // (How many exactly depends on when the drawing thread sees each step.)
    EXPECT_GE(output.stamps.size(), 20u);
    for (size_t i = 1; i < output.stamps.size(); ++i) {
        EXPECT_GE(output.stamps[i] - output.stamps[i - 1], static_cast<uint64_t>(kPeriod / 4)) << i;
    }
}

// At 60 frames per second a key frame holds the decoder up for a period and
// a half; the three pictures queued behind it come 4.5 ms apart. Each is
// composed before the next one replaces it, and so are the pictures on time
// after them (the eighth after the key frame too: catching up is no burst
// for the frame-rate window to hold against it).
TEST(VexoNewPicture, PicturesBunchedBehindASlowKeyFrameAreEachComposed) {
    constexpr int64_t kPeriod60 = 1'000'000'000LL / 60;
    ManualDevice d;
    PacedScene paced(d, 60);
    ASSERT_TRUE(paced.started);
    Nanos sleeper = d.NextSleepAfter(Nanos(-1));

    std::vector<int64_t> arrivals;
    for (int k = 1; k <= 8; ++k) arrivals.push_back(k * kPeriod60 + 3'000'000);  // on time
    const int64_t late = 21 * kPeriod60 / 2 + 3'000'000;  // the key frame, a period and a half late
    for (int k = 0; k < 3; ++k) arrivals.push_back(late + k * 4'500'000);
    for (int k = 12; k <= 20; ++k) arrivals.push_back(k * kPeriod60 + 3'000'000);  // on time again

    for (size_t i = 0; i < arrivals.size(); ++i) {
        const int64_t next = i + 1 < arrivals.size() ? arrivals[i + 1] : arrivals[i] + kPeriod60;
        // The clock moves only to where the drawing thread sleeps, never
        // past the next picture's arrival.
        while (sleeper.count() <= arrivals[i]) {
            d.clock->AdvanceTo(sleeper);
            sleeper = d.NextSleepAfter(sleeper);
        }
        d.clock->AdvanceTo(Nanos(arrivals[i]));
        const uint64_t before = d.device->PictureFramesComposed();
        d.device->RequestFrame();
        for (;;) {
            // Time for the drawing thread to take the request: it composes
            // the picture at once, or sleeps until the picture's turn.
            const auto settled = std::chrono::steady_clock::now() + milliseconds(200);
            while (d.device->PictureFramesComposed() == before && std::chrono::steady_clock::now() < settled) {
                std::this_thread::sleep_for(milliseconds(1));
            }
            if (d.device->PictureFramesComposed() != before) break;
            sleeper = d.clock->WaitForSleeper();
            ASSERT_LT(sleeper.count(), next) << "picture " << i << " would be replaced before its turn";
            d.clock->AdvanceTo(sleeper);
        }
        sleeper = d.clock->WaitForSleeper();
    }
    d.device->StopThread();
}

TEST(VexoRowWorkers, EveryRowOnceForEverySplitAndRunAfterRun) {
    GsRowWorkers workers;
    const int shapes[][2] = {{1, 1}, {1, 8}, {7, 3}, {8, 8}, {100, 7}, {1080, 6}, {5, 100}};
    for (int round = 0; round < 200; ++round) {
        for (const auto& shape : shapes) {
            const int rows = shape[0];
            std::vector<std::atomic<int>> seen(static_cast<size_t>(rows));
            workers.Run(rows, shape[1], [&](int begin, int end) {
                ASSERT_LE(0, begin);
                ASSERT_LE(end, rows);
                for (int r = begin; r < end; ++r) ++seen[static_cast<size_t>(r)];
            });
            for (int r = 0; r < rows; ++r) ASSERT_EQ(seen[static_cast<size_t>(r)].load(), 1) << rows << " " << r;
        }
    }
    // Threads are kept: never more than the largest split asked for.
    EXPECT_LE(workers.threadCount(), 7);
}

TEST(VexoRowWorkers, RunsFromTwoThreadsAreTakenOneAtATime) {
    GsRowWorkers workers;
    std::atomic<int> inside{0};
    std::atomic<int> worst{0};
    std::atomic<long> total{0};
    auto run = [&] {
        for (int i = 0; i < 300; ++i) {
            workers.Run(64, 4, [&](int begin, int end) {
                const int now = ++inside;
                int seen = worst.load();
                while (now > seen && !worst.compare_exchange_weak(seen, now)) {
                }
                total += end - begin;
                --inside;
            });
        }
    };
    std::thread other(run);
    run();
    other.join();
    EXPECT_EQ(total.load(), 2L * 300 * 64);
    EXPECT_LE(worst.load(), 4);  // the parts of one run, never two runs at once
}

}  // namespace
