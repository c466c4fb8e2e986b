// The render output's own RGBA -> YUV420P (BT.709, limited range) converter
// against swscale's result with the settings the render output used before
// (bilinear, full-range RGB in, limited-range BT.709 out): within one step on
// every sample, for a table of sizes (odd widths and heights, the smallest
// pictures, padded lines) and pictures (noise, gradients, solid extremes,
// and pictures that came from full- and limited-range YUV through the frame
// provider's RGBA conversion). Also through VideoScaler, which must give the
// same bytes whatever computes them, on one thread or on several. And the
// vector row kernels (SSE2, AVX2) give the plain loops' bytes exactly.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ffmpeg_color.h"
#include "ffmpeg_handles.h"
#include "scaler/rgba_to_yuv420p.h"
#include "scaler/rgba_to_yuv420p_kernels.h"
#include "scaler/video_scaler.h"

namespace {

enum class Pattern { kNoise, kGradient, kWhiteBlackColumns, kFromFullRangeYuv, kFromLimitedRangeYuv, kCubeCorners };

struct Picture {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> rgba;
};

struct Planes {
    std::vector<uint8_t> data[3];
    int linesize[3] = {};
    uint8_t* pointers[3] = {};
    Planes(int width, int height, int padding) {
        const int chromaWidth = (width + 1) / 2;
        const int chromaHeight = (height + 1) / 2;
        linesize[0] = width + padding;
        linesize[1] = linesize[2] = chromaWidth + padding;
        const int rows[3] = {height, chromaHeight, chromaHeight};
        for (int i = 0; i < 3; ++i) {
            // swscale's vector code may write past a line's end: room for it.
            data[i].assign(static_cast<size_t>(linesize[i]) * rows[i] + 64, 0xAA);
            pointers[i] = data[i].data();
        }
    }
};

// A YUV picture of the given range turned into RGBA by swscale, as the frame
// provider turns decoded pictures into the camera source's texture.
void FillFromYuv(Picture* picture, bool fullRange, std::mt19937* random) {
    const int width = picture->width;
    const int height = picture->height;
    AVFramePtr yuv(av_frame_alloc());
    yuv->format = fullRange ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    yuv->width = width;
    yuv->height = height;
    ASSERT_GE(av_frame_get_buffer(yuv.get(), 0), 0);
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane == 0 ? width : (width + 1) / 2;
        const int h = plane == 0 ? height : (height + 1) / 2;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                yuv->data[plane][y * yuv->linesize[plane] + x] = static_cast<uint8_t>((*random)() & 0xFF);
            }
        }
    }
    SwsContextPtr context(sws_alloc_context());
    const int range = fullRange ? kSwsFullRange : kSwsLimitedRange;
    ASSERT_GE(InitSwsContext(context.get(), SwsSetup{width, height, AV_PIX_FMT_YUV420P, range, width, height,
                                                     AV_PIX_FMT_RGBA, kSwsFullRange, SWS_BILINEAR}),
              0);
    SetSwsColor(context.get(), SwsCoefficientsFor(AVCOL_SPC_BT709), range, SwsCoefficientsFor(AVCOL_SPC_BT709),
                kSwsFullRange);
    std::vector<uint8_t> padded(static_cast<size_t>(picture->stride) * height + 256);
    uint8_t* const out[4] = {padded.data(), nullptr, nullptr, nullptr};
    const int outLines[4] = {picture->stride, 0, 0, 0};
    ASSERT_EQ(sws_scale(context.get(), yuv->data, yuv->linesize, 0, height, out, outLines), height);
    std::copy(padded.begin(), padded.begin() + static_cast<ptrdiff_t>(picture->stride) * height, picture->rgba.begin());
}

Picture MakePicture(int width, int height, int padding, Pattern pattern) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.stride = width * 4 + padding * 4;
    // swscale reads a pixel past the end of an odd-width row: zeros there,
    // so that its result does not depend on whatever follows the picture.
    picture.rgba.assign(static_cast<size_t>(picture.stride) * height + 64, 0);
    std::mt19937 random(static_cast<unsigned>(width * 7919 + height * 31 + static_cast<int>(pattern)));
    if (pattern == Pattern::kFromFullRangeYuv || pattern == Pattern::kFromLimitedRangeYuv) {
        FillFromYuv(&picture, pattern == Pattern::kFromFullRangeYuv, &random);
        return picture;
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = picture.rgba.data() + static_cast<size_t>(y) * picture.stride + x * 4;
            switch (pattern) {
            case Pattern::kNoise:
                for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(random() & 0xFF);
                break;
            case Pattern::kGradient:
                p[0] = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
                p[1] = static_cast<uint8_t>(y * 255 / std::max(1, height - 1));
                p[2] = static_cast<uint8_t>((x + y) * 255 / std::max(1, width + height - 2));
                break;
            case Pattern::kCubeCorners: {
                // Every mix of 0 and 255 over R, G and B: in 8 x 8 blocks in
                // the upper half (so that whole chroma footprints, and their
                // sums, reach both ends of each channel), per pixel below.
                const int corner = y < height / 2 ? (x / 8 + 3 * (y / 8)) % 8 : static_cast<int>(random() % 8);
                for (int c = 0; c < 3; ++c) p[c] = ((corner >> c) & 1) != 0 ? 255 : 0;
                break;
            }
            default:
                p[0] = p[1] = p[2] = ((x ^ y) & 1) != 0 ? 255 : 0;
                break;
            }
            // Alpha is ignored: any value, for the corners.
            p[3] = pattern == Pattern::kCubeCorners ? static_cast<uint8_t>(random() & 0xFF) : 255;
        }
    }
    return picture;
}

