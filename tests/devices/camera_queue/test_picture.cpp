#include "test_picture.h"

#include <cstring>

namespace {

int RowsOf(const int plane, const int height) { return plane == 0 ? height : height / 2; }

}  // namespace

TestPicture::TestPicture(const int width, const int height, const int strideY, const int strideU,
                         const int strideV)
    : width_(width),
      height_(height),
      strides_{strideY > 0 ? strideY : width, strideU > 0 ? strideU : width / 2, strideV > 0 ? strideV : width / 2} {
    for (int plane = 0; plane < 3; ++plane) {
        // Chroma planes of a one-row picture still get a row, as decoders give them.
        const int rows = plane == 0 ? height : (height + 1) / 2;
        storage_[plane].assign(static_cast<size_t>(rows) * static_cast<size_t>(strides_[plane]), 0xEE);
        planes_[plane] = storage_[plane].data();
    }
}

uint8_t TestPicture::PatternByte(const uint32_t frame, const int plane, const int row, const int column) {
    return static_cast<uint8_t>(frame * 7u + static_cast<uint32_t>(plane) * 61u + static_cast<uint32_t>(row) * 3u +
                                static_cast<uint32_t>(column));
}

void TestPicture::FillPattern(const uint32_t frame) {
    for (int plane = 0; plane < 3; ++plane) {
        const int columns = plane == 0 ? width_ : width_ / 2;
        const int rows = plane == 0 ? height_ : (height_ + 1) / 2;
        for (int row = 0; row < rows; ++row) {
            uint8_t* const line = storage_[plane].data() + static_cast<size_t>(row) * static_cast<size_t>(strides_[plane]);
            for (int column = 0; column < strides_[plane]; ++column) {
                line[column] = column < columns ? PatternByte(frame, plane, row, column) : 0xEE;
            }
        }
    }
    if (width_ >= 4) std::memcpy(storage_[0].data(), &frame, sizeof(frame));
}

bool TestPicture::CheckPattern(const uint8_t* const planes[3], const uint32_t lines[3], const uint32_t width,
                               const uint32_t height, uint32_t* const frame) {
    if (width < 4 || lines[0] < 4) return false;
    std::memcpy(frame, planes[0], sizeof(*frame));
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = RowsOf(plane, static_cast<int>(height));
        const uint8_t* data = planes[plane];
        for (int row = 0; row < rows; ++row) {
            for (uint32_t column = 0; column < lines[plane]; ++column, ++data) {
                if (plane == 0 && row == 0 && column < 4) continue;
                if (*data != PatternByte(*frame, plane, row, static_cast<int>(column))) return false;
            }
        }
    }
    return true;
}
