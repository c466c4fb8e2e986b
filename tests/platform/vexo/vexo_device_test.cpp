// The device: pacing on absolute deadlines, what a frame runs and in which
// order, programs, and that Stop and Detach wait for a running frame.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "vexo/gs_device.h"
#include "vexo/gs_filter.h"
#include "vexo/gs_manual_clock.h"
#include "vexo/gs_steady_clock.h"
#include "vexo_test_objects.h"

namespace {

using Nanos = std::chrono::nanoseconds;
constexpr Nanos kSecond = std::chrono::seconds(1);

// Steps the clock from deadline to deadline until `until`, then ends the
// drawing thread.
void RunUntil(ManualDevice& d, Nanos until) {
    for (;;) {
        const Nanos deadline = d.clock->WaitForSleeper();
        if (deadline > until) break;
        d.clock->AdvanceTo(deadline);
    }
    d.device->StopThread();
}

TEST(VexoPacing, ThirtyFramesPerSecondOnExactDeadlines) {
    ManualDevice d;
    PacedScene paced(d, 30);
    ASSERT_TRUE(paced.started);
    RecordingOutput& output = paced.output;
    RunUntil(d, kSecond);
    const std::vector<uint64_t>& stamps = output.stamps;
    // t = 0 and thirty more up to one second, each on k/30 s exactly.
    ASSERT_EQ(stamps.size(), 31u);
    for (size_t k = 0; k < stamps.size(); ++k) EXPECT_EQ(stamps[k], k * 1'000'000'000ULL / 30) << k;
}

TEST(VexoPacing, FrameRateIsClampedAndFollowedAfterTheNextFrame) {
    ManualDevice d;
    const std::pair<int, int> cases[] = {{0, 1}, {-5, 1}, {1, 1}, {60, 60}, {61, 60}, {25, 25}};
    for (const auto& [asked, kept] : cases) {
        d.device->SetFrameRate(asked);
        EXPECT_EQ(d.device->FrameRate(), kept) << asked;
    }
    auto* scene = new Counted<GsScene>(2, 2, d.device.get());
    RecordingOutput output(scene, 2, 2, d.device.get());
    ASSERT_TRUE(output.Start());
    d.device->SetFrameRate(10);
    ASSERT_TRUE(d.device->StartThread());
    RunUntil(d, kSecond);
    EXPECT_EQ(output.stamps.size(), 11u);
}

TEST(VexoPacing, AboutThirtyCallbacksInOneSecondOfRealTime) {
    GsDevice device(std::make_unique<GsSteadyClock>());
    auto* scene = new Counted<GsScene>(16, 16, &device);
    RecordingOutput output(scene, 16, 16, &device);
    ASSERT_TRUE(output.Start());
    device.SetFrameRate(30);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(device.StartThread());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    device.StopThread();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    // Against the time that really passed, with wide bounds: loaded
    // sanitizer runs may delay single frames, and a frame at t = 0 comes
    // on top.
    const double expected = 30.0 * seconds + 1.0;
    EXPECT_GE(output.frames.load(), static_cast<int>(expected * 0.66));
    EXPECT_LE(output.frames.load(), static_cast<int>(expected * 1.1) + 1);
}

TEST(VexoFrame, PreparesThenFiltersThenDrawsThenReadsBack) {
    GsDevice device(std::make_unique<GsManualClock>());
    std::vector<std::string> calls;
    auto* scene = new Counted<GsScene>(2, 2, &device);
    for (const char* name : {"a", "b"}) {
        auto* item = new Counted<LambdaItem>(2.0f, 2.0f, &device);
        item->onPrepare = [&calls, name] { calls.push_back(std::string("prepare ") + name); };
        item->onDraw = [&calls, name] { calls.push_back(std::string("draw ") + name); };
        scene->AddItem(item);
    }
    class RecordingFilter final : public GsFilter {
    public:
        RecordingFilter(GsDevice* d, std::vector<std::string>* log) : GsFilter(2, 2, d), log_(log) {}
        ~RecordingFilter() override { Detach(); }
        void Draw() override { log_->push_back("filter"); }

    private:
        std::vector<std::string>* log_;
    } filter(&device, &calls);
    filter.Attach();

    // A scene without a started output is not composed at all.
    device.ComposeFrame(0);
    EXPECT_TRUE(calls.empty());

    RecordingOutput output(scene, 2, 2, &device);
    output.onFrame = [&] { calls.push_back("read-back"); };
    ASSERT_TRUE(output.Start());
    device.ComposeFrame(5);
    EXPECT_EQ(calls, (std::vector<std::string>{"prepare a", "prepare b", "filter", "draw a", "draw b", "read-back"}));

    calls.clear();
    filter.Detach();
    output.Stop();
    device.ComposeFrame(6);
    EXPECT_TRUE(calls.empty());
}

TEST(VexoFrame, OutputNeedsSceneAndRgbaFormat) {
    GsDevice device(std::make_unique<GsManualClock>());
    auto* scene = new Counted<GsScene>(2, 2, &device);
    scene->AddRef();
    class Output final : public GsOutputRaw {
    public:
        using GsOutputRaw::GsOutputRaw;
        ~Output() override { Stop(); }
        void OnRawFrame(const gs_raw_frame&) override {}
    };
    EXPECT_FALSE(Output(scene, 2, 2, 2, &device).Start());
    EXPECT_FALSE(Output(nullptr, 2, 2, kGsOutputRgba, &device).Start());
    EXPECT_TRUE(Output(scene, 2, 2, kGsOutputRgba, &device).Start());
    scene->Release();
}

TEST(VexoShaders, OnlyAddedProgramsWithAKernelBind) {
    GsDevice device(std::make_unique<GsManualClock>());
    EXPECT_FALSE(device.AddShader("no_such_program", "vs", "ps"));
    EXPECT_EQ(device.FindShader("zuc_rgba"), nullptr);  // has a kernel, not added yet
    EXPECT_TRUE(device.AddShader("zuc_rgba", "vs", "ps"));
    EXPECT_NE(device.FindShader("zuc_rgba"), nullptr);
    EXPECT_EQ(device.FindShader("no_such_program"), nullptr);
}

TEST(VexoDefaultDevice, CreatedOnceAndDestroyed) {
    ASSERT_EQ(GsDevice::DefaultDevice(), nullptr);
    ASSERT_TRUE(GsDevice::CreateDefaultDevice(false));
    GsDevice* first = GsDevice::DefaultDevice();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(GsDevice::CreateDefaultDevice(true));
    EXPECT_EQ(GsDevice::DefaultDevice(), first);
    GsDevice::DestroyDefaultDevice();
    EXPECT_EQ(GsDevice::DefaultDevice(), nullptr);
}

// A frame that takes a while is in progress when Stop is called from another
// thread: Stop may not return before it ends, and nothing of the scene or the
// output runs afterwards.
TEST(VexoThreads, StopWaitsForTheRunningFrame) {
    GsDevice device(std::make_unique<GsSteadyClock>());
    device.SetFrameRate(60);
    auto* scene = new Counted<GsScene>(8, 8, &device);
    std::atomic<bool> inDraw{false};
    std::atomic<int> drawsAfterStop{0};
    std::atomic<bool> stopped{false};
    auto* item = new Counted<LambdaItem>(8.0f, 8.0f, &device);
    item->onDraw = [&] {
        if (stopped.load()) ++drawsAfterStop;
        inDraw = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        inDraw = false;
    };
    scene->AddItem(item);
    auto output = std::make_unique<RecordingOutput>(scene, 8, 8, &device);
    std::atomic<int> callbacksAfterStop{0};
    output->onFrame = [&] {
        if (stopped.load()) ++callbacksAfterStop;
    };
    ASSERT_TRUE(output->Start());
    ASSERT_TRUE(device.StartThread());
    for (int round = 0; round < 20; ++round) {
        while (!inDraw.load()) std::this_thread::yield();
        output->Stop();
        stopped = true;
        EXPECT_FALSE(inDraw.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stopped = false;
        ASSERT_TRUE(output->Start());
    }
    output.reset();
    device.StopThread();
    EXPECT_EQ(drawsAfterStop.load(), 0);
    EXPECT_EQ(callbacksAfterStop.load(), 0);
}

}  // namespace
