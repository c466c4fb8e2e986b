// Sources, scenes and outputs built, resized and released while the drawing
// thread composes at 60 frames per second (run under ASan and TSan): nothing
// of a source or an output runs after it is gone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "gs_output_frame.h"
#include "ref_counted_object.h"
#include "render_test_support.h"
#include "vexo/gs_device.h"
#include "vexo/gs_scene.h"
#include "vexo/gs_steady_clock.h"
#include "zuc_camera_video_source.h"
#include "zuc_shaders.h"

namespace {

class CountingSink final : public StreamVideoSink {
public:
    void Push(AVFrame*) override { ++pushes; }
    void ShowBlack() override {}
    void SetFrame(AVFrame*) override {}
    std::atomic<int> pushes{0};
};

class RunningDevice : public ::testing::Test {
protected:
    RunningDevice() {
        EXPECT_TRUE(GsDevice::CreateDefaultDevice(std::make_unique<GsSteadyClock>(), true));
        GsDevice::DefaultDevice()->SetFrameRate(60);
        RegisterZucShaders(GsDevice::DefaultDevice());
    }
    ~RunningDevice() override { GsDevice::DestroyDefaultDevice(); }

    static void WaitForPushes(const CountingSink& sink, int atLeast) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (sink.pushes.load() < atLeast && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

TEST_F(RunningDevice, ScenesRebuiltAndReleasedWhileComposing) {
    FixedFrameProvider provider;
    CountingSink sink;
    for (int round = 0; round < 8; ++round) {
        const QSize size = round % 2 == 0 ? QSize(64, 32) : QSize(32, 64);
        provider.SetImage(FixedFrameProvider::Solid(size.width(), size.height(), qRgb(round * 20, 50, 90)));
        auto* source = new RefCountedObject<ZucCameraVideoSource>(size, &provider);
        source->AddRef();
        source->CreateItem();

        auto* scene = new RefCountedObject<GsScene>(size.width(), size.height(), GsDevice::DefaultDevice());
        scene->AddRef();
        scene->AddItem(source->item());
        auto output = std::make_unique<GsOutputFrame>(scene, size.width(), size.height(), kGsOutputRgba,
                                                      std::vector<StreamVideoSink*>{&sink});
        scene->Release();
        ASSERT_TRUE(output->Start());
        WaitForPushes(sink, sink.pushes.load() + 2);

        // A new size while the old scene still composes the old item.
        source->Resize(QSize(size.height(), size.width()));
        WaitForPushes(sink, sink.pushes.load() + 1);
        // The source goes first on odd rounds: its items outlive it in the scene.
        if (round % 2 == 1) {
            source->Release();
            WaitForPushes(sink, sink.pushes.load() + 1);
            output.reset();
        } else {
            output->Stop();
            const int pushes = sink.pushes.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            EXPECT_EQ(sink.pushes.load(), pushes) << "pushed after Stop";
            output.reset();
            source->Release();
        }
    }
    EXPECT_GT(sink.pushes.load(), 0);
}

}  // namespace
