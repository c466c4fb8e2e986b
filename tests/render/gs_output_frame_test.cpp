// The render output: RGBA read-backs to tagged YUV420P frames, pts from the
// read-back's time stamp, sinks in list order, a new scaler for a new size,
// and no frame at all when the conversion fails.
#include <gtest/gtest.h>

#include <cstdlib>

extern "C" {
#include <libavutil/log.h>
}

#include "gs_output_frame.h"
#include "ref_counted_object.h"
#include "render_test_support.h"
#include "support/tether_environment.h"
#include "vexo/gs_device.h"
#include "vexo/gs_scene.h"
#include "zuc_camera_video_source.h"

namespace {

class OutputFrame : public RenderFixture {
protected:
    OutputFrame() {
        scene_ = new RefCountedObject<GsScene>(16, 16, GsDevice::DefaultDevice());
        scene_->AddRef();
    }
    ~OutputFrame() override { scene_->Release(); }

    // A solid RGBA read-back of the given size.
    void Deliver(GsOutputFrame& output, uint32_t width, uint32_t height, const uint8_t rgba[4], uint64_t timestamp) {
        std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = rgba[i % 4];
        gs_raw_frame raw;
        raw.width = width;
        raw.height = height;
        raw.data[0] = pixels.data();
        raw.linesize[0] = static_cast<int32_t>(width * 4);
        raw.timestamp = timestamp;
        output.OnRawFrame(raw);
    }

