#include <cstring>
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include "conversion_cases.h"
#include "support/tether_environment.h"
#include "test_frames.h"
#include "video_sink/stream_video_sink_sw_impl.h"

namespace {

using zucam::test::ConversionCase;
using zucam::test::FirstPixelOff;
using zucam::test::kConversionTolerance;
using zucam::test::MakeFrame;
using zucam::test::MakeUniformYuvFrame;
using zucam::test::Yuv;

class SoftwareSink : public testing::Test {
protected:
    SoftwareSink() : sink_(StreamVideoSinkSwImpl::Create()) { sink_->enabled = true; }

    // Pushes the frame and returns what GetImage gives next.
    QImage PushAndGet(const AVFramePtr& frame) {
        sink_->Push(frame.get());
        return sink_->GetImage();
    }

    std::unique_ptr<StreamVideoSinkSw> sink_;
};

class SoftwareSinkConversion : public SoftwareSink, public testing::WithParamInterface<ConversionCase> {};

TEST_P(SoftwareSinkConversion, GivesExactRgba) {
    const ConversionCase& c = GetParam();
    const AVFramePtr frame = MakeUniformYuvFrame(
        c.width, c.height, Yuv{uint8_t(c.y), uint8_t(c.u), uint8_t(c.v)}, c.range, c.space);
    const QImage image = PushAndGet(frame);
    ASSERT_EQ(image.size(), QSize(c.width, c.height));
    EXPECT_EQ(image.format(), QImage::Format_RGBA8888);
    EXPECT_EQ(FirstPixelOff(image, c.r, c.g, c.b, kConversionTolerance), "");
}

INSTANTIATE_TEST_SUITE_P(RangesAndSpaces, SoftwareSinkConversion, testing::ValuesIn(zucam::test::kConversionCases),
                         zucam::test::ConversionCaseName);

// Formats other than YUV420P are converted too.
TEST_F(SoftwareSink, ConvertsOtherSourceFormats) {
    AVFramePtr nv12 = MakeFrame(AV_PIX_FMT_NV12, 6, 4);
    std::memset(nv12->data[0], 235, static_cast<size_t>(nv12->linesize[0]) * 4);
    std::memset(nv12->data[1], 128, static_cast<size_t>(nv12->linesize[1]) * 2);
    nv12->color_range = AVCOL_RANGE_MPEG;
    EXPECT_EQ(FirstPixelOff(PushAndGet(nv12), 255, 255, 255, kConversionTolerance), "") << "nv12";

    AVFramePtr rgb = MakeFrame(AV_PIX_FMT_RGB24, 5, 3);
    for (int row = 0; row < 3; ++row) {
        for (int x = 0; x < 5; ++x) {
            uint8_t* const pixel = rgb->data[0] + row * rgb->linesize[0] + x * 3;
            pixel[0] = 200;
            pixel[1] = 100;
            pixel[2] = 50;
        }
    }
    EXPECT_EQ(FirstPixelOff(PushAndGet(rgb), 200, 100, 50, kConversionTolerance), "") << "rgb24";

    // The J formats are full range whatever the range field says.
    AVFramePtr yuvj = MakeFrame(AV_PIX_FMT_YUVJ420P, 4, 2);
    std::memset(yuvj->data[0], 64, static_cast<size_t>(yuvj->linesize[0]) * 2);
    std::memset(yuvj->data[1], 128, static_cast<size_t>(yuvj->linesize[1]));
    std::memset(yuvj->data[2], 128, static_cast<size_t>(yuvj->linesize[2]));
    EXPECT_EQ(FirstPixelOff(PushAndGet(yuvj), 64, 64, 64, kConversionTolerance), "") << "yuvj420p";
}

// One sink follows changes of size, format and range from frame to frame.
TEST_F(SoftwareSink, FollowsChangesOfSizeFormatAndRange) {
    const QImage small = PushAndGet(MakeUniformYuvFrame(4, 2, {235, 128, 128}));
    EXPECT_EQ(small.size(), QSize(4, 2));
    EXPECT_EQ(FirstPixelOff(small, 255, 255, 255, kConversionTolerance), "");

    const QImage larger = PushAndGet(MakeUniformYuvFrame(33, 9, {16, 128, 128}));
    EXPECT_EQ(larger.size(), QSize(33, 9));
    EXPECT_EQ(FirstPixelOff(larger, 0, 0, 0, kConversionTolerance), "");

    const QImage fullRange = PushAndGet(MakeUniformYuvFrame(33, 9, {64, 128, 128}, AVCOL_RANGE_JPEG));
    EXPECT_EQ(FirstPixelOff(fullRange, 64, 64, 64, kConversionTolerance), "");

    AVFramePtr nv12 = MakeFrame(AV_PIX_FMT_NV12, 33, 9);
    std::memset(nv12->data[0], 235, static_cast<size_t>(nv12->linesize[0]) * 9);
    std::memset(nv12->data[1], 128, static_cast<size_t>(nv12->linesize[1]) * 5);
    EXPECT_EQ(FirstPixelOff(PushAndGet(nv12), 255, 255, 255, kConversionTolerance), "");

    // Earlier images keep their pictures: the sink never writes an image it
    // has handed out.
    EXPECT_EQ(FirstPixelOff(small, 255, 255, 255, kConversionTolerance), "");
    EXPECT_EQ(FirstPixelOff(larger, 0, 0, 0, kConversionTolerance), "");
}

TEST_F(SoftwareSink, IgnoresFramesWhileDisabled) {
    EXPECT_TRUE(sink_->GetImage().isNull());
    sink_->enabled = false;
    EXPECT_TRUE(PushAndGet(MakeUniformYuvFrame(4, 2, {235, 128, 128})).isNull());
    sink_->Push(nullptr);
    EXPECT_TRUE(sink_->GetImage().isNull());
}

TEST_F(SoftwareSink, GetImageRepeatsTheLastPictureUntilANewOneComes) {
    const QImage first = PushAndGet(MakeUniformYuvFrame(4, 2, {235, 128, 128}));
    const QImage again = sink_->GetImage();
    EXPECT_EQ(again, first);
    EXPECT_EQ(again.cacheKey(), first.cacheKey());

    const QImage next = PushAndGet(MakeUniformYuvFrame(4, 2, {16, 128, 128}));
    EXPECT_EQ(FirstPixelOff(next, 0, 0, 0, kConversionTolerance), "");
    EXPECT_EQ(FirstPixelOff(first, 255, 255, 255, kConversionTolerance), "");
}

TEST_F(SoftwareSink, ShowBlackNeedsAConvertedFrame) {
    sink_->ShowBlack();
    EXPECT_TRUE(sink_->GetImage().isNull());

    PushAndGet(MakeUniformYuvFrame(5, 3, {235, 128, 128}));
    sink_->ShowBlack();
    const QImage black = sink_->GetImage();
    EXPECT_EQ(black.size(), QSize(5, 3));
    EXPECT_EQ(FirstPixelOff(black, 0, 0, 0, 0), "");
}

TEST_F(SoftwareSink, ShowBlackAfterAnotherSourceFormat) {
    AVFramePtr rgb = MakeFrame(AV_PIX_FMT_RGB24, 6, 4);
    std::memset(rgb->data[0], 255, static_cast<size_t>(rgb->linesize[0]) * 4);
    PushAndGet(rgb);
    sink_->ShowBlack();
    const QImage black = sink_->GetImage();
    EXPECT_EQ(black.size(), QSize(6, 4));
    EXPECT_EQ(FirstPixelOff(black, 0, 0, 0, 0), "");
}

// SetFrame converts only once Push has made a context, and a frame of
// another size gets a context of its own instead of being read past its end.
TEST_F(SoftwareSink, SetFrameNeedsAContextAndFollowsTheFrameSize) {
    const AVFramePtr white = MakeUniformYuvFrame(4, 2, {235, 128, 128});
    sink_->SetFrame(white.get());
    EXPECT_TRUE(sink_->GetImage().isNull());

    PushAndGet(white);
    const AVFramePtr smaller = MakeUniformYuvFrame(3, 1, {16, 128, 128});
    sink_->SetFrame(smaller.get());
    const QImage image = sink_->GetImage();
    EXPECT_EQ(image.size(), QSize(3, 1));
    EXPECT_EQ(FirstPixelOff(image, 0, 0, 0, kConversionTolerance), "");
}

// Context errors are logged once, and again only after a conversion has
// worked; the sink keeps converting good frames in between.
TEST(SoftwareSinkLog, ContextErrorsAreLoggedOnceUntilAConversionWorks) {
    zucam::test::TetherEnvironment tether;
    av_log_set_level(AV_LOG_QUIET);
    const auto sink = StreamVideoSinkSwImpl::Create();
    sink->enabled = true;
    // A hardware format: swscale cannot read it, so sws_init_context fails.
    AVFramePtr unreadable(av_frame_alloc());
    unreadable->format = AV_PIX_FMT_VAAPI;
    unreadable->width = 4;
    unreadable->height = 2;
    const AVFramePtr good = MakeUniformYuvFrame(4, 2, {235, 128, 128});

    const auto initFailures = [] { return zucam::test::CountInLog("render sw: sws_init_context failed error: "); };

    for (int i = 0; i < 3; ++i) sink->Push(unreadable.get());
    EXPECT_EQ(initFailures(), 1);
    EXPECT_TRUE(sink->GetImage().isNull());

    sink->Push(good.get());
    EXPECT_EQ(FirstPixelOff(sink->GetImage(), 255, 255, 255, kConversionTolerance), "");

    for (int i = 0; i < 3; ++i) sink->Push(unreadable.get());
    EXPECT_EQ(initFailures(), 2);
}

}  // namespace
