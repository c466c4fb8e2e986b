// Small scene objects for the stand-in's tests.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "vexo/gs_device.h"
#include "vexo/gs_item.h"
#include "vexo/gs_manual_clock.h"
#include "vexo/gs_output_raw.h"
#include "vexo/gs_scene.h"

template <typename T>
class Counted : public T {
public:
    using T::T;
    int AddRef() override { return ++count_; }
    int Release() override {
        const int left = --count_;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<int> count_{0};
};

// An item that runs the given functions from Prepare and Draw.
class LambdaItem : public GsItem {
public:
    LambdaItem(float width, float height, GsDevice* device) : GsItem(width, height, device) {}
    void Prepare() override {
        if (onPrepare) onPrepare();
    }
    void Draw() override {
        if (onDraw) onDraw();
    }
    std::function<void()> onPrepare;
    std::function<void()> onDraw;
};

// Keeps a copy of every read-back.
class RecordingOutput final : public GsOutputRaw {
public:
    RecordingOutput(GsScene* scene, uint32_t width, uint32_t height, GsDevice* device)
        : GsOutputRaw(scene, width, height, kGsOutputRgba, device) {}
    ~RecordingOutput() override { Stop(); }
    void OnRawFrame(const gs_raw_frame& frame) override {
        // Packed rows, whatever the read-back's line length.
        const size_t rowBytes = static_cast<size_t>(frame.width) * 4;
        last.resize(rowBytes * frame.height);
        for (uint32_t y = 0; y < frame.height; ++y) {
            std::memcpy(last.data() + rowBytes * y, frame.data[0] + static_cast<size_t>(frame.linesize[0]) * y,
                        rowBytes);
        }
        lastTimestamp = frame.timestamp;
        lastWidth = frame.width;
        stamps.push_back(frame.timestamp);
        ++frames;
        if (onFrame) onFrame();
    }
    std::vector<uint8_t> last;
    uint64_t lastTimestamp = 0;
    uint32_t lastWidth = 0;
    std::vector<uint64_t> stamps;  // every timestamp seen
    std::atomic<int> frames{0};
    std::function<void()> onFrame;
};

// A device on a manual clock: the test moves time from one of the drawing
// thread's deadlines to the next.
struct ManualDevice {
    ManualDevice() {
        auto owned = std::make_unique<GsManualClock>();
        clock = owned.get();
        device = std::make_unique<GsDevice>(std::move(owned));
    }
    // The drawing thread's next deadline once it is no longer `previous`.
    std::chrono::nanoseconds NextSleepAfter(std::chrono::nanoseconds previous) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            const std::chrono::nanoseconds deadline = clock->WaitForSleeper();
            if (deadline != previous || std::chrono::steady_clock::now() > giveUp) return deadline;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    GsManualClock* clock;  // owned by device
    std::unique_ptr<GsDevice> device;
};

// One 4 x 4 scene composed into a recording output by a manual device's
// drawing thread at the given frame rate; `started` tells it runs.
struct PacedScene {
    PacedScene(ManualDevice& d, int framesPerSecond) : output(new Counted<GsScene>(4, 4, d.device.get()), 4, 4, d.device.get()) {
        d.device->SetFrameRate(framesPerSecond);
        started = output.Start() && d.device->StartThread();
    }
    RecordingOutput output;
    bool started = false;
};
