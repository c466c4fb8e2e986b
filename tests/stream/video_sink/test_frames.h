// Small frames built byte by byte for the sink tests.
#pragma once

#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

#include "ffmpeg_handles.h"

namespace zucam::test {

struct Yuv {
    uint8_t y;
    uint8_t u;
    uint8_t v;
};

// A YUV420P frame whose planes hold the one value each, in every byte of
// every line (padding too).
AVFramePtr MakeUniformYuvFrame(int width, int height, Yuv value, AVColorRange range = AVCOL_RANGE_MPEG,
                               AVColorSpace space = AVCOL_SPC_UNSPECIFIED);

// A YUV420P frame whose visible bytes all differ from their neighbours:
// plane p, row r, column c holds (p * 71 + r * 13 + c * 7 + seed) & 0xff.
AVFramePtr MakePatternFrame(int width, int height, int seed = 0);

// An allocated frame of any format, its bytes left as FFmpeg gives them.
AVFramePtr MakeFrame(AVPixelFormat format, int width, int height);

// Rows of a YUV420P plane (0 = Y) and bytes of each row that are picture.
int PlaneRows(const AVFrame& frame, int plane);
int PlaneWidth(const AVFrame& frame, int plane);

// The visible bytes of a plane, row after row, without line padding.
std::vector<uint8_t> PlaneBytes(const AVFrame& frame, int plane);
std::vector<uint8_t> PlaneBytes(const uint8_t* data, int stride, int width, int rows);

// Empty when every pixel of image is (r, g, b, 255) within tolerance,
// otherwise the first pixel that is not, for the failure message.
std::string FirstPixelOff(const QImage& image, int r, int g, int b, int tolerance);

// True when every pixel equals the top-left one.
bool IsUniform(const QImage& image);

}  // namespace zucam::test