// swscale with the render output's former settings.
void ConvertWithSwscale(const Picture& picture, Planes* planes) {
    SwsContextPtr context(sws_alloc_context());
    ASSERT_GE(InitSwsContext(context.get(), SwsSetup{picture.width, picture.height, AV_PIX_FMT_RGBA, kSwsFullRange,
                                                     picture.width, picture.height, AV_PIX_FMT_YUV420P,
                                                     kSwsLimitedRange, SWS_BILINEAR}),
              0);
    SetSwsColor(context.get(), SwsCoefficientsFor(AVCOL_SPC_BT470BG), kSwsFullRange,
                SwsCoefficientsFor(AVCOL_SPC_BT709), kSwsLimitedRange);
    const uint8_t* const source[4] = {picture.rgba.data(), nullptr, nullptr, nullptr};
    const int sourceLines[4] = {picture.stride, 0, 0, 0};
    uint8_t* const out[4] = {planes->pointers[0], planes->pointers[1], planes->pointers[2], nullptr};
    const int outLines[4] = {planes->linesize[0], planes->linesize[1], planes->linesize[2], 0};
    ASSERT_EQ(sws_scale(context.get(), source, sourceLines, 0, picture.height, out, outLines), picture.height);
}

// The largest difference over every sample of the picture (not the padding).
int MaxDifference(const Planes& a, const Planes& b, int width, int height, std::string* where) {
    int worst = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane == 0 ? width : (width + 1) / 2;
        const int h = plane == 0 ? height : (height + 1) / 2;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int d = std::abs(a.data[plane][static_cast<size_t>(y) * a.linesize[plane] + x] -
                                       b.data[plane][static_cast<size_t>(y) * b.linesize[plane] + x]);
                if (d > worst) {
                    worst = d;
                    *where = "plane " + std::to_string(plane) + " x " + std::to_string(x) + " y " + std::to_string(y);
                }
            }
        }
    }
    return worst;
}

struct Size {
    int width, height, padding;
};

// Picture sizes: the phone's and the queue's, portrait, padded lines, odd
// widths and heights, and the smallest pictures.
const Size kSizes[] = {{1920, 1080, 0}, {2560, 1440, 0}, {1080, 1920, 0}, {1280, 720, 0}, {640, 360, 8},
                       {854, 480, 0},   {1279, 719, 0},  {640, 361, 0},   {33, 31, 3},   {17, 9, 0},
                       {20, 7, 2},      {16, 6, 0},      {16, 10, 0},     {4, 8, 1},     {2, 8, 0},
                       {31, 2, 0},      {4, 2, 0},       {2, 2, 0},       {3, 5, 1},     {1, 1, 0}};
const Pattern kPatterns[] = {Pattern::kNoise,          Pattern::kGradient,
                             Pattern::kWhiteBlackColumns, Pattern::kFromFullRangeYuv,
                             Pattern::kFromLimitedRangeYuv, Pattern::kCubeCorners};
const char* const kPatternNames[] = {"noise", "gradient", "checker", "from full-range YUV", "from limited-range YUV",
                                     "RGB cube corners"};

TEST(RgbaToYuv420p, WithinOneOfSwscaleOnEverySample) {
    for (const Size& size : kSizes) {
        for (size_t p = 0; p < std::size(kPatterns); ++p) {
            if (!RgbaToYuv420pBt709Matches(size.width, size.height)) continue;
            const Picture picture = MakePicture(size.width, size.height, size.padding, kPatterns[p]);
            Planes expected(size.width, size.height, size.padding);
            ConvertWithSwscale(picture, &expected);
            Planes actual(size.width, size.height, size.padding);
            ASSERT_TRUE(ConvertRgbaToYuv420pBt709(picture.rgba.data(), picture.stride, size.width, size.height,
                                                  actual.pointers, actual.linesize));
            std::string where;
            EXPECT_LE(MaxDifference(actual, expected, size.width, size.height, &where), 1)
                << size.width << "x" << size.height << " " << kPatternNames[p] << " at " << where;
        }
    }
}

