// Frames for the driver sink tests, and the bytes the driver must receive
// for them, worked out from the pattern rather than from the frame.
#pragma once

#include <cstdint>
#include <vector>

#include "ffmpeg_handles.h"

namespace zucam::test {

// Plane p, row r, column c of a pattern frame.
uint8_t PatternByte(int plane, int row, int column, int seed);

// A YUV420P frame holding the pattern, each plane in a buffer of exactly
// linesize * rows bytes, with linesize = plane width + padding (the padding
// bytes are 0xEE). A read past the last row or past the planes' ends is
// outside the allocation, which ASan reports. Reference-counted, so the sink
// clones it without copying.
AVFramePtr MakeTightPatternFrame(int width, int height, int seed, int padding = 0);

// The driver frame for a width x height picture holding the pattern (both
// even): little-endian header, then rows of exactly the plane widths.
std::vector<uint8_t> ExpectedDriverFrame(int width, int height, int seed);

// The int32 at offset of a little-endian byte string.
int32_t ReadLittleEndian32(const std::vector<uint8_t>& bytes, size_t offset);

}  // namespace zucam::test
