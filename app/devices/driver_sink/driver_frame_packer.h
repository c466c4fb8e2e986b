// Packs a YUV420P frame into the driver's frame layout: DriverFrameHeader,
// then the Y, U and V planes with rows of exactly their width. Used by the
// driver sink's writer thread only; the buffer is reused and only grown.
//
// The driver takes even sizes (its chroma planes are width / 2 by
// height / 2), so a frame of odd width or height is packed without its last
// column or row. That keeps every read inside the source planes: the row
// pairs never reach past the last row, and chroma row r / 2 exists for every
// packed pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct AVFrame;

class DriverFramePacker {
public:
    // Bytes of the packed frame of an even-sized picture, header included,
    // in 64 bits so that no size overflows.
    static int64_t PackedLength(int64_t width, int64_t height);
    // The largest frame the driver's int32 length can describe.
    static constexpr int64_t kMaxPackedLength = INT32_MAX;

    enum class Result {
        Packed,
        NoPicture,  // no planes, or smaller than 2 x 2 once cropped to even
        TooLarge,   // the packed length does not fit an int32, or no memory
    };

    // Packs a YUV420P frame (the caller checks the format). Anything but
    // Packed leaves the previous contents unusable: size() is 0.
    Result Pack(const AVFrame& frame);

    const uint8_t* data() const { return buffer_.get(); }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }

private:
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_ = 0;
    size_t size_ = 0;  // bytes of the last packed frame
};
