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
    int sourceHeight = 0;   // the slice height of every conversion
    // The shapes, for swscale's threaded frame interface.
    VideoScalerParams source;
    VideoScalerParams destination;
};

// Never null; the context is absent (and the failure logged) when swscale
// refuses the shapes.
std::unique_ptr<VideoScaler> video_scaler_create(const VideoScalerParams& destination,
                                                 const VideoScalerParams& source);
// False without a context (silently) or when swscale fails (logged). The
// conversion runs on swscale's slice threads; the result is the same as one
// thread's.
bool video_scaler_scale(VideoScaler* scaler, uint8_t* const destination[], const int destinationLinesize[],
                        const uint8_t* const source[], const int sourceLinesize[]);
void video_scaler_free(VideoScaler* scaler);
