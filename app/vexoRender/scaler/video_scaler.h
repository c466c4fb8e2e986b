// A small wrapper over swscale for the render output: one context for one
// source and destination shape, colour matrices and ranges set explicitly.
#pragma once

#include <cstdint>
#include <memory>

#include "ffmpeg_handles.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

struct VideoScalerParams {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int width = 0;
    int height = 0;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    AVColorSpace colorspace = AVCOL_SPC_UNSPECIFIED;
};

struct VideoScaler {
    SwsContextPtr context;  // null when creation failed
    // Full-range RGBA to limited-range BT.709 YUV420P of one size that the
    // render library's own converter computes (on the render library's row
    // workers) instead of swscale, with the same result within one step.
    bool ownConverter = false;
    int sourceHeight = 0;   // the slice height of every conversion
    // The shapes, for swscale's threaded frame interface.
    VideoScalerParams source;
    VideoScalerParams destination;
};

// Never null; the context is absent (and the failure logged) when swscale
// refuses the shapes.
std::unique_ptr<VideoScaler> video_scaler_create(const VideoScalerParams& destination,
                                                 const VideoScalerParams& source);
// False without a context (silently) or when the conversion fails (logged).
// The render output's conversion (RGBA to BT.709 YUV420P) runs on the render
// library's row workers; anything else on swscale, on the calling thread.
bool video_scaler_scale(VideoScaler* scaler, uint8_t* const destination[], const int destinationLinesize[],
                        const uint8_t* const source[], const int sourceLinesize[]);
void video_scaler_free(VideoScaler* scaler);