// The sizes left to swscale are the odd ones and the smallest.
TEST(RgbaToYuv420p, HandlesEvenSizesOfEightRowsAndMore) {
    EXPECT_TRUE(RgbaToYuv420pBt709Matches(1920, 1080));
    EXPECT_TRUE(RgbaToYuv420pBt709Matches(2, 8));
    EXPECT_FALSE(RgbaToYuv420pBt709Matches(1279, 720));
    EXPECT_FALSE(RgbaToYuv420pBt709Matches(1280, 719));
    EXPECT_FALSE(RgbaToYuv420pBt709Matches(16, 6));
}

TEST(RgbaToYuv420p, WritesNothingPastTheLinesAndRefusesMissingPlanes) {
    const Picture picture = MakePicture(34, 30, 0, Pattern::kNoise);
    Planes planes(34, 30, 5);
    ASSERT_TRUE(ConvertRgbaToYuv420pBt709(picture.rgba.data(), picture.stride, 34, 30, planes.pointers,
                                          planes.linesize));
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane == 0 ? 34 : 17;
        const int h = plane == 0 ? 30 : 15;
        for (int y = 0; y < h; ++y) {
            for (int x = w; x < planes.linesize[plane]; ++x) {
                ASSERT_EQ(planes.data[plane][static_cast<size_t>(y) * planes.linesize[plane] + x], 0xAA)
                    << plane << " " << x << " " << y;
            }
        }
    }
    uint8_t* missing[3] = {planes.pointers[0], nullptr, planes.pointers[2]};
    EXPECT_FALSE(ConvertRgbaToYuv420pBt709(picture.rgba.data(), picture.stride, 34, 30, missing, planes.linesize));
    EXPECT_FALSE(ConvertRgbaToYuv420pBt709(nullptr, picture.stride, 34, 30, planes.pointers, planes.linesize));
    EXPECT_FALSE(ConvertRgbaToYuv420pBt709(picture.rgba.data(), picture.stride, 0, 30, planes.pointers,
                                           planes.linesize));
}

// What the render output asks of VideoScaler: the same picture as swscale's
// within one step, for every size of the table.
TEST(RgbaToYuv420p, VideoScalerGivesTheSamePicture) {
    for (const Size& size : kSizes) {
        const Picture picture = MakePicture(size.width, size.height, size.padding, Pattern::kNoise);
        Planes expected(size.width, size.height, size.padding);
        ConvertWithSwscale(picture, &expected);
        const auto scaler =
            video_scaler_create({AV_PIX_FMT_YUV420P, size.width, size.height, AVCOL_RANGE_MPEG, AVCOL_SPC_BT709},
                                {AV_PIX_FMT_RGBA, size.width, size.height, AVCOL_RANGE_JPEG, AVCOL_SPC_BT470BG});
        Planes actual(size.width, size.height, size.padding);
        const uint8_t* const source[4] = {picture.rgba.data(), nullptr, nullptr, nullptr};
        const int sourceLines[4] = {picture.stride, 0, 0, 0};
        uint8_t* const out[4] = {actual.pointers[0], actual.pointers[1], actual.pointers[2], nullptr};
        const int outLines[4] = {actual.linesize[0], actual.linesize[1], actual.linesize[2], 0};
        ASSERT_TRUE(video_scaler_scale(scaler.get(), out, outLines, source, sourceLines));
        std::string where;
        EXPECT_LE(MaxDifference(actual, expected, size.width, size.height, &where), 1)
            << size.width << "x" << size.height << " at " << where;
    }
}

// Widths around the vector kernels' steps (16 and 32 pixels, 8 and 16
// chroma columns) and their tails, with and without padded lines.
const Size kVectorStepSizes[] = {{15, 9, 1},  {16, 8, 0},  {17, 12, 5}, {24, 10, 0},  {31, 10, 0},
                                 {32, 16, 2}, {33, 11, 0}, {47, 9, 3},  {48, 14, 0},  {63, 13, 1},
                                 {64, 8, 0},  {65, 17, 7}, {80, 12, 0}, {1918, 34, 0}, {1922, 20, 3}};

// Chroma row ranges as the render device's workers split a picture: ranges
// that start and end inside it, the first and last rows alone.
std::vector<std::pair<int, int>> SplitRows(int chromaHeight) {
    std::vector<int> cuts = {0, 1, chromaHeight / 3, chromaHeight / 2 + 1, chromaHeight - 1, chromaHeight};
    for (int& cut : cuts) cut = std::clamp(cut, 0, chromaHeight);
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::vector<std::pair<int, int>> ranges;
    for (size_t i = 0; i + 1 < cuts.size(); ++i) ranges.emplace_back(cuts[i], cuts[i + 1]);
    return ranges;
}