    GsScene* scene_ = nullptr;  // one reference
    std::vector<PushedFrame> journal_;
};

struct YuvCase {
    const char* what;
    uint8_t rgba[4];
    int y, u, v;
};

TEST_F(OutputFrame, RgbaBecomesLimitedRangeBt709Yuv420p) {
    RecordingSink sink(1, &journal_);
    GsOutputFrame output(scene_, 16, 16, kGsOutputRgba, {&sink});
    const YuvCase cases[] = {
        {"white", {255, 255, 255, 255}, 235, 128, 128},
        {"black", {0, 0, 0, 255}, 16, 128, 128},
        // 16 + 219 * 0.2126; 128 - 112 * 0.2126 / 0.9278; 128 + 112.
        {"red", {255, 0, 0, 255}, 63, 102, 240},
    };
    for (const YuvCase& c : cases) {
        journal_.clear();
        Deliver(output, 16, 16, c.rgba, 0);
        ASSERT_EQ(journal_.size(), 1u) << c.what;
        const PushedFrame& f = journal_[0];
        EXPECT_EQ(f.format, AV_PIX_FMT_YUV420P);
        EXPECT_NEAR(f.y, c.y, 1) << c.what;
        EXPECT_NEAR(f.u, c.u, 1) << c.what;
        EXPECT_NEAR(f.v, c.v, 1) << c.what;
        EXPECT_EQ(f.colorRange, AVCOL_RANGE_MPEG) << c.what;
        EXPECT_EQ(f.colorspace, AVCOL_SPC_BT709) << c.what;
    }
}

TEST_F(OutputFrame, SinksInListOrderPtsFromTheTimestampAndANewSize) {
    RecordingSink first(1, &journal_), second(2, &journal_), third(3, &journal_);
    GsOutputFrame output(scene_, 16, 16, kGsOutputRgba, {&second, &first, &third});
    const uint8_t grey[4] = {128, 128, 128, 255};
    Deliver(output, 16, 16, grey, 1999);
    Deliver(output, 16, 16, grey, 2000);
    Deliver(output, 32, 8, grey, 5'000'000'000ULL);
    ASSERT_EQ(journal_.size(), 9u);
    const int order[3] = {2, 1, 3};
    const int64_t pts[3] = {1, 2, 5'000'000};
    for (size_t i = 0; i < journal_.size(); ++i) {
        EXPECT_EQ(journal_[i].sink, order[i % 3]) << i;
        EXPECT_EQ(journal_[i].pts, pts[i / 3]) << i;
    }
    EXPECT_EQ(journal_[8].width, 32);
    EXPECT_EQ(journal_[8].height, 8);
}

TEST_F(OutputFrame, FailedConversionPushesNothingAndLogsOnce) {
    zucam::test::TetherEnvironment tether;
    av_log_set_level(AV_LOG_QUIET);
    RecordingSink sink(1, &journal_);
    GsOutputFrame output(scene_, 16, 16, kGsOutputRgba, {&sink});
    const uint8_t white[4] = {255, 255, 255, 255};
    // A read-back without its plane: swscale refuses every conversion.
    gs_raw_frame broken;
    broken.width = 16;
    broken.height = 16;
    broken.linesize[0] = 64;
    for (int i = 0; i < 3; ++i) output.OnRawFrame(broken);
    EXPECT_TRUE(journal_.empty());
    EXPECT_EQ(zucam::test::CountInLog("frame skipped"), 1);
    // The next good size converts again.
    Deliver(output, 16, 16, white, 0);
    EXPECT_EQ(journal_.size(), 1u);
}

// Frames a sink still holds keep their pictures while the output goes on
// (their buffers are reused only once every sink has let go of them).
TEST_F(OutputFrame, HeldFramesKeepTheirPicturesWhileBuffersAreReused) {
    class HoldingSink final : public StreamVideoSink {
    public:
        void Push(AVFrame* frame) override { held.push_back(CloneFrame(frame)); }
        void ShowBlack() override {}
        void SetFrame(AVFrame*) override {}
        std::vector<AVFramePtr> held;
    } holder;
    GsOutputFrame output(scene_, 16, 16, kGsOutputRgba, {&holder});
    const uint8_t greys[4][4] = {{0, 0, 0, 255}, {255, 255, 255, 255}, {128, 128, 128, 255}, {60, 60, 60, 255}};
    for (int round = 0; round < 3; ++round) {
        for (const auto& grey : greys) Deliver(output, 16, 16, grey, 0);
        // Let go of all but the last frame: their buffers come back.
        holder.held.erase(holder.held.begin(), holder.held.end() - 1);
    }
    for (const auto& grey : greys) Deliver(output, 16, 16, grey, 0);
    ASSERT_EQ(holder.held.size(), 5u);
    const int expected[5] = {68, 16, 235, 126, 68};  // 60, then the four greys again
    for (size_t i = 0; i < holder.held.size(); ++i) {
        const AVFrame* frame = holder.held[i].get();
        EXPECT_NEAR(frame->data[0][0], expected[i], 1) << i;
        EXPECT_NEAR(frame->data[0][15 * frame->linesize[0] + 15], expected[i], 1) << i;
        EXPECT_NEAR(frame->data[1][7 * frame->linesize[1] + 7], 128, 1) << i;
    }
}

// The whole path: a source's picture composed by the device reaches the
// sink with the device's time stamp.
TEST_F(OutputFrame, ComposedFrameReachesTheSinks) {
    FixedFrameProvider provider;
    provider.SetImage(FixedFrameProvider::Solid(16, 16, qRgb(255, 255, 255)));
    auto* source = new RefCountedObject<ZucCameraVideoSource>(QSize(16, 16), &provider);
    source->AddRef();
    source->CreateItem();
    scene_->AddItem(source->item());
    RecordingSink sink(1, &journal_);
    {
        GsOutputFrame output(scene_, 16, 16, kGsOutputRgba, {&sink});
        ASSERT_TRUE(output.Start());
        GsDevice::DefaultDevice()->ComposeFrame(40'000'000);
    }
    ASSERT_EQ(journal_.size(), 1u);
    EXPECT_EQ(journal_[0].pts, 40'000);
    EXPECT_NEAR(journal_[0].y, 235, 1);
    source->Release();
}

}  // namespace
