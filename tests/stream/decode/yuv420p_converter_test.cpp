// The conversion to the sinks' YUV420P on synthetic pictures: exact sample
// values across formats and ranges, the range tags, context reuse across
// sizes and the logged-once failure.
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <cstring>
#include <string>

#include "decode/yuv420p_converter.h"
#include "support/tether_environment.h"

namespace {

using zucam::test::CountInLog;

struct Levels {
    uint8_t dark;
    uint8_t bright;
    uint8_t u;
    uint8_t v;
};

// Left half dark, right half bright, chroma flat. NV12 interleaves U and V.
AVFramePtr MakePicture(AVPixelFormat format, int width, int height, const Levels& levels, AVColorRange range,
                     AVColorSpace space) {
    AVFramePtr frame(av_frame_alloc());
    frame->format = format;
    frame->width = width;
    frame->height = height;
    frame->color_range = range;
    frame->colorspace = space;
    frame->color_primaries = AVCOL_PRI_BT709;
    frame->color_trc = AVCOL_TRC_BT709;
    frame->pts = 4711;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* line = frame->data[0] + y * frame->linesize[0];
        std::memset(line, levels.dark, static_cast<size_t>(width / 2));
        std::memset(line + width / 2, levels.bright, static_cast<size_t>(width - width / 2));
    }
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    const int chromaWidth = AV_CEIL_RSHIFT(width, descriptor->log2_chroma_w);
    const int chromaHeight = AV_CEIL_RSHIFT(height, descriptor->log2_chroma_h);
    for (int y = 0; y < chromaHeight; ++y) {
        if (format == AV_PIX_FMT_NV12) {
            uint8_t* line = frame->data[1] + y * frame->linesize[1];
            for (int x = 0; x < chromaWidth; ++x) {
                line[2 * x] = levels.u;
                line[2 * x + 1] = levels.v;
            }
        } else {
            std::memset(frame->data[1] + y * frame->linesize[1], levels.u, static_cast<size_t>(chromaWidth));
            std::memset(frame->data[2] + y * frame->linesize[2], levels.v, static_cast<size_t>(chromaWidth));
        }
    }
    return frame;
}

int At(const AVFrame& frame, int plane, int x, int y) { return frame.data[plane][y * frame.linesize[plane] + x]; }

struct ConversionCase {
    AVPixelFormat format;
    AVColorRange tag;
    Levels levels;
    AVColorRange expectedRange;
};

TEST(Yuv420pConverter, KeepsSampleValuesAndTagsTheRealRange) {
    const Levels limited{16, 235, 90, 200};
    const Levels full{0, 255, 10, 250};
    const ConversionCase cases[] = {
        {AV_PIX_FMT_YUV420P, AVCOL_RANGE_UNSPECIFIED, limited, AVCOL_RANGE_MPEG},
        {AV_PIX_FMT_YUV420P, AVCOL_RANGE_JPEG, full, AVCOL_RANGE_JPEG},
        {AV_PIX_FMT_YUVJ420P, AVCOL_RANGE_UNSPECIFIED, full, AVCOL_RANGE_JPEG},
        {AV_PIX_FMT_YUV422P, AVCOL_RANGE_UNSPECIFIED, limited, AVCOL_RANGE_MPEG},
        {AV_PIX_FMT_YUV422P, AVCOL_RANGE_MPEG, limited, AVCOL_RANGE_MPEG},
        {AV_PIX_FMT_YUV422P, AVCOL_RANGE_JPEG, full, AVCOL_RANGE_JPEG},
        {AV_PIX_FMT_YUVJ422P, AVCOL_RANGE_JPEG, full, AVCOL_RANGE_JPEG},
        {AV_PIX_FMT_YUVJ422P, AVCOL_RANGE_UNSPECIFIED, full, AVCOL_RANGE_JPEG},
        {AV_PIX_FMT_YUV444P, AVCOL_RANGE_MPEG, limited, AVCOL_RANGE_MPEG},
        {AV_PIX_FMT_YUVJ444P, AVCOL_RANGE_UNSPECIFIED, full, AVCOL_RANGE_JPEG},
        {AV_PIX_FMT_NV12, AVCOL_RANGE_UNSPECIFIED, limited, AVCOL_RANGE_MPEG},
        {AV_PIX_FMT_NV12, AVCOL_RANGE_JPEG, full, AVCOL_RANGE_JPEG},
    };
    Yuv420pConverter converter;
    for (const ConversionCase& c : cases) {
        const std::string name = std::string(av_get_pix_fmt_name(c.format)) + " tagged " +
                                 av_color_range_name(c.tag);
        const int width = 64;
        const int height = 48;
        const AVFramePtr picture = MakePicture(c.format, width, height, c.levels, c.tag, AVCOL_SPC_BT709);
        const AVFramePtr out = converter.Convert(*picture);
        ASSERT_TRUE(out) << name;
        EXPECT_EQ(out->format, AV_PIX_FMT_YUV420P) << name;
        EXPECT_EQ(out->width, width) << name;
        EXPECT_EQ(out->height, height) << name;
        EXPECT_EQ(out->color_range, c.expectedRange) << name;
        EXPECT_EQ(out->colorspace, AVCOL_SPC_BT709) << name;
        EXPECT_EQ(out->color_primaries, AVCOL_PRI_BT709) << name;
        EXPECT_EQ(out->color_trc, AVCOL_TRC_BT709) << name;
        EXPECT_EQ(out->pts, 4711) << name;
        for (int y : {0, height / 2, height - 1}) {
            EXPECT_NEAR(At(*out, 0, 4, y), c.levels.dark, 2) << name << " line " << y;
            EXPECT_NEAR(At(*out, 0, width - 5, y), c.levels.bright, 2) << name << " line " << y;
        }
        EXPECT_NEAR(At(*out, 1, width / 4, height / 4), c.levels.u, 2) << name;
        EXPECT_NEAR(At(*out, 2, width / 4, height / 4), c.levels.v, 2) << name;
    }
}