// The first byte where two sets of planes differ, padding and the room past
// the last line included (so writing more than the plain loops shows too).
std::string FirstDifference(const Planes& a, const Planes& b) {
    for (int plane = 0; plane < 3; ++plane) {
        const auto mismatch = std::mismatch(a.data[plane].begin(), a.data[plane].end(), b.data[plane].begin());
        if (mismatch.first != a.data[plane].end()) {
            const auto at = static_cast<int>(mismatch.first - a.data[plane].begin());
            return "plane " + std::to_string(plane) + " x " + std::to_string(at % a.linesize[plane]) + " y " +
                   std::to_string(at / a.linesize[plane]) + ": " + std::to_string(*mismatch.first) + " against " +
                   std::to_string(*mismatch.second);
        }
    }
    return "";
}

// The vector kernels compute the plain loops' integers: the same bytes on
// every size and picture, whole or split into row ranges, and so does the
// public conversion with the set chosen for this machine.
TEST(RgbaToYuv420p, VectorKernelsGiveThePlainLoopsBytes) {
    std::vector<Size> sizes(std::begin(kSizes), std::end(kSizes));
    sizes.insert(sizes.end(), std::begin(kVectorStepSizes), std::end(kVectorStepSizes));
    const RgbaToYuv420pKernels kVectorKernels[] = {RgbaToYuv420pKernels::kSse2, RgbaToYuv420pKernels::kAvx2};
    const char* const kKernelNames[] = {"SSE2", "AVX2"};
    std::vector<size_t> available;
    for (size_t k = 0; k < std::size(kVectorKernels); ++k) {
        if (RgbaToYuv420pKernelsAvailable(kVectorKernels[k])) available.push_back(k);
    }
#if defined(__x86_64__)
    ASSERT_FALSE(available.empty()) << "SSE2 is part of every x86-64 processor";
#endif
    for (const Size& size : sizes) {
        const int chromaHeight = (size.height + 1) / 2;
        for (size_t p = 0; p < std::size(kPatterns); ++p) {
            const Picture picture = MakePicture(size.width, size.height, size.padding, kPatterns[p]);
            const std::string what = std::to_string(size.width) + "x" + std::to_string(size.height) + " " +
                                     kPatternNames[p];
            Planes expected(size.width, size.height, size.padding);
            ConvertRgbaToYuv420pBt709RowsWith(RgbaToYuv420pKernels::kScalar, picture.rgba.data(), picture.stride,
                                              size.width, size.height, expected.pointers, expected.linesize, 0,
                                              chromaHeight);
            Planes chosen(size.width, size.height, size.padding);
            ASSERT_TRUE(ConvertRgbaToYuv420pBt709(picture.rgba.data(), picture.stride, size.width, size.height,
                                                  chosen.pointers, chosen.linesize));
            EXPECT_EQ(FirstDifference(chosen, expected), "") << what << " with the chosen kernels";
            for (const size_t k : available) {
                Planes whole(size.width, size.height, size.padding);
                ConvertRgbaToYuv420pBt709RowsWith(kVectorKernels[k], picture.rgba.data(), picture.stride,
                                                  size.width, size.height, whole.pointers, whole.linesize, 0,
                                                  chromaHeight);
                EXPECT_EQ(FirstDifference(whole, expected), "") << what << " " << kKernelNames[k];
                Planes split(size.width, size.height, size.padding);
                for (const auto& [begin, end] : SplitRows(chromaHeight)) {
                    ConvertRgbaToYuv420pBt709RowsWith(kVectorKernels[k], picture.rgba.data(), picture.stride,
                                                      size.width, size.height, split.pointers, split.linesize, begin,
                                                      end);
                }
                EXPECT_EQ(FirstDifference(split, expected), "") << what << " " << kKernelNames[k] << " in row ranges";
            }
        }
    }
}

// The conversion runs the fastest set this processor has.
TEST(RgbaToYuv420p, ChoosesTheFastestKernelsOfTheProcessor) {
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    EXPECT_EQ(RgbaToYuv420pBestKernels(), avx2 ? RgbaToYuv420pKernels::kAvx2 : RgbaToYuv420pKernels::kSse2);
    EXPECT_EQ(RgbaToYuv420pKernelsAvailable(RgbaToYuv420pKernels::kAvx2), avx2);
    EXPECT_TRUE(RgbaToYuv420pKernelsAvailable(RgbaToYuv420pKernels::kSse2));
#else
    EXPECT_EQ(RgbaToYuv420pBestKernels(), RgbaToYuv420pKernels::kScalar);
    EXPECT_FALSE(RgbaToYuv420pKernelsAvailable(RgbaToYuv420pKernels::kAvx2));
#endif
    EXPECT_TRUE(RgbaToYuv420pKernelsAvailable(RgbaToYuv420pKernels::kScalar));
}

}  // namespace
