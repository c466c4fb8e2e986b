// Turning a frame of any pixel format into a full-range RGBA QImage with
// swscale, honouring the frame's colour range and colour space. Shared by the
// software sink and the cache's screenshot, which word their own log lines.
#pragma once

#include <QImage>
#include <string>

#include "video_sink/ffmpeg_handles.h"

struct RgbaContext {
    SwsContextPtr context;            // null when building failed
    bool allocationFailed = false;    // sws_alloc_context gave nothing
    int initError = 0;                // sws_init_context's error, when it failed
    bool colourDetailsRefused = false;  // sws_setColorspaceDetails failed; context still usable
};

// A context that converts frames of this frame's format, size, range and
// colour space, without rescaling.
RgbaContext CreateRgbaContext(const AVFrame& frame);

// swscale's range flag for the frame: 1 for full (JPEG) range, 0 for limited
// (MPEG) range. Unspecified counts as limited; the YUVJ formats are full.
int SwsRangeOf(const AVFrame& frame);

// swscale's YUV-to-RGB coefficients for the frame's colour space: BT.709,
// FCC, SMPTE 240M or BT.2020 when tagged so, BT.601 otherwise.
const int* SwsCoefficientsOf(const AVFrame& frame);

// A new RGBA image of that size whose lines are padded to 64 bytes: swscale's
// SIMD converters write whole 16-pixel blocks and so run past a line of
// exactly width * 4 bytes. Null for an empty size or when out of memory.
QImage AllocateRgbaImage(int width, int height);

// Converts the whole frame into image, which must have the frame's size and
// not be shared (bits() would copy it). Returns sws_scale's result: the
// number of lines written, 0 or less on failure.
int ScaleToRgba(SwsContext* context, const AVFrame& frame, QImage* image);

// FFmpeg's text for an error code.
std::string FfmpegErrorText(int error);
