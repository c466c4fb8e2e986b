#include "video_sink/rgba_conversion.h"

#include <cstdint>
#include <limits>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace {
constexpr int64_t kFastBilinear = SWS_FAST_BILINEAR;
constexpr int kLineAlignment = 64;        // one 16-pixel RGBA block

void FreeImageBuffer(void* buffer) { av_free(buffer); }
}  // namespace

RgbaContext CreateRgbaContext(const AVFrame& frame) {
    RgbaContext result;
    result.context.reset(sws_alloc_context());
    if (!result.context) {
        result.allocationFailed = true;
        return result;
    }
    SwsContext* const context = result.context.get();
    const int sourceRange = SwsRangeOf(frame);
    const int initResult = InitSwsContext(context, SwsSetup{frame.width, frame.height, frame.format, sourceRange,
                                                            frame.width, frame.height, AV_PIX_FMT_RGBA, kSwsFullRange,
                                                            kFastBilinear});
    if (initResult < 0) {
        result.initError = initResult;
        result.context.reset();
        return result;
    }
    // The destination table only matters for YUV output; BT.709 is given for
    // completeness.
    if (!SetSwsColor(context, SwsCoefficientsOf(frame), sourceRange, sws_getCoefficients(SWS_CS_ITU709),
                     kSwsFullRange)) {
        result.colourDetailsRefused = true;
    } else if (Yuv420pFastPathApplies(frame)) {
        result.direct = MakeYuv420pToRgbaTable(SwsCoefficientsOf(frame), sourceRange);
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

int ConvertToRgba(SwsContext* context, const std::optional<Yuv420pToRgbaTable>& direct, const AVFrame& frame,
                  QImage* image, RgbaStores stores) {
    // A frame without its planes is swscale's to refuse.
    if (!direct || frame.data[0] == nullptr || frame.data[1] == nullptr || frame.data[2] == nullptr) {
        return ScaleToRgba(context, frame, image);
    }
    if (image->width() != frame.width || image->height() != frame.height) return -1;
    ConvertYuv420pToRgba(*direct, frame, image->bits(), static_cast<int>(image->bytesPerLine()), stores);
    return frame.height;
}
