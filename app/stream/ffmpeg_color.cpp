#include "ffmpeg_color.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/opt.h>
}

namespace {
constexpr int kNeutralBrightness = 0;
constexpr int kUnitContrast = 1 << 16;    // 1.0 in 16.16
constexpr int kUnitSaturation = 1 << 16;  // 1.0 in 16.16
}  // namespace

AVPixelFormat PlainTwinOf(int format) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
    default: return static_cast<AVPixelFormat>(format);
    }
}

bool IsFullRangeFormat(int format) { return PlainTwinOf(format) != format; }

AVColorRange RealRangeOf(const AVFrame& frame) {
    if (frame.color_range == AVCOL_RANGE_JPEG || IsFullRangeFormat(frame.format)) return AVCOL_RANGE_JPEG;
    return AVCOL_RANGE_MPEG;
}

int SwsRangeOf(const AVFrame& frame) {
    return RealRangeOf(frame) == AVCOL_RANGE_JPEG ? kSwsFullRange : kSwsLimitedRange;
}

const int* SwsCoefficientsOf(const AVFrame& frame) { return SwsCoefficientsFor(frame.colorspace); }

const int* SwsCoefficientsFor(AVColorSpace colorspace) {
    switch (colorspace) {
    case AVCOL_SPC_BT709: return sws_getCoefficients(SWS_CS_ITU709);
    case AVCOL_SPC_FCC: return sws_getCoefficients(SWS_CS_FCC);
    case AVCOL_SPC_SMPTE240M: return sws_getCoefficients(SWS_CS_SMPTE240M);
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return sws_getCoefficients(SWS_CS_BT2020);
    default: return sws_getCoefficients(SWS_CS_ITU601);
    }
}

bool SetSwsColor(SwsContext* context, const int* sourceCoefficients, int sourceRange,
                 const int* destinationCoefficients, int destinationRange) {
    return sws_setColorspaceDetails(context, sourceCoefficients, sourceRange, destinationCoefficients,
                                    destinationRange, kNeutralBrightness, kUnitContrast, kUnitSaturation) >= 0;
}

int InitSwsContext(SwsContext* context, const SwsSetup& setup) {
    av_opt_set_int(context, "sws_flags", setup.flags, 0);
    av_opt_set_int(context, "srcw", setup.sourceWidth, 0);
    av_opt_set_int(context, "srch", setup.sourceHeight, 0);
    av_opt_set_int(context, "dstw", setup.destinationWidth, 0);
    av_opt_set_int(context, "dsth", setup.destinationHeight, 0);
    av_opt_set_int(context, "src_format", setup.sourceFormat, 0);
    av_opt_set_int(context, "dst_format", setup.destinationFormat, 0);
    av_opt_set_int(context, "src_range", setup.sourceRange, 0);
    av_opt_set_int(context, "dst_range", setup.destinationRange, 0);
    av_opt_set_int(context, "threads", setup.threads, 0);
    return sws_init_context(context, nullptr, nullptr);
}

std::string FfmpegErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}
