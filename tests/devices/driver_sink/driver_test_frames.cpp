#include "driver_test_frames.h"

#include <cstring>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/pixfmt.h>
}

namespace zucam::test {

namespace {

constexpr uint8_t kPaddingByte = 0xEE;

int PlaneWidth(int width, int plane) { return plane == 0 ? width : (width + 1) / 2; }
int PlaneRows(int height, int plane) { return plane == 0 ? height : (height + 1) / 2; }

void AppendLittleEndian32(std::vector<uint8_t>* bytes, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) bytes->push_back(static_cast<uint8_t>(bits >> shift));
}

}  // namespace

uint8_t PatternByte(int plane, int row, int column, int seed) {
    return static_cast<uint8_t>((plane * 71 + row * 13 + column * 7 + seed) & 0xff);
}

AVFramePtr MakeTightPatternFrame(int width, int height, int seed, int padding) {
    AVFramePtr frame(av_frame_alloc());
    if (!frame) return nullptr;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    for (int plane = 0; plane < 3; ++plane) {
        const int stride = PlaneWidth(width, plane) + padding;
        const int rows = PlaneRows(height, plane);
        frame->buf[plane] = av_buffer_alloc(static_cast<size_t>(stride) * static_cast<size_t>(rows));
        if (frame->buf[plane] == nullptr) return nullptr;
        frame->data[plane] = frame->buf[plane]->data;
        frame->linesize[plane] = stride;
        for (int row = 0; row < rows; ++row) {
            uint8_t* const line = frame->data[plane] + static_cast<size_t>(row) * static_cast<size_t>(stride);
            std::memset(line, kPaddingByte, static_cast<size_t>(stride));
            for (int column = 0; column < PlaneWidth(width, plane); ++column) {
                line[column] = PatternByte(plane, row, column, seed);
            }
        }
    }
    return frame;
}

std::vector<uint8_t> ExpectedDriverFrame(int width, int height, int seed) {
    std::vector<uint8_t> bytes;
    for (const int32_t field : {width, height, width, width / 2, width / 2}) AppendLittleEndian32(&bytes, field);
    bytes.resize(64, 0);
    for (int plane = 0; plane < 3; ++plane) {
        const int planeWidth = plane == 0 ? width : width / 2;
        const int rows = plane == 0 ? height : height / 2;
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < planeWidth; ++column) bytes.push_back(PatternByte(plane, row, column, seed));
        }
    }
    return bytes;
}

int32_t ReadLittleEndian32(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(bytes.at(offset + i)) << (8 * i);
    return static_cast<int32_t>(value);
}

}  // namespace zucam::test
