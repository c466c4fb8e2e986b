// Turning a frame of any pixel format into a full-range RGBA QImage with
// swscale, honouring the frame's colour range and colour space. Shared by the
// software sink and the cache's screenshot, which word their own log lines.
#pragma once

#include <QImage>
#include <optional>
#include <string>

#include "ffmpeg_color.h"
#include "ffmpeg_handles.h"
#include "video_sink/yuv420p_to_rgba.h"

struct RgbaContext {
    SwsContextPtr context;            // null when building failed
    bool allocationFailed = false;    // sws_alloc_context gave nothing
    int initError = 0;                // sws_init_context's error, when it failed
    bool colourDetailsRefused = false;  // sws_setColorspaceDetails failed; context still usable
    // Set where our own converter gives swscale's bytes for these frames
    // (YUV420P or YUVJ420P of even height on x86 with SSSE3, the colour
    // details taken): the table it converts with.
    std::optional<Yuv420pToRgbaTable> direct;
};

// A context that converts frames of this frame's format, size, range and
// colour space, without rescaling; also the direct table where it applies.
RgbaContext CreateRgbaContext(const AVFrame& frame);

// A new RGBA image of that size whose lines are padded to 64 bytes: swscale's
// SIMD converters write whole 16-pixel blocks and so run past a line of
// exactly width * 4 bytes. Null for an empty size or when out of memory.
QImage AllocateRgbaImage(int width, int height);

// Converts the whole frame into image, which must have the frame's size and
// not be shared (bits() would copy it). Returns sws_scale's result: the
// number of lines written, 0 or less on failure.
int ScaleToRgba(SwsContext* context, const AVFrame& frame, QImage* image);

// The same through the direct table when there is one (faster, the same
// bytes), otherwise through context. Streaming stores suit a picture that
// another thread reads later: they do not first read the destination into
// the cache (in the whole video path they cut the conversion by a quarter
// to a third; cached stores gained nothing over swscale there).
int ConvertToRgba(SwsContext* context, const std::optional<Yuv420pToRgbaTable>& direct, const AVFrame& frame,
                  QImage* image, RgbaStores stores);
