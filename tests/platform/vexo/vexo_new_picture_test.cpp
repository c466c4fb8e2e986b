// The device's two kinds of frames on a manual clock: a new source picture
// (RequestFrame) composed at once when its turn has come, held back to an
// eighth of a period after the last frame when it comes too soon, never
// more often than the frame rate over time, pictures bunched behind a slow
// key frame each composed, the cadence taken up again a period and a half
// after the last picture; and the row workers that every pass runs on.
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

TEST(VexoNewPicture, ComposedAtOnceWhenItsTurnHasComeElseAtAnEighthPeriod) {
    ManualDevice d;
    PacedScene paced(d, 30);
    ASSERT_TRUE(paced.started);
    RecordingOutput& output = paced.output;

    // Frame 0 at 0, then the cadence's next deadline.
    Nanos sleeper = d.NextSleepAfter(Nanos(-1));
    ASSERT_EQ(sleeper.count(), kPeriod);
    // A picture 2 ms after the last frame waits until an eighth of a period.
    d.clock->AdvanceTo(milliseconds(2));
    d.device->RequestFrame();
    sleeper = d.NextSleepAfter(sleeper);
    EXPECT_EQ(sleeper.count(), kPeriod / 8);
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

// Replays pictures arriving at the given times (nanoseconds, rising) to a
// device at fps. The clock moves from one of the drawing thread's deadlines
// to the next and never past an arrival; a picture counts as composed when
// its frame came before the next picture would have replaced it (the
// source keeps only its newest).
struct Replay {
    Replay(int fps, const std::vector<int64_t>& arrivals) {
        const int64_t period = 1'000'000'000LL / fps;
        ManualDevice d;
        PacedScene paced(d, fps);
        started = paced.started;
        if (!started) return;
        Nanos sleeper = d.NextSleepAfter(Nanos(-1));
        for (size_t i = 0; i < arrivals.size(); ++i) {
            while (sleeper.count() <= arrivals[i]) {
                d.clock->AdvanceTo(sleeper);
                sleeper = d.clock->WaitForSleeper();
            }
            d.clock->AdvanceTo(Nanos(arrivals[i]));
            const uint64_t before = d.device->PictureFramesComposed();
            d.device->RequestFrame();
            sleeper = d.clock->WaitForSleeperAfterWake();
            const int64_t next = i + 1 < arrivals.size() ? arrivals[i + 1] : arrivals[i] + period;
            while (d.device->PictureFramesComposed() == before && sleeper.count() < next) {
                d.clock->AdvanceTo(sleeper);
                sleeper = d.clock->WaitForSleeper();
            }
            composed.push_back(d.device->PictureFramesComposed() != before);
        }
        d.device->StopThread();
        stamps = paced.output.stamps;
    }
    // The first picture replaced before its frame, -1 when none was.
    int FirstReplaced() const {
        const auto found = std::find(composed.begin(), composed.end(), false);
        return found == composed.end() ? -1 : static_cast<int>(found - composed.begin());
    }
    bool started = false;
    std::vector<bool> composed;    // by picture
    std::vector<uint64_t> stamps;  // of every frame
};

// A phone faster than the frame rate: frames never closer than an eighth of
// a period, and once the budget left by late pictures is spent, one frame a
// period however often pictures come.
TEST(VexoNewPicture, PicturesFasterThanTheFrameRateAreNotComposedMoreOften) {
    std::vector<int64_t> arrivals;
    for (int ms = 5; ms <= 3000; ms += 5) arrivals.push_back(ms * 1'000'000LL);
    const Replay replay(30, arrivals);
    ASSERT_TRUE(replay.started);
    const std::vector<uint64_t>& stamps = replay.stamps;
    for (size_t i = 1; i < stamps.size(); ++i) {
        ASSERT_GE(stamps[i] - stamps[i - 1], static_cast<uint64_t>(kPeriod / 8)) << i;
    }
    // In any stretch of time: its periods' worth of frames and the budget.
    for (size_t i = 0; i < stamps.size(); ++i) {
        for (size_t j = i + 1; j < stamps.size(); ++j) {
            const uint64_t periods = (stamps[j] - stamps[i]) / kPeriod;
            ASSERT_LE(j - i, periods + 8) << i << " " << j;
        }
    }
    // The last two seconds: the frame rate exactly.
    const auto inLastTwoSeconds =
        std::count_if(stamps.begin(), stamps.end(), [](uint64_t stamp) { return stamp > 1'000'000'000ULL; });
    EXPECT_GE(inLastTwoSeconds, 59);
    EXPECT_LE(inLastTwoSeconds, 61);
}

// Arrival times: `onTime` pictures a period apart (3 ms after their
// period starts), then `trace` (milliseconds after the last of them), then
// pictures on time again until `untilPeriods` periods after the trace began.
std::vector<int64_t> Schedule(int fps, int onTime, const std::vector<double>& trace, int untilPeriods) {
    const int64_t period = 1'000'000'000LL / fps;
    std::vector<int64_t> arrivals;
    for (int k = 1; k <= onTime; ++k) arrivals.push_back(k * period + 3'000'000);
    const int64_t base = arrivals.back();
    for (double ms : trace) arrivals.push_back(base + static_cast<int64_t>(ms * 1e6));
    for (int k = static_cast<int>(trace.size()) + 1; k <= untilPeriods; ++k) {
        const int64_t at = base + k * period;
        if (at > arrivals.back()) arrivals.push_back(at);
    }
    return arrivals;
}

// A key frame holds the decoder up, and the pictures queued behind it come
// a few milliseconds apart. Each is composed before the next one replaces
// it, and so are the pictures on time after them: catching up is no burst
// for the frame-rate limit to hold against the pictures that follow.
TEST(VexoNewPicture, PicturesBunchedBehindASlowKeyFrameAreEachComposed) {
    struct Case {
        const char* name;
        int fps;
        std::vector<double> trace;  // ms after the last on-time picture
    };
    const Case cases[] = {
        // A period and a half late, three pictures 4.5 ms apart.
        {"one and a half periods at 60", 60, {28.0, 32.5, 37.0}},
        // Measured at 2560 x 1440, 60 frames a second: the key frame three
        // and a half periods late, four pictures queued behind it.
        {"measured 1440p60, a", 60, {15.97, 75.92, 80.57, 85.10, 88.17, 98.43, 115.16, 131.77, 148.65, 165.41, 181.96}},
        {"measured 1440p60, b", 60, {15.22, 64.66, 70.11, 72.66, 80.94, 97.77, 113.83, 131.17, 147.84, 163.79, 181.42}},
        {"measured 1440p60, c", 60, {17.38, 76.32, 82.92, 85.46, 88.13, 99.11, 116.09, 133.16, 149.21, 166.68, 183.49}},
        {"measured 1440p60, d", 60, {17.23, 74.46, 77.69, 80.61, 83.08, 98.87, 115.75, 133.42, 149.49, 165.80, 182.96}},
        // Two periods late at 30, two pictures bunched.
        {"two periods at 30", 30, {33.3, 100.0, 104.0, 133.3}},
    };
    for (const Case& c : cases) {
        const Replay replay(c.fps, Schedule(c.fps, 20, c.trace, 40));
        ASSERT_TRUE(replay.started);
        EXPECT_EQ(replay.FirstReplaced(), -1) << c.name;
    }
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
