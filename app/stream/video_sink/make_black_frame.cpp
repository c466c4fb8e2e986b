#include "video_sink/make_black_frame.h"

#include <cstring>

extern "C" {
#include <libavutil/common.h>
}

namespace {
constexpr int kLumaBlack = 0;
constexpr int kChromaNeutral = 128;
constexpr int kPlaneAlignment = 32;
}  // namespace

AVFramePtr MakeBlackFrame(const AVFrame* reference) {
    if (reference == nullptr || reference->width < 1 || reference->height < 1) return nullptr;
    AVFramePtr black(av_frame_alloc());
    if (!black) return nullptr;
    // Always YUV420P, whatever the reference was: every frame a sink hands on
    // is YUV420P.
    black->format = AV_PIX_FMT_YUV420P;
    black->width = reference->width;
    black->height = reference->height;
    black->color_range = AVCOL_RANGE_JPEG;
    if (av_frame_get_buffer(black.get(), kPlaneAlignment) < 0) return nullptr;

    const int chromaRows = AV_CEIL_RSHIFT(black->height, 1);
    // Whole lines, padding included, so that no reader meets stale bytes.
    std::memset(black->data[0], kLumaBlack, static_cast<size_t>(black->linesize[0]) * black->height);
    std::memset(black->data[1], kChromaNeutral, static_cast<size_t>(black->linesize[1]) * chromaRows);
    std::memset(black->data[2], kChromaNeutral, static_cast<size_t>(black->linesize[2]) * chromaRows);
    return black;
}
