#include "scaler/video_scaler.h"

extern "C" {
#include <libavutil/opt.h>
}

#include "core/tether/tq_log.h"
#include "ffmpeg_color.h"

namespace {

// swscale's SWS_CS_* numbers agree with AVColorSpace for the matrices used
// here (BT.709 = 1, BT.470BG/BT.601 = 5); anything else counts as BT.601.
const int* CoefficientsOf(AVColorSpace colorspace) {
    switch (colorspace) {
    case AVCOL_SPC_BT709: return sws_getCoefficients(SWS_CS_ITU709);
    case AVCOL_SPC_FCC: return sws_getCoefficients(SWS_CS_FCC);
    case AVCOL_SPC_SMPTE240M: return sws_getCoefficients(SWS_CS_SMPTE240M);
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return sws_getCoefficients(SWS_CS_BT2020);
    default: return sws_getCoefficients(SWS_CS_ITU601);
    }
}

}  // namespace

std::unique_ptr<VideoScaler> video_scaler_create(const VideoScalerParams& destination,
                                                 const VideoScalerParams& source) {
    auto scaler = std::make_unique<VideoScaler>();
    const int* sourceCoefficients = CoefficientsOf(source.colorspace);
    const int* destinationCoefficients = CoefficientsOf(destination.colorspace);
    const int sourceFull = source.range == AVCOL_RANGE_JPEG ? kSwsFullRange : kSwsLimitedRange;
    const int destinationFull = destination.range == AVCOL_RANGE_JPEG ? kSwsFullRange : kSwsLimitedRange;

    SwsContextPtr context(sws_alloc_context());
    if (!context) {
        LOG_E("video_scaler_create: Could not create " "swscale");
        return scaler;
    }
    av_opt_set_int(context.get(), "sws_flags", SWS_BILINEAR, 0);
    av_opt_set_int(context.get(), "srcw", source.width, 0);
    av_opt_set_int(context.get(), "srch", source.height, 0);
    av_opt_set_int(context.get(), "dstw", destination.width, 0);
    av_opt_set_int(context.get(), "dsth", destination.height, 0);
    av_opt_set_int(context.get(), "src_format", source.format, 0);
    av_opt_set_int(context.get(), "dst_format", destination.format, 0);
    av_opt_set_int(context.get(), "src_range", sourceFull, 0);
    av_opt_set_int(context.get(), "dst_range", destinationFull, 0);
    const int result = sws_init_context(context.get(), nullptr, nullptr);
    if (result < 0) {
        LOG_E("[VideoScaler] sws_init_context failed error: %s", FfmpegErrorText(result).c_str());
        return scaler;
    }
    if (!SetSwsColor(context.get(), sourceCoefficients, sourceFull, destinationCoefficients, destinationFull)) {
        LOG_E("[VideoScaler] sws_setColorspaceDetails failed, ignoring");
    }
    scaler->context = std::move(context);
    scaler->sourceHeight = source.height;
    return scaler;
}

bool video_scaler_scale(VideoScaler* scaler, uint8_t* const destination[], const int destinationLinesize[],
                        const uint8_t* const source[], const int sourceLinesize[]) {
    if (scaler == nullptr || !scaler->context) return false;
    const int result = sws_scale(scaler->context.get(), source, sourceLinesize, 0, scaler->sourceHeight,
                                 destination, destinationLinesize);
    if (result > 0) return true;
    LOG_E("[VideoScaler] sws_scale failed, %d", result);
    return false;
}

void video_scaler_free(VideoScaler* scaler) {
    if (scaler != nullptr) scaler->context.reset();
}
