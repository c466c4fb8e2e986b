#include "scaler/video_scaler.h"

extern "C" {
#include <libavutil/error.h>
}

#include "core/tether/tq_log.h"
#include "ffmpeg_color.h"
#include "scaler/rgba_to_yuv420p.h"
#include "vexo/gs_device.h"

namespace {

// What the render output asks for: its read-back to the camera's format, at
// one size, which the own converter gives as swscale would.
bool OwnConverterFits(const VideoScalerParams& destination, const VideoScalerParams& source) {
    return source.format == AV_PIX_FMT_RGBA && source.range == AVCOL_RANGE_JPEG &&
           destination.format == AV_PIX_FMT_YUV420P && destination.range == AVCOL_RANGE_MPEG &&
           destination.colorspace == AVCOL_SPC_BT709 && source.width == destination.width &&
           source.height == destination.height && RgbaToYuv420pBt709Matches(source.width, source.height);
}

bool ConvertOwn(const VideoScaler& scaler, uint8_t* const destination[], const int destinationLinesize[],
                const uint8_t* const source[], const int sourceLinesize[]) {
    const int width = scaler.source.width;
    const int height = scaler.source.height;
    if (source[0] == nullptr || destination[0] == nullptr || destination[1] == nullptr || destination[2] == nullptr) {
        return false;
    }
    const int chromaRows = (height + 1) / 2;
    const auto work = [&](int begin, int end) {
        ConvertRgbaToYuv420pBt709Rows(source[0], sourceLinesize[0], width, height, destination, destinationLinesize,
                                      begin, end);
    };
    GsDevice* const device = GsDevice::DefaultDevice();
    // A 1080p picture takes about a millisecond on one thread: the workers
    // share it out only for the largest pictures.
    if (device != nullptr) {
        device->RunRows(chromaRows, static_cast<int64_t>(width) * height / 4, work);
    } else {
        work(0, chromaRows);
    }
    return true;
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
    // One thread: the render output's own conversion runs on the render
    // library's workers, and anything else swscale is asked for is rare.
    const int result = InitSwsContext(context.get(), SwsSetup{source.width, source.height, source.format, sourceFull,
                                                               destination.width, destination.height,
                                                               destination.format, destinationFull, SWS_BILINEAR, 1});
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
    scaler->ownConverter = OwnConverterFits(destination, source);
    return scaler;
}

bool video_scaler_scale(VideoScaler* scaler, uint8_t* const destination[], const int destinationLinesize[],
                        const uint8_t* const source[], const int sourceLinesize[]) {
    if (scaler == nullptr || !scaler->context) return false;
    if (scaler->ownConverter) {
        if (ConvertOwn(*scaler, destination, destinationLinesize, source, sourceLinesize)) return true;
        LOG_E("[VideoScaler] sws_scale failed, %d", AVERROR(EINVAL));
        return false;
    }
    const int result = sws_scale(scaler->context.get(), source, sourceLinesize, 0, scaler->sourceHeight,
                                 destination, destinationLinesize);
    if (result > 0) return true;
    LOG_E("[VideoScaler] sws_scale failed, %d", result);
    return false;
}

void video_scaler_free(VideoScaler* scaler) {
    if (scaler != nullptr) scaler->context.reset();
}
