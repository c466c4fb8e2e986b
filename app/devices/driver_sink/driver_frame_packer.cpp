#include "devices/driver_sink/driver_frame_packer.h"

#include <cstring>
#include <new>

extern "C" {
#include <libavutil/frame.h>
}

#include "devices/driver_sink/driver_frame_header.h"

int64_t DriverFramePacker::PackedLength(int64_t width, int64_t height) {
    return static_cast<int64_t>(sizeof(DriverFrameHeader)) + width * height * 3 / 2;
}

DriverFramePacker::Result DriverFramePacker::Pack(const AVFrame& frame) {
    size_ = 0;
    if (frame.data[0] == nullptr || frame.data[1] == nullptr || frame.data[2] == nullptr) return Result::NoPicture;
    const int width = frame.width & ~1;
    const int height = frame.height & ~1;
    if (width < 2 || height < 2) return Result::NoPicture;
    const int64_t length = PackedLength(width, height);
    if (length > kMaxPackedLength) return Result::TooLarge;

    if (static_cast<size_t>(length) > capacity_) {
        buffer_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(length)]);
        capacity_ = buffer_ ? static_cast<size_t>(length) : 0;
        if (!buffer_) return Result::TooLarge;
    }

    const size_t lumaWidth = static_cast<size_t>(width);
    const size_t chromaWidth = lumaWidth / 2;
    uint8_t* const lumaOut = buffer_.get() + sizeof(DriverFrameHeader);
    uint8_t* const uOut = lumaOut + lumaWidth * static_cast<size_t>(height);
    uint8_t* const vOut = uOut + chromaWidth * static_cast<size_t>(height / 2);
    // Line sizes may be negative (bottom-up frames): step through the source
    // in ptrdiff_t.
    const ptrdiff_t lumaStride = frame.linesize[0];
    const ptrdiff_t uStride = frame.linesize[1];
    const ptrdiff_t vStride = frame.linesize[2];
    for (int row = 0; row < height; row += 2) {
        const ptrdiff_t chromaRow = row / 2;
        std::memcpy(lumaOut + lumaWidth * static_cast<size_t>(row), frame.data[0] + lumaStride * row, lumaWidth);
        std::memcpy(lumaOut + lumaWidth * static_cast<size_t>(row + 1), frame.data[0] + lumaStride * (row + 1),
                    lumaWidth);
        std::memcpy(uOut + chromaWidth * static_cast<size_t>(chromaRow), frame.data[1] + uStride * chromaRow,
                    chromaWidth);
        std::memcpy(vOut + chromaWidth * static_cast<size_t>(chromaRow), frame.data[2] + vStride * chromaRow,
                    chromaWidth);
    }

    const DriverFrameHeader header = MakeDriverFrameHeader(width, height);
    std::memcpy(buffer_.get(), &header, sizeof header);
    size_ = static_cast<size_t>(length);
    return Result::Packed;
}
