#include <gtest/gtest.h>

#include "test_frames.h"
#include "video_sink/make_black_frame.h"

namespace {

using zucam::test::MakeFrame;
using zucam::test::PlaneRows;

struct BlackCase {
    int width;
    int height;
    AVPixelFormat referenceFormat;
};

class MakeBlackFrameSizes : public testing::TestWithParam<BlackCase> {};

// Every byte of every line, padding included, is black: Y 0, U and V 128.
TEST_P(MakeBlackFrameSizes, FillsEveryLineOfEveryPlane) {
    const BlackCase c = GetParam();
    const AVFramePtr reference = MakeFrame(c.referenceFormat, c.width, c.height);
    ASSERT_TRUE(reference);
    const AVFramePtr black = MakeBlackFrame(reference.get());
    ASSERT_TRUE(black);
    EXPECT_EQ(black->width, c.width);
    EXPECT_EQ(black->height, c.height);
    EXPECT_EQ(black->format, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(black->color_range, AVCOL_RANGE_JPEG);
    EXPECT_EQ(PlaneRows(*black, 1), (c.height + 1) / 2);
    const int expected[3] = {0, 128, 128};
    for (int plane = 0; plane < 3; ++plane) {
        EXPECT_GE(black->linesize[plane], zucam::test::PlaneWidth(*black, plane)) << "plane " << plane;
        EXPECT_EQ(black->linesize[plane] % 32, 0) << "plane " << plane;
        int wrong = 0;
        for (int row = 0; row < PlaneRows(*black, plane); ++row) {
            for (int column = 0; column < black->linesize[plane]; ++column) {
                if (black->data[plane][row * black->linesize[plane] + column] != expected[plane]) ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0) << "plane " << plane;
    }
}

INSTANTIATE_TEST_SUITE_P(
    OddAndEven, MakeBlackFrameSizes,
    testing::Values(BlackCase{1, 1, AV_PIX_FMT_YUV420P}, BlackCase{5, 3, AV_PIX_FMT_YUV420P},
                    BlackCase{4, 2, AV_PIX_FMT_YUV420P}, BlackCase{33, 17, AV_PIX_FMT_YUV420P},
                    BlackCase{1280, 720, AV_PIX_FMT_YUV420P},
                    // Another reference format still gives a YUV420P frame.
                    BlackCase{7, 5, AV_PIX_FMT_RGBA}, BlackCase{6, 4, AV_PIX_FMT_NV12}));

// The frame owns reference-counted planes: a clone shares them, and freeing
// both releases everything (LeakSanitizer checks the ASan build).
TEST(MakeBlackFrame, OwnsItsPlanesAndCanBeCloned) {
    const AVFramePtr reference = MakeFrame(AV_PIX_FMT_YUV420P, 5, 3);
    AVFramePtr black = MakeBlackFrame(reference.get());
    ASSERT_TRUE(black);
    ASSERT_NE(black->buf[0], nullptr);
    const AVFramePtr clone = CloneFrame(black.get());
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->data[0], black->data[0]);
    black.reset();
    EXPECT_EQ(clone->data[1][0], 128);
}

TEST(MakeBlackFrame, NoFrameForNoReferenceOrEmptySize) {
    EXPECT_FALSE(MakeBlackFrame(nullptr));
    for (const auto& [width, height] : {std::pair{0, 2}, std::pair{4, 0}, std::pair{-1, 3}, std::pair{3, -5}}) {
        AVFramePtr reference(av_frame_alloc());
        reference->format = AV_PIX_FMT_YUV420P;
        reference->width = width;
        reference->height = height;
        EXPECT_FALSE(MakeBlackFrame(reference.get())) << width << "x" << height;
    }
}

}  // namespace
