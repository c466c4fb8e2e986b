// What every swscale user of the streaming engine needs to get colour right.
//
// swscale's range flag is 0 for limited (MPEG) and 1 for full (JPEG) range;
// FFmpeg's AVColorRange is 0 unspecified, 1 MPEG, 2 JPEG. The two must never
// be mixed up: these helpers map one to the other, treat the YUVJ formats as
// their plain twins with full range implied, and pick the swscale matrix
// that a frame is tagged with.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

constexpr int kSwsLimitedRange = 0;
constexpr int kSwsFullRange = 1;

// A YUVJ format's plain twin (YUVJ420P -> YUV420P); any other format as is.
AVPixelFormat PlainTwinOf(int format);
bool IsFullRangeFormat(int format);
// The range a frame really has: JPEG when tagged so or in a YUVJ format,
// otherwise MPEG (unspecified counts as limited).
AVColorRange RealRangeOf(const AVFrame& frame);
// The same as swscale's flag.
int SwsRangeOf(const AVFrame& frame);
// swscale's YUV<->RGB coefficients for a colour space (BT.601 when
// untagged), and for the frame's.
const int* SwsCoefficientsFor(AVColorSpace colorspace);
const int* SwsCoefficientsOf(const AVFrame& frame);
// Sets ranges and matrices with neutral brightness, contrast and saturation;
// false when swscale refuses.
bool SetSwsColor(SwsContext* context, const int* sourceCoefficients, int sourceRange,
                 const int* destinationCoefficients, int destinationRange);
// What a swscale context converts: sizes, formats, swscale ranges, flags and
// slice threads (0: one per core).
struct SwsSetup {
    int sourceWidth;
    int sourceHeight;
    int sourceFormat;
    int sourceRange;
    int destinationWidth;
    int destinationHeight;
    int destinationFormat;
    int destinationRange;
    int64_t flags;
    int threads = 1;
};
// Sets those options on a fresh context (sws_alloc_context) and initialises
// it; returns sws_init_context's result (negative on failure). Options that
// do not take, an out-of-range format say, surface as that failure.
int InitSwsContext(SwsContext* context, const SwsSetup& setup);
// av_strerror's text for an FFmpeg error code.
std::string FfmpegErrorText(int error);
