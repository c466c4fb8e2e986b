// Frames the packer must refuse without reading them: too small once cropped
// to even, or so large that the length overflows 32 bits (a 32-bit product
// would wrap to a small buffer and the row copies would run far past it).
#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <string>

#include "devices/driver_sink/driver_frame_packer.h"
#include "driver_test_frames.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

struct RefusalCase {
    int width;
    int height;
    DriverFramePacker::Result result;
};

void PrintTo(const RefusalCase& size, std::ostream* out) { *out << size.width << "x" << size.height; }

class PackerRefuses : public testing::TestWithParam<RefusalCase> {};

// The planes are one byte each: any read of them beyond that is a fault
// ASan reports, and a wrong result shows without it.
TEST_P(PackerRefuses, WithoutTouchingThePlanes) {
    const RefusalCase size = GetParam();
    uint8_t plane[3] = {1, 2, 3};
    AVFrame frame{};
    frame.format = AV_PIX_FMT_YUV420P;
    frame.width = size.width;
    frame.height = size.height;
    for (int i = 0; i < 3; ++i) {
        frame.data[i] = &plane[i];
        frame.linesize[i] = 1;
    }
    DriverFramePacker packer;
    EXPECT_EQ(packer.Pack(frame), size.result);
    EXPECT_EQ(packer.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PackerRefuses,
    testing::Values(RefusalCase{1, 1, DriverFramePacker::Result::NoPicture},
                    RefusalCase{1, 480, DriverFramePacker::Result::NoPicture},
                    RefusalCase{640, 1, DriverFramePacker::Result::NoPicture},
                    RefusalCase{0, 0, DriverFramePacker::Result::NoPicture},
                    RefusalCase{-4, 4, DriverFramePacker::Result::NoPicture},
                    RefusalCase{65536, 65536, DriverFramePacker::Result::TooLarge},   // w * h wraps to 0
                    RefusalCase{37838, 37838, DriverFramePacker::Result::TooLarge},   // w * h * 3 wraps
                    RefusalCase{INT_MAX - 1, 2, DriverFramePacker::Result::TooLarge}),
    [](const testing::TestParamInfo<RefusalCase>& param) {
        const RefusalCase& size = param.param;
        return (size.width < 0 ? "minus" + std::to_string(-size.width) : std::to_string(size.width)) + "x" +
               std::to_string(size.height);
    });

TEST(Packer, LengthIsComputedIn64Bits) {
    EXPECT_EQ(DriverFramePacker::PackedLength(1920, 1080), 3110464);
    EXPECT_EQ(DriverFramePacker::PackedLength(65536, 65536), 64 + 65536LL * 65536 * 3 / 2);
}

// A frame without chroma planes is not a picture, whatever its size says.
TEST(Packer, RefusesMissingPlanes) {
    const AVFramePtr frame = zucam::test::MakeTightPatternFrame(4, 4, 0);
    ASSERT_TRUE(frame);
    frame->data[2] = nullptr;
    DriverFramePacker packer;
    EXPECT_EQ(packer.Pack(*frame), DriverFramePacker::Result::NoPicture);
}

}  // namespace