// A context left over from another size or format would read the wrong
// planes (or past them, which ASan reports).
TEST(Yuv420pConverter, RebuildsForEachNewSizeAndFormat) {
    const Levels levels{16, 235, 100, 150};
    struct Shape {
        AVPixelFormat format;
        int width;
        int height;
        AVColorRange range;
    };
    // Each step changes one thing only.
    const Shape shapes[] = {
        {AV_PIX_FMT_YUV422P, 64, 48, AVCOL_RANGE_MPEG}, {AV_PIX_FMT_YUV422P, 98, 48, AVCOL_RANGE_MPEG},
        {AV_PIX_FMT_YUV422P, 98, 66, AVCOL_RANGE_MPEG}, {AV_PIX_FMT_NV12, 98, 66, AVCOL_RANGE_MPEG},
        {AV_PIX_FMT_NV12, 98, 66, AVCOL_RANGE_JPEG},    {AV_PIX_FMT_NV12, 64, 48, AVCOL_RANGE_JPEG},
    };
    const Levels full{0, 255, 100, 150};
    Yuv420pConverter converter;
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(std::string(av_get_pix_fmt_name(shape.format)) + " " + std::to_string(shape.width) + "x" +
                     std::to_string(shape.height) + " " + av_color_range_name(shape.range));
        const Levels& expected = shape.range == AVCOL_RANGE_JPEG ? full : levels;
        const AVFramePtr picture =
            MakePicture(shape.format, shape.width, shape.height, expected, shape.range, AVCOL_SPC_BT470BG);
        const AVFramePtr out = converter.Convert(*picture);
        ASSERT_TRUE(out);
        EXPECT_EQ(out->width, shape.width);
        EXPECT_EQ(out->height, shape.height);
        EXPECT_EQ(out->color_range, shape.range);
        EXPECT_NEAR(At(*out, 0, 0, 0), expected.dark, 2);
        EXPECT_NEAR(At(*out, 0, shape.width - 1, shape.height - 1), expected.bright, 2);
        EXPECT_NEAR(At(*out, 2, (shape.width + 1) / 2 - 1, (shape.height + 1) / 2 - 1), expected.v, 2);
    }
}


TEST(Yuv420pConverter, UnconvertiblePicturesAreDroppedAndLoggedOnce) {
    zucam::test::TetherEnvironment tether;
    Yuv420pConverter converter;
    // A hardware surface never reaches swscale in the decoder; here it
    // stands for any format swscale refuses.
    AVFramePtr surface(av_frame_alloc());
    surface->format = AV_PIX_FMT_VAAPI;
    surface->width = 64;
    surface->height = 48;
    EXPECT_FALSE(converter.Convert(*surface));
    EXPECT_FALSE(converter.Convert(*surface));
    EXPECT_EQ(CountInLog("sws_init_context failed"), 1);

    // Later pictures of a good format still convert.
    const AVFramePtr picture =
        MakePicture(AV_PIX_FMT_YUV422P, 64, 48, Levels{16, 235, 128, 128}, AVCOL_RANGE_MPEG, AVCOL_SPC_BT709);
    EXPECT_TRUE(converter.Convert(*picture));
}

}  // namespace
