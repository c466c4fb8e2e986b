// A planar 4:2:0 picture with chosen line strides (padding included), for
// feeding the queue writer, filled with a pattern that says which frame,
// plane, row and column each byte belongs to. The probe writer and the
// readers share the pattern, so a reader can tell a torn frame (rows of two
// different frames) from a whole one.
#pragma once

#include <cstdint>
#include <vector>

class TestPicture {
public:
    // Strides default to the packed widths.
    TestPicture(int width, int height, int strideY = 0, int strideU = 0, int strideV = 0);

    // Every byte set from frame, plane, row and column; the first four
    // bytes of Y hold frame itself, little-endian. Padding bytes are 0xEE.
    void FillPattern(uint32_t frame);

    static uint8_t PatternByte(uint32_t frame, int plane, int row, int column);
    // Checks packed planes as a reader gets them. True when every byte
    // matches the frame named by the first four bytes, stored in *frame.
    static bool CheckPattern(const uint8_t* const planes[3], const uint32_t lines[3], uint32_t width,
                             uint32_t height, uint32_t* frame);

    const uint8_t* const* planes() const { return planes_; }
    const int* strides() const { return strides_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    const int width_;
    const int height_;
    int strides_[3];
    std::vector<uint8_t> storage_[3];
    const uint8_t* planes_[3];
};
