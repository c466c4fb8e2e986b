// The driver sink against a port that records the exact bytes: the frame
// layout (padded sources, odd sizes read from tight buffers, so that ASan
// sees any read past the planes), coalescing behind a slow driver, the
// frame filter, open and stop cycles, and what survives a session.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "devices/driver_sink/stream_video_sink_driver.h"
#include "driver_test_frames.h"
#include "recording_camera_driver_port.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

using zucam::test::ExpectedDriverFrame;
using zucam::test::MakeTightPatternFrame;
using zucam::test::ReadLittleEndian32;
using zucam::test::RecordingCameraDriverPort;

class DriverSink : public testing::Test {
protected:
    DriverSink() {
        auto port = std::make_unique<RecordingCameraDriverPort>();
        port_ = port.get();
        sink_ = std::make_unique<StreamVideoSinkDriver>(std::move(port));
    }

    void Open() { ASSERT_TRUE(sink_->OpenCamera()); }

    // Pushes a frame and waits until the port has count writes in all.
    void PushAndWait(const AVFramePtr& frame, size_t count) {
        ASSERT_TRUE(frame);
        sink_->Push(frame.get());
        ASSERT_TRUE(port_->WaitForWrites(count)) << "write " << count << " never came";
    }

    // A write that should not come would come within this time of its cause.
    static constexpr unsigned long kNoWriteMs = 300;

    RecordingCameraDriverPort* port_ = nullptr;  // owned by sink_
    std::unique_ptr<StreamVideoSinkDriver> sink_;
};

std::pair<int, int> HeaderSize(const std::vector<uint8_t>& write) {
    return {ReadLittleEndian32(write, 0), ReadLittleEndian32(write, 4)};
}

TEST_F(DriverSink, Writes1080pAsOneHeaderedI420Frame) {
    Open();
    PushAndWait(MakeTightPatternFrame(1920, 1080, 5, 64), 1);
    const std::vector<uint8_t> write = port_->writes().at(0);
    ASSERT_EQ(write.size(), 3110464u);
    EXPECT_EQ(ReadLittleEndian32(write, 0), 1920);
    EXPECT_EQ(ReadLittleEndian32(write, 4), 1080);
    EXPECT_EQ(ReadLittleEndian32(write, 8), 1920);
    EXPECT_EQ(ReadLittleEndian32(write, 12), 960);
    EXPECT_EQ(ReadLittleEndian32(write, 16), 960);
    EXPECT_TRUE(std::all_of(write.begin() + 20, write.begin() + 64, [](uint8_t byte) { return byte == 0; }));
    EXPECT_TRUE(write == ExpectedDriverFrame(1920, 1080, 5)) << "plane bytes differ";
}

// Source size and line padding against the picture the driver gets: odd
// sizes lose their last row or column, the rows never run past the source.
struct SizeCase {
    int width;
    int height;
    int padding;
    int sentWidth;
    int sentHeight;
};

void PrintTo(const SizeCase& size, std::ostream* out) {
    *out << size.width << "x" << size.height << " padded by " << size.padding;
}

class DriverSinkSizes : public DriverSink, public testing::WithParamInterface<SizeCase> {};

TEST_P(DriverSinkSizes, SendsTheEvenPartOfThePictureRowByRow) {
    const SizeCase size = GetParam();
    Open();
    PushAndWait(MakeTightPatternFrame(size.width, size.height, 9, size.padding), 1);
    EXPECT_TRUE(port_->writes().at(0) == ExpectedDriverFrame(size.sentWidth, size.sentHeight, 9));
}

INSTANTIATE_TEST_SUITE_P(Frames, DriverSinkSizes,
                         testing::Values(SizeCase{2, 2, 0, 2, 2}, SizeCase{6, 4, 0, 6, 4}, SizeCase{6, 4, 5, 6, 4},
                                         SizeCase{640, 360, 0, 640, 360}, SizeCase{6, 5, 0, 6, 4},
                                         SizeCase{7, 5, 0, 6, 4}, SizeCase{5, 6, 3, 4, 6}, SizeCase{3, 3, 0, 2, 2},
                                         SizeCase{1921, 1081, 0, 1920, 1080}),
                         [](const testing::TestParamInfo<SizeCase>& param) {
                             const SizeCase& size = param.param;
                             return std::to_string(size.width) + "x" + std::to_string(size.height) + "pad" +
                                    std::to_string(size.padding);
                         });

// A driver that takes its time: the render thread keeps pushing without
// waiting for it, and once the write is done only the newest frame follows.
TEST_F(DriverSink, WritesOnlyTheNewestFrameAfterASlowWrite) {
    Open();
    port_->HoldWrites();
    const AVFramePtr first = MakeTightPatternFrame(8, 6, 0);
    PushAndWait(first, 1);  // the writer now sits in the port

    std::vector<AVFramePtr> later;
    for (int seed = 1; seed <= 5; ++seed) later.push_back(MakeTightPatternFrame(8, 6, seed));
    auto pushes = std::async(std::launch::async, [&] {
        for (const AVFramePtr& frame : later) sink_->Push(frame.get());
    });
    const bool pushedWhileWriting = pushes.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    port_->ReleaseWrites();
    pushes.wait();
    EXPECT_TRUE(pushedWhileWriting) << "Push waited for the driver's write";

    ASSERT_TRUE(port_->WaitForWrites(2));
    sink_->Stop();
    const auto writes = port_->writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_TRUE(writes[0] == ExpectedDriverFrame(8, 6, 0));
    EXPECT_TRUE(writes[1] == ExpectedDriverFrame(8, 6, 5)) << "not the newest frame";
}

