// The 64-byte header that opens every frame handed to the camera driver. The
// planes follow it: Y (yPitch bytes a row, height rows), then U and V
// (uPitch and vPitch bytes a row, height / 2 rows each), with no padding.
// All fields are little-endian int32, which is the host order on every
// machine this program runs on.
#pragma once

#include <cstdint>
#include <cstring>

struct DriverFrameHeader {
    int32_t width;
    int32_t height;
    int32_t yPitch;  // = width
    int32_t uPitch;  // = width / 2
    int32_t vPitch;  // = width / 2
    uint8_t reserved[44];  // zero
};
static_assert(sizeof(DriverFrameHeader) == 64, "the driver reads a 64-byte header");

// The header of an even-sized width x height picture.
inline DriverFrameHeader MakeDriverFrameHeader(int32_t width, int32_t height) {
    DriverFrameHeader header;
    std::memset(&header, 0, sizeof header);
    header.width = width;
    header.height = height;
    header.yPitch = width;
    header.uPitch = width / 2;
    header.vPitch = width / 2;
    return header;
}
