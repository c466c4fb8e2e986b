// Yuv420pConverter: turns a decoded picture into the YUV420P frame the video
// sinks take, keeping its colour range, space, primaries and transfer.
// YUV420P and YUVJ420P pictures are handed on as new references to the same
// buffers (a YUVJ picture is relabelled YUV420P, tagged full range); other
// formats go through swscale with the same range on both sides, so limited
// video stays limited and full stays full. The swscale context is kept while
// the source format, size and range stay the same.
//
// Used by one decoder thread; not thread-safe.
#pragma once

#include "ffmpeg_handles.h"

class Yuv420pConverter {
public:
    Yuv420pConverter() = default;
    Yuv420pConverter(const Yuv420pConverter&) = delete;
    Yuv420pConverter& operator=(const Yuv420pConverter&) = delete;

    // A new YUV420P frame for the picture, tagged with its real range (never
    // unspecified); null when it cannot be converted. The first failure is
    // logged, later ones are not.
    AVFramePtr Convert(const AVFrame& picture);

    // The colour range a picture really has: full for a JPEG tag or a YUVJ
    // format, limited otherwise (unspecified counts as limited).
    static AVColorRange RealRange(const AVFrame& picture);

private:
    bool ContextFits(const AVFrame& picture, int sourceFormat) const;
    bool RebuildContext(const AVFrame& picture, int sourceFormat);

    SwsContextPtr context_;
    int lastFormat_ = -1;
    int lastWidth_ = 0;
    int lastHeight_ = 0;
    AVColorRange lastRange_ = AVCOL_RANGE_UNSPECIFIED;
    AVColorSpace lastColorSpace_ = AVCOL_SPC_UNSPECIFIED;
    bool errorLogged_ = false;
};
