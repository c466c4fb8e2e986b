#include "test_frames.h"

#include <QColor>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/common.h>
}

namespace zucam::test {

AVFramePtr MakeFrame(AVPixelFormat format, int width, int height) {
    AVFramePtr frame(av_frame_alloc());
    if (!frame) return nullptr;
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    return frame;
}

int PlaneRows(const AVFrame& frame, int plane) {
    return plane == 0 ? frame.height : AV_CEIL_RSHIFT(frame.height, 1);
}

int PlaneWidth(const AVFrame& frame, int plane) {
    return plane == 0 ? frame.width : AV_CEIL_RSHIFT(frame.width, 1);
}

AVFramePtr MakeUniformYuvFrame(int width, int height, Yuv value, AVColorRange range, AVColorSpace space) {
    AVFramePtr frame = MakeFrame(AV_PIX_FMT_YUV420P, width, height);
    if (!frame) return nullptr;
    frame->color_range = range;
    frame->colorspace = space;
    const uint8_t values[3] = {value.y, value.u, value.v};
    for (int plane = 0; plane < 3; ++plane) {
        std::memset(frame->data[plane], values[plane],
                    static_cast<size_t>(frame->linesize[plane]) * PlaneRows(*frame, plane));
    }
    return frame;
}

AVFramePtr MakePatternFrame(int width, int height, int seed) {
    AVFramePtr frame = MakeFrame(AV_PIX_FMT_YUV420P, width, height);
    if (!frame) return nullptr;
    for (int plane = 0; plane < 3; ++plane) {
        for (int row = 0; row < PlaneRows(*frame, plane); ++row) {
            uint8_t* const line = frame->data[plane] + static_cast<ptrdiff_t>(row) * frame->linesize[plane];
            for (int column = 0; column < frame->linesize[plane]; ++column) {
                line[column] = static_cast<uint8_t>((plane * 71 + row * 13 + column * 7 + seed) & 0xff);
            }
        }
    }
    return frame;
}

std::vector<uint8_t> PlaneBytes(const uint8_t* data, int stride, int width, int rows) {
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(width) * rows);
    for (int row = 0; row < rows; ++row) {
        const uint8_t* const line = data + static_cast<ptrdiff_t>(row) * stride;
        bytes.insert(bytes.end(), line, line + width);
    }
    return bytes;
}

std::vector<uint8_t> PlaneBytes(const AVFrame& frame, int plane) {
    return PlaneBytes(frame.data[plane], frame.linesize[plane], PlaneWidth(frame, plane), PlaneRows(frame, plane));
}

std::string FirstPixelOff(const QImage& image, int r, int g, int b, int tolerance) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - r) > tolerance || std::abs(c.green() - g) > tolerance ||
                std::abs(c.blue() - b) > tolerance || c.alpha() != 255) {
                return "pixel (" + std::to_string(x) + "," + std::to_string(y) + ") is (" +
                       std::to_string(c.red()) + "," + std::to_string(c.green()) + "," + std::to_string(c.blue()) +
                       "," + std::to_string(c.alpha()) + ")";
            }
        }
    }
    return std::string();
}

bool IsUniform(const QImage& image) {
    if (image.isNull()) return false;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != first) return false;
        }
    }
    return true;
}

}  // namespace zucam::test
