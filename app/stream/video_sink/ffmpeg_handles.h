// Owning handles for FFmpeg objects used by the sinks.
#pragma once

#include <memory>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

struct AVFrameDeleter {
    void operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }
};
// Owns a frame (and its reference to the pixel buffers).
using AVFramePtr = std::unique_ptr<AVFrame, AVFrameDeleter>;

struct SwsContextDeleter {
    void operator()(SwsContext* context) const noexcept { sws_freeContext(context); }
};
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

// A new reference to frame's buffers with its properties; null for a null
// frame or when FFmpeg cannot allocate.
inline AVFramePtr CloneFrame(const AVFrame* frame) {
    return AVFramePtr(frame != nullptr ? av_frame_clone(frame) : nullptr);
}
