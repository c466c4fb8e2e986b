#include "video_sink/rgba_conversion.h"

#include <cstdint>
#include <limits>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

namespace {
constexpr int64_t kFastBilinear = SWS_FAST_BILINEAR;
constexpr int kSwsLimitedRange = 0;
constexpr int kSwsFullRange = 1;
constexpr int kNeutralBrightness = 0;
constexpr int kUnitContrast = 1 << 16;    // 1.0 in 16.16
constexpr int kUnitSaturation = 1 << 16;  // 1.0 in 16.16
constexpr int kLineAlignment = 64;        // one 16-pixel RGBA block

bool IsFullRangeFormat(int format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
           format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
}

void FreeImageBuffer(void* buffer) { av_free(buffer); }
}  // namespace

int SwsRangeOf(const AVFrame& frame) {
    if (frame.color_range == AVCOL_RANGE_JPEG || IsFullRangeFormat(frame.format)) return kSwsFullRange;
    return kSwsLimitedRange;
}

const int* SwsCoefficientsOf(const AVFrame& frame) {
    switch (frame.colorspace) {
        case AVCOL_SPC_BT709:
            return sws_getCoefficients(SWS_CS_ITU709);
        case AVCOL_SPC_FCC:
            return sws_getCoefficients(SWS_CS_FCC);
        case AVCOL_SPC_SMPTE240M:
            return sws_getCoefficients(SWS_CS_SMPTE240M);
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return sws_getCoefficients(SWS_CS_BT2020);
        default:
            return sws_getCoefficients(SWS_CS_ITU601);
    }
}

RgbaContext CreateRgbaContext(const AVFrame& frame) {
    RgbaContext result;
    result.context.reset(sws_alloc_context());
    if (!result.context) {
        result.allocationFailed = true;
        return result;
    }
    SwsContext* const context = result.context.get();
    const int sourceRange = SwsRangeOf(frame);
    // Options that do not take (an out-of-range format, say) surface as an
    // sws_init_context failure.
    av_opt_set_int(context, "sws_flags", kFastBilinear, 0);
    av_opt_set_int(context, "srcw", frame.width, 0);
    av_opt_set_int(context, "dstw", frame.width, 0);
    av_opt_set_int(context, "srch", frame.height, 0);
    av_opt_set_int(context, "dsth", frame.height, 0);
    av_opt_set_int(context, "src_format", frame.format, 0);
    av_opt_set_int(context, "dst_format", AV_PIX_FMT_RGBA, 0);
    av_opt_set_int(context, "src_range", sourceRange, 0);
    av_opt_set_int(context, "dst_range", kSwsFullRange, 0);

    const int initResult = sws_init_context(context, nullptr, nullptr);
    if (initResult < 0) {
        result.initError = initResult;
        result.context.reset();
        return result;
    }
    // The destination table only matters for YUV output; BT.709 is given for
    // completeness.
    if (sws_setColorspaceDetails(context, SwsCoefficientsOf(frame), sourceRange, sws_getCoefficients(SWS_CS_ITU709),
                                 kSwsFullRange, kNeutralBrightness, kUnitContrast, kUnitSaturation) < 0) {
        result.colourDetailsRefused = true;
    }
    return result;
}

QImage AllocateRgbaImage(int width, int height) {
    if (width < 1 || height < 1) return QImage();
    const int64_t bytesPerLine = (int64_t{width} * 4 + kLineAlignment - 1) / kLineAlignment * kLineAlignment;
    const int64_t bytes = bytesPerLine * height;
    if (bytesPerLine > std::numeric_limits<int>::max() || bytes > std::numeric_limits<int>::max()) return QImage();
    void* const buffer = av_malloc(static_cast<size_t>(bytes));
    if (buffer == nullptr) return QImage();
    // The image owns the buffer through the clean-up function, also in its copies.
    return QImage(static_cast<uchar*>(buffer), width, height, static_cast<int>(bytesPerLine),
                  QImage::Format_RGBA8888, FreeImageBuffer, buffer);
}

int ScaleToRgba(SwsContext* context, const AVFrame& frame, QImage* image) {
    uint8_t* const destination[4] = {image->bits(), nullptr, nullptr, nullptr};
    const int destinationStrides[4] = {static_cast<int>(image->bytesPerLine()), 0, 0, 0};
    return sws_scale(context, frame.data, frame.linesize, 0, frame.height, destination, destinationStrides);
}

std::string FfmpegErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}
