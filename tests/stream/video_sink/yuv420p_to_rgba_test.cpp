// Our own YUV420P -> RGBA converter against the installed libswscale: the
// same bytes for every Y, U and V value, every colour space and range a
// frame can carry, odd widths, padded lines and tiny pictures; swscale kept
// where it computes otherwise (odd heights, other formats); and the frame
// provider's pictures equal swscale's.
#include <gtest/gtest.h>

#include <QImage>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "ffmpeg_color.h"
#include "test_frames.h"
#include "video_sink/rgba_conversion.h"
#include "video_sink/stream_video_sink_sw_impl.h"
#include "video_sink/yuv420p_to_rgba.h"

namespace {

using zucam::test::MakeFrame;

constexpr uint8_t kUntouched = 0x5A;

// swscale's picture of frame, as the sinks made it before our converter.
QImage SwscaleRgba(const AVFrame& frame) {
    RgbaContext built = CreateRgbaContext(frame);
    if (!built.context) return QImage();
    QImage image = AllocateRgbaImage(frame.width, frame.height);
    if (image.isNull() || ScaleToRgba(built.context.get(), frame, &image) != frame.height) return QImage();
    return image;
}

// Empty when the visible pixels are equal, otherwise the first that is not.
std::string FirstDifference(const QImage& expected, const QImage& actual) {
    if (expected.size() != actual.size()) return "sizes differ";
    for (int row = 0; row < expected.height(); ++row) {
        const uint8_t* const want = expected.constScanLine(row);
        const uint8_t* const got = actual.constScanLine(row);
        if (std::memcmp(want, got, static_cast<size_t>(expected.width()) * 4) == 0) continue;
        for (int x = 0; x < expected.width(); ++x) {
            if (std::memcmp(want + x * 4, got + x * 4, 4) != 0) {
                return "pixel (" + std::to_string(x) + ", " + std::to_string(row) + "): swscale " +
                       std::to_string(want[x * 4]) + "," + std::to_string(want[x * 4 + 1]) + "," +
                       std::to_string(want[x * 4 + 2]) + "," + std::to_string(want[x * 4 + 3]) + ", ours " +
                       std::to_string(got[x * 4]) + "," + std::to_string(got[x * 4 + 1]) + "," +
                       std::to_string(got[x * 4 + 2]) + "," + std::to_string(got[x * 4 + 3]);
            }
        }
    }
    return "";
}

// Empty when no byte past width * 4 of any line changed.
std::string PaddingTouched(const QImage& image) {
    const int visible = image.width() * 4;
    for (int row = 0; row < image.height(); ++row) {
        const uint8_t* const line = image.constScanLine(row);
        for (int x = visible; x < image.bytesPerLine(); ++x) {
            if (line[x] != kUntouched) return "line " + std::to_string(row) + " byte " + std::to_string(x);
        }
    }
    return "";
}

struct Variant {
    RgbaIsa isa;
    RgbaStores stores;
    const char* name;
};

constexpr Variant kVariants[] = {
    {RgbaIsa::kScalar, RgbaStores::kCached, "scalar"},
    {RgbaIsa::kSse2, RgbaStores::kCached, "sse2"},
    {RgbaIsa::kSse2, RgbaStores::kStreaming, "sse2 streaming"},
    {RgbaIsa::kAvx2, RgbaStores::kCached, "avx2"},
    {RgbaIsa::kAvx2, RgbaStores::kStreaming, "avx2 streaming"},
};

// Our picture of frame with one variant, into an image whose line padding
// holds kUntouched; null when this machine lacks the instruction set.
QImage OurRgba(const Variant& variant, const AVFrame& frame) {
    QImage image = AllocateRgbaImage(frame.width, frame.height);
    if (image.isNull()) return image;
    std::memset(image.bits(), kUntouched, static_cast<size_t>(image.sizeInBytes()));
    const Yuv420pToRgbaTable table = MakeYuv420pToRgbaTable(SwsCoefficientsOf(frame), SwsRangeOf(frame));
    if (!ConvertYuv420pToRgbaWith(variant.isa, table, frame, image.bits(), static_cast<int>(image.bytesPerLine()),
                                  variant.stores)) {
        return QImage();
    }
    return image;
}

// A YUV420P frame of random bytes whose lines are extra bytes longer than
// FFmpeg would make them.
AVFramePtr MakeRandomFrame(int width, int height, int extra, AVColorRange range, AVColorSpace space,
                           uint32_t seed) {
    AVFramePtr frame = MakeFrame(AV_PIX_FMT_YUV420P, width + extra, height);
    if (!frame) return nullptr;
    frame->width = width;
    frame->color_range = range;
    frame->colorspace = space;
    std::mt19937 random(seed);
    for (int plane = 0; plane < 3; ++plane) {
        const size_t bytes =
            static_cast<size_t>(frame->linesize[plane]) * static_cast<size_t>(zucam::test::PlaneRows(*frame, plane));
        for (size_t i = 0; i < bytes; ++i) frame->data[plane][i] = static_cast<uint8_t>(random());
    }
    return frame;
}

// Every (Y, U, V): each 2 x 2 block holds one (U, V) and four Y values, 64
// blocks per (U, V) cover the 256 Y values, 4096 x 4096 pixels in all.
const AVFrame& EveryValueFrame() {
    static const AVFramePtr frame = [] {
        constexpr int kSide = 4096;
        constexpr int kChromaSide = kSide / 2;
        AVFramePtr made = MakeFrame(AV_PIX_FMT_YUV420P, kSide, kSide);
        for (int cy = 0; cy < kChromaSide; ++cy) {
            uint8_t* const top = made->data[0] + static_cast<ptrdiff_t>(2 * cy) * made->linesize[0];
            uint8_t* const bottom = top + made->linesize[0];
            for (int cx = 0; cx < kChromaSide; ++cx) {
                const int block = cy * kChromaSide + cx;
                const int chroma = block / 64;
                const int luma = (block % 64) * 4;
                made->data[1][cy * made->linesize[1] + cx] = static_cast<uint8_t>(chroma >> 8);
                made->data[2][cy * made->linesize[2] + cx] = static_cast<uint8_t>(chroma & 0xff);
                top[2 * cx] = static_cast<uint8_t>(luma);
                top[2 * cx + 1] = static_cast<uint8_t>(luma + 1);
                bottom[2 * cx] = static_cast<uint8_t>(luma + 2);
                bottom[2 * cx + 1] = static_cast<uint8_t>(luma + 3);
            }
        }
        return made;
    }();
    return *frame;
}

const char* RangeName(AVColorRange range) { return range == AVCOL_RANGE_JPEG ? "full" : "limited"; }

// One colour space of each of swscale's distinct tables (BT.470BG,
// SMPTE 170M and the unspecified space share BT.601's), both ranges.
class EveryValue : public testing::TestWithParam<std::tuple<AVColorSpace, AVColorRange>> {};

TEST_P(EveryValue, MatchesSwscaleWithEveryInstructionSet) {
    if (!Yuv420pFastPathApplies(EveryValueFrame())) GTEST_SKIP() << "swscale computes otherwise on this machine";
    AVFramePtr frame(av_frame_clone(&EveryValueFrame()));
    ASSERT_TRUE(frame);
    frame->colorspace = std::get<0>(GetParam());
    frame->color_range = std::get<1>(GetParam());
    const QImage expected = SwscaleRgba(*frame);
    ASSERT_FALSE(expected.isNull());
    for (const Variant& variant : kVariants) {
        const QImage ours = OurRgba(variant, *frame);
        if (ours.isNull()) continue;  // no AVX2 here
        EXPECT_EQ(FirstDifference(expected, ours), "") << variant.name;
    }
}

// The sweep checks arithmetic, which a sanitizer build computes no
// differently, only some ten times slower: there it covers BT.709 alone (the
// sizes below still run every code path under the sanitizer).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZUCAM_EVERY_TABLE AVCOL_SPC_BT709
#else
#define ZUCAM_EVERY_TABLE \
    AVCOL_SPC_BT709, AVCOL_SPC_UNSPECIFIED, AVCOL_SPC_FCC, AVCOL_SPC_SMPTE240M, AVCOL_SPC_BT2020_NCL
#endif
INSTANTIATE_TEST_SUITE_P(
    Tables, EveryValue,
    testing::Combine(testing::Values(ZUCAM_EVERY_TABLE), testing::Values(AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG)),
    [](const testing::TestParamInfo<EveryValue::ParamType>& testInfo) {
        return std::string(av_color_space_name(std::get<0>(testInfo.param))) + "_" + RangeName(std::get<1>(testInfo.param));
    });

struct Size {
    int width;
    int height;
    int extra;  // bytes added to each source line
};

// 1080p and other stream sizes, odd widths around every block edge (16 and
// 32 pixels), padded source lines, and pictures of one or two pixels.
constexpr Size kSizes[] = {
    {1920, 1080, 0}, {1919, 1080, 0}, {1921, 1082, 64}, {1280, 720, 0}, {720, 1280, 3}, {2, 2, 0},
    {1, 2, 0},       {3, 2, 0},       {15, 2, 0},       {16, 2, 0},     {17, 2, 1},     {31, 4, 0},
    {32, 2, 0},      {33, 6, 0},      {47, 2, 5},       {63, 8, 0},     {65, 4, 0},     {97, 10, 100},
};

TEST(DirectConverter, MatchesSwscaleOnEverySize) {
    if (!Yuv420pFastPathApplies(*MakeFrame(AV_PIX_FMT_YUV420P, 2, 2))) {
        GTEST_SKIP() << "swscale computes otherwise on this machine";
    }
    uint32_t seed = 1;
    for (const Size& size : kSizes) {
        for (const AVColorRange range : {AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG}) {
            for (const AVColorSpace space : {AVCOL_SPC_BT709, AVCOL_SPC_SMPTE170M}) {
                const AVFramePtr frame = MakeRandomFrame(size.width, size.height, size.extra, range, space, seed++);
                ASSERT_TRUE(frame);
                const QImage expected = SwscaleRgba(*frame);
                ASSERT_FALSE(expected.isNull());
                for (const Variant& variant : kVariants) {
                    const QImage ours = OurRgba(variant, *frame);
                    if (ours.isNull()) continue;
                    const std::string where = std::to_string(size.width) + "x" + std::to_string(size.height) +
                                              " " + RangeName(range) + " " + av_color_space_name(space) + " " +
                                              variant.name;
                    EXPECT_EQ(FirstDifference(expected, ours), "") << where;
                    EXPECT_EQ(PaddingTouched(ours), "") << where;
                }
            }
        }
    }
}

// Which frames go through our converter: YUV420P and YUVJ420P of even
// height, with the table of their colour space and range; everything else
// stays with swscale.
TEST(DirectConverter, IsChosenOnlyWhereItGivesSwscalesBytes) {
    const bool x86WithSsse3 = Yuv420pFastPathApplies(*MakeFrame(AV_PIX_FMT_YUV420P, 2, 2));
    struct Case {
        AVPixelFormat format;
        int width;
        int height;
        bool direct;
    };
    const Case cases[] = {
        {AV_PIX_FMT_YUV420P, 1920, 1080, true}, {AV_PIX_FMT_YUV420P, 17, 2, true},
        {AV_PIX_FMT_YUVJ420P, 6, 4, true},      {AV_PIX_FMT_YUV420P, 1920, 1081, false},
        {AV_PIX_FMT_YUV420P, 4, 1, false},      {AV_PIX_FMT_YUVJ420P, 6, 3, false},
        {AV_PIX_FMT_NV12, 6, 4, false},         {AV_PIX_FMT_YUV422P, 6, 4, false},
        {AV_PIX_FMT_YUV444P, 6, 4, false},      {AV_PIX_FMT_RGB24, 6, 4, false},
    };
    for (const Case& c : cases) {
        for (const AVColorRange range : {AVCOL_RANGE_UNSPECIFIED, AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG}) {
            AVFramePtr frame = MakeFrame(c.format, c.width, c.height);
            ASSERT_TRUE(frame);
            frame->color_range = range;
            frame->colorspace = AVCOL_SPC_BT709;
            const RgbaContext built = CreateRgbaContext(*frame);
            ASSERT_TRUE(built.context);
            const std::string where = std::string(av_get_pix_fmt_name(c.format)) + " " + std::to_string(c.width) +
                                      "x" + std::to_string(c.height) + " range " + std::to_string(range);
            ASSERT_EQ(built.direct.has_value(), c.direct && x86WithSsse3) << where;
            if (!built.direct) continue;
            const Yuv420pToRgbaTable want = MakeYuv420pToRgbaTable(SwsCoefficientsOf(*frame), SwsRangeOf(*frame));
            EXPECT_EQ(built.direct->yCoeff, want.yCoeff) << where;
            EXPECT_EQ(built.direct->yOffset, want.yOffset) << where;
            EXPECT_EQ(built.direct->vr, want.vr) << where;
            EXPECT_EQ(built.direct->ub, want.ub) << where;
            EXPECT_EQ(built.direct->ug, want.ug) << where;
            EXPECT_EQ(built.direct->vg, want.vg) << where;
        }
    }
}

// The tables of the two commonest cases as the comparison with swscale
// established them: a change of the rounding shows here by name.
TEST(DirectConverter, TablesFollowSwscalesRounding) {
    const Yuv420pToRgbaTable limited601 = MakeYuv420pToRgbaTable(sws_getCoefficients(SWS_CS_ITU601), 0);
    EXPECT_EQ(limited601.yCoeff, 9539);  // 65536 * 255 / 219 / 8, rounded
    EXPECT_EQ(limited601.yOffset, 128);  // 16 << 3
    EXPECT_EQ(limited601.vr, 13075);
    EXPECT_EQ(limited601.ub, 16525);
    EXPECT_EQ(limited601.ug, -3209);
    EXPECT_EQ(limited601.vg, -6660);
    const Yuv420pToRgbaTable full709 = MakeYuv420pToRgbaTable(sws_getCoefficients(SWS_CS_ITU709), 1);
    EXPECT_EQ(full709.yCoeff, 8192);
    EXPECT_EQ(full709.yOffset, 0);
    EXPECT_EQ(full709.vr, 12901);  // scaled by 224 / 255 first
    EXPECT_EQ(full709.ub, 15201);
    EXPECT_EQ(full709.ug, -1534);
    EXPECT_EQ(full709.vg, -3835);
}

// The frame provider's pictures equal swscale's for every colour space a
// frame can be tagged with, both ranges, both YUV420P formats, even and odd
// heights (the odd ones through swscale itself).
TEST(DirectConverter, FrameProviderGivesSwscalesPictures) {
    const auto sink = StreamVideoSinkSwImpl::Create();
    sink->enabled = true;
    uint32_t seed = 100;
    for (int space = 0; space < AVCOL_SPC_NB; ++space) {
        for (const AVColorRange range : {AVCOL_RANGE_UNSPECIFIED, AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG}) {
            for (const AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P}) {
                for (const int height : {34, 33}) {
                    AVFramePtr frame =
                        MakeRandomFrame(67, height, 0, range, static_cast<AVColorSpace>(space), seed++);
                    ASSERT_TRUE(frame);
                    frame->format = format;
                    const QImage expected = SwscaleRgba(*frame);
                    ASSERT_FALSE(expected.isNull());
                    sink->Push(frame.get());
                    EXPECT_EQ(FirstDifference(expected, sink->GetImage()), "")
                        << "space " << space << " range " << range << " " << av_get_pix_fmt_name(format)
                        << " height " << height;
                }
            }
        }
    }
}

// A picture a reader still holds is never written again, also by streaming
// stores: each picture keeps its own values after later ones.
TEST(DirectConverter, HeldPicturesStayAsTheyWere) {
    const auto sink = StreamVideoSinkSwImpl::Create();
    sink->enabled = true;
    std::vector<QImage> held;
    std::vector<QImage> expected;
    for (int i = 0; i < 6; ++i) {
        const AVFramePtr frame =
            MakeRandomFrame(1920, 1080, 0, AVCOL_RANGE_MPEG, AVCOL_SPC_BT709, static_cast<uint32_t>(500 + i));
        ASSERT_TRUE(frame);
        expected.push_back(SwscaleRgba(*frame));
        sink->Push(frame.get());
        held.push_back(sink->GetImage());
    }
    for (size_t i = 0; i < held.size(); ++i) EXPECT_EQ(FirstDifference(expected[i], held[i]), "") << "picture " << i;
}

}  // namespace
