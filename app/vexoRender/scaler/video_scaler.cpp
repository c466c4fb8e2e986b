#include "scaler/video_scaler.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
}

#include "core/tether/tq_log.h"
#include "ffmpeg_color.h"

namespace {

void KeepPlane(void* /*opaque*/, uint8_t* /*data*/) {}

// A frame over borrowed planes: swscale's frame interface takes references
// of the buffers, which here cost nothing and free nothing.
AVFramePtr WrapPlanes(const VideoScalerParams& shape, uint8_t* const planes[], const int linesizes[]) {
    AVFramePtr frame(av_frame_alloc());
    if (!frame) return nullptr;
    frame->format = shape.format;
    frame->width = shape.width;
    frame->height = shape.height;
    frame->color_range = shape.range;
    frame->colorspace = shape.colorspace;
    ptrdiff_t strides[4] = {};
    for (int i = 0; i < 4; ++i) strides[i] = linesizes[i];
    size_t sizes[4] = {};
    if (av_image_fill_plane_sizes(sizes, shape.format, shape.height, strides) < 0) return nullptr;
    for (int i = 0; i < 4 && sizes[i] > 0; ++i) {
        if (planes[i] == nullptr) return nullptr;
        frame->buf[i] = av_buffer_create(planes[i], sizes[i], KeepPlane, nullptr, 0);
        if (frame->buf[i] == nullptr) return nullptr;
        frame->data[i] = planes[i];
        frame->linesize[i] = linesizes[i];
    }
    return frame;
}

}  // namespace

std::unique_ptr<VideoScaler> video_scaler_create(const VideoScalerParams& destination,
                                                 const VideoScalerParams& source) {
    auto scaler = std::make_unique<VideoScaler>();
    const int* sourceCoefficients = SwsCoefficientsFor(source.colorspace);
    const int* destinationCoefficients = SwsCoefficientsFor(destination.colorspace);
    const int sourceFull = source.range == AVCOL_RANGE_JPEG ? kSwsFullRange : kSwsLimitedRange;
    const int destinationFull = destination.range == AVCOL_RANGE_JPEG ? kSwsFullRange : kSwsLimitedRange;

    SwsContextPtr context(sws_alloc_context());
    if (!context) {
        LOG_E("video_scaler_create: Could not create " "swscale");
        return scaler;
    }
    // Slice threads, one per core: a 1080p frame takes a quarter of the
    // single-threaded time.
    const int result = InitSwsContext(context.get(), SwsSetup{source.width, source.height, source.format, sourceFull,
                                                               destination.width, destination.height,
                                                               destination.format, destinationFull, SWS_BILINEAR, 0});
    if (result < 0) {
        LOG_E("[VideoScaler] sws_init_context failed error: %s", FfmpegErrorText(result).c_str());
        return scaler;
    }
    if (!SetSwsColor(context.get(), sourceCoefficients, sourceFull, destinationCoefficients, destinationFull)) {
        LOG_E("[VideoScaler] sws_setColorspaceDetails failed, ignoring");
    }
    scaler->context = std::move(context);
    scaler->sourceHeight = source.height;
    scaler->source = source;
    scaler->destination = destination;
    return scaler;
}

bool video_scaler_scale(VideoScaler* scaler, uint8_t* const destination[], const int destinationLinesize[],
                        const uint8_t* const source[], const int sourceLinesize[]) {
    if (scaler == nullptr || !scaler->context) return false;
    const AVFramePtr sourceFrame = WrapPlanes(scaler->source, const_cast<uint8_t* const*>(source), sourceLinesize);
    const AVFramePtr destinationFrame = WrapPlanes(scaler->destination, destination, destinationLinesize);
    if (sourceFrame && destinationFrame) {
        const int result = sws_scale_frame(scaler->context.get(), destinationFrame.get(), sourceFrame.get());
        if (result >= 0) return true;
        LOG_E("[VideoScaler] sws_scale failed, %d", result);
        return false;
    }
    // Planes that cannot be wrapped (missing ones, say): swscale's own
    // checks decide on the single-threaded path.
    const int result = sws_scale(scaler->context.get(), source, sourceLinesize, 0, scaler->sourceHeight,
                                 destination, destinationLinesize);
    if (result > 0) return true;
    LOG_E("[VideoScaler] sws_scale failed, %d", result);
    return false;
}

void video_scaler_free(VideoScaler* scaler) {
    if (scaler != nullptr) scaler->context.reset();
}
