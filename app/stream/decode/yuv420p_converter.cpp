#include "decode/yuv420p_converter.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/pixdesc.h>
}

#include "core/tether/tq_log.h"
#include "ffmpeg_color.h"

namespace {

constexpr int64_t kFastBilinear = SWS_FAST_BILINEAR;

}  // namespace

AVColorRange Yuv420pConverter::RealRange(const AVFrame& picture) { return RealRangeOf(picture); }

AVFramePtr Yuv420pConverter::Convert(const AVFrame& picture) {
    const AVColorRange range = RealRange(picture);
    const int sourceFormat = PlainTwinOf(picture.format);
    if (sourceFormat == AV_PIX_FMT_YUV420P) {
        AVFramePtr same(av_frame_clone(&picture));
        if (!same) return nullptr;
        same->format = AV_PIX_FMT_YUV420P;
        same->color_range = range;
        return same;
    }

    if (!ContextFits(picture, sourceFormat) && !RebuildContext(picture, sourceFormat)) return nullptr;

    AVFramePtr converted(av_frame_alloc());
    if (!converted) return nullptr;
    converted->format = AV_PIX_FMT_YUV420P;
    converted->width = picture.width;
    converted->height = picture.height;
    // Default alignment: swscale's vector code writes whole blocks, and the
    // sinks read by linesize as they do for decoded pictures.
    if (av_frame_get_buffer(converted.get(), 0) < 0 || av_frame_copy_props(converted.get(), &picture) < 0) {
        return nullptr;
    }
    converted->color_range = range;

    const int lines = sws_scale(context_.get(), picture.data, picture.linesize, 0, picture.height, converted->data,
                                converted->linesize);
    if (lines < 1) {
        if (!errorLogged_) LOG_W("video_scaler_scale: sws_scale failed: %d", lines);
        errorLogged_ = true;
        // The next picture builds a fresh context.
        context_.reset();
        return nullptr;
    }
    return converted;
}

bool Yuv420pConverter::ContextFits(const AVFrame& picture, int sourceFormat) const {
    return context_ && sourceFormat == lastFormat_ && picture.width == lastWidth_ &&
           picture.height == lastHeight_ && RealRange(picture) == lastRange_ && picture.colorspace == lastColorSpace_;
}

bool Yuv420pConverter::RebuildContext(const AVFrame& picture, int sourceFormat) {
    context_.reset(sws_alloc_context());
    if (!context_) {
        if (!errorLogged_) LOG_E("video_scaler_create: Could not create " "swscale");
        errorLogged_ = true;
        return false;
    }
    // The same range on both sides: nothing is stretched or squeezed.
    const int range = SwsRangeOf(picture);
    SwsContext* const context = context_.get();
    const int initResult = InitSwsContext(context, SwsSetup{picture.width, picture.height, sourceFormat, range,
                                                            picture.width, picture.height, AV_PIX_FMT_YUV420P, range,
                                                            kFastBilinear});
    if (initResult < 0) {
        if (!errorLogged_) LOG_E("video_scaler_create: sws_init_context failed error: %s", FfmpegErrorText(initResult).c_str());
        errorLogged_ = true;
        context_.reset();
        return false;
    }
    // Only an RGB source uses the matrix; the picture's own is given so that
    // one converts as tagged.
    const int* const coefficients = SwsCoefficientsOf(picture);
    SetSwsColor(context, coefficients, range, coefficients, range);
    lastFormat_ = sourceFormat;
    lastWidth_ = picture.width;
    lastHeight_ = picture.height;
    lastRange_ = RealRange(picture);
    lastColorSpace_ = picture.colorspace;
    return true;
}