// Each frame pushed after the previous write is written: a wake-up lost
// between the writer's check and its wait would leave one hanging.
TEST_F(DriverSink, WritesEveryFrameThatComesAfterTheLastWrite) {
    Open();
    constexpr int kFrames = 300;
    const AVFramePtr frame = MakeTightPatternFrame(4, 2, 0);
    for (int i = 1; i <= kFrames; ++i) PushAndWait(frame, static_cast<size_t>(i));
    sink_->Stop();
    EXPECT_EQ(port_->writes().size(), static_cast<size_t>(kFrames));
}

// The pending frame's size tells what the sink took: ShowBlack blanks at
// that size, so a frame that should have been dropped shows in the header.
TEST_F(DriverSink, PushDropsOtherFormatsAndFramesWhileDisabled) {
    Open();
    PushAndWait(MakeTightPatternFrame(8, 6, 1), 1);

    AVFramePtr nv12(av_frame_alloc());
    nv12->format = AV_PIX_FMT_NV12;
    nv12->width = 16;
    nv12->height = 10;
    ASSERT_EQ(av_frame_get_buffer(nv12.get(), 32), 0);
    sink_->Push(nv12.get());
    sink_->enabled = false;
    sink_->Push(MakeTightPatternFrame(12, 8, 2).get());
    sink_->enabled = true;

    sink_->ShowBlack();
    ASSERT_TRUE(port_->WaitForWrites(2));
    const std::vector<uint8_t> black = port_->writes().at(1);
    EXPECT_EQ(HeaderSize(black), std::make_pair(8, 6));
    ASSERT_EQ(black.size(), 64u + 8 * 6 * 3 / 2);
    EXPECT_TRUE(std::all_of(black.begin() + 64, black.begin() + 64 + 48, [](uint8_t byte) { return byte == 0; }));
    EXPECT_TRUE(std::all_of(black.begin() + 64 + 48, black.end(), [](uint8_t byte) { return byte == 128; }));
}

TEST_F(DriverSink, RefusedWriteDoesNotStopTheNextFrame) {
    Open();
    port_->FailNextWrites(1);
    PushAndWait(MakeTightPatternFrame(4, 4, 1), 1);
    PushAndWait(MakeTightPatternFrame(4, 4, 2), 2);
    EXPECT_TRUE(sink_->IsOpen());
    EXPECT_TRUE(port_->writes().at(1) == ExpectedDriverFrame(4, 4, 2));
}

// No driver: the sink stays closed, with no writer thread to wake.
TEST_F(DriverSink, FailedOpenLeavesTheSinkClosed) {
    port_->SetOpenResult(false);
    EXPECT_FALSE(sink_->OpenCamera());
    EXPECT_FALSE(sink_->IsOpen());
    EXPECT_FALSE(sink_->enabled);
    EXPECT_FALSE(sink_->isRunning());
    sink_->SetFrame(MakeTightPatternFrame(4, 4, 1).get());
    sink_->ShowBlack();
    EXPECT_FALSE(sink_->isRunning());
    EXPECT_TRUE(port_->writes().empty());

    port_->SetOpenResult(true);
    Open();
    EXPECT_TRUE(sink_->enabled);
    sink_->ShowBlack();  // nothing was taken while closed: nothing to blank
    EXPECT_FALSE(port_->WaitForWrites(1, kNoWriteMs));
    PushAndWait(MakeTightPatternFrame(6, 2, 3), 1);
    EXPECT_TRUE(port_->writes().at(0) == ExpectedDriverFrame(6, 2, 3));
}

// A new session starts from nothing: the last picture of the previous one
// is neither written again nor the model of a black frame.
TEST_F(DriverSink, NewSessionDoesNotShowThePreviousPicture) {
    Open();
    PushAndWait(MakeTightPatternFrame(8, 6, 1), 1);
    sink_->Stop();
    EXPECT_FALSE(sink_->isRunning());
    EXPECT_FALSE(sink_->enabled);
    sink_->Push(MakeTightPatternFrame(8, 6, 2).get());  // closed: dropped

    Open();
    sink_->ShowBlack();
    EXPECT_FALSE(port_->WaitForWrites(2, kNoWriteMs)) << "the old picture came back";
    PushAndWait(MakeTightPatternFrame(4, 2, 3), 2);
    sink_->Stop();
    const auto writes = port_->writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_TRUE(writes[1] == ExpectedDriverFrame(4, 2, 3));
}

// Open and stop a thousand times while another thread keeps setting frames:
// every cycle ends (no stop is missed), and nothing reaches a closed port.
TEST_F(DriverSink, ThousandOpenStopCyclesWithFramesArriving) {
    const AVFramePtr frame = MakeTightPatternFrame(4, 2, 7);
    std::atomic<bool> done{false};
    std::thread producer([&] {
        while (!done) sink_->SetFrame(frame.get());
    });
    constexpr int kCycles = 1000;
    int failedOpens = 0;
    int missedWrites = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        if (!sink_->OpenCamera()) ++failedOpens;
        // Now and then, make sure the session really writes.
        if (cycle % 10 == 0 && !port_->WaitForWrites(port_->writes().size() + 1)) ++missedWrites;
        sink_->Stop();
    }
    done = true;
    producer.join();
    EXPECT_EQ(failedOpens, 0);
    EXPECT_EQ(missedWrites, 0);
    EXPECT_EQ(port_->opens(), kCycles);
    EXPECT_EQ(port_->writesWhileClosed(), 0);
    const auto writes = port_->writes();
    EXPECT_GE(writes.size(), static_cast<size_t>(kCycles / 10));
    const std::vector<uint8_t> expected = ExpectedDriverFrame(4, 2, 7);
    EXPECT_TRUE(std::all_of(writes.begin(), writes.end(), [&](const auto& write) { return write == expected; }));
}

}  // namespace
