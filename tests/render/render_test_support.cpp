#include "render_test_support.h"

#include <QMutexLocker>
#include <cstring>

extern "C" {
#include <libavutil/frame.h>
}

#include "vexo/gs_device.h"
#include "vexo/gs_manual_clock.h"
#include "zuc_shaders.h"

QImage FixedFrameProvider::GetImage() {
    const QMutexLocker lock(&mutex_);
    return image_;
}

void FixedFrameProvider::SetImage(const QImage& image) {
    const QMutexLocker lock(&mutex_);
    image_ = image;
}

QImage FixedFrameProvider::Solid(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGBA8888);
    image.fill(QColor::fromRgba(colour));
    return image;
}

void RecordingSink::Push(AVFrame* frame) {
    PushedFrame seen;
    seen.sink = id_;
    seen.width = frame->width;
    seen.height = frame->height;
    seen.format = frame->format;
    seen.pts = frame->pts;
    seen.colorRange = frame->color_range;
    seen.colorspace = frame->colorspace;
    seen.y = frame->data[0][0];
    seen.u = frame->data[1][0];
    seen.v = frame->data[2][0];
    journal_->push_back(seen);
}

ReadBackOutput::ReadBackOutput(GsScene* scene, uint32_t outputWidth, uint32_t outputHeight)
    : GsOutputRaw(scene, outputWidth, outputHeight, kGsOutputRgba, nullptr) {}

void ReadBackOutput::OnRawFrame(const gs_raw_frame& frame) {
    // Packed rows, whatever the read-back's line length.
    const size_t rowBytes = static_cast<size_t>(frame.width) * 4;
    last.resize(rowBytes * frame.height);
    for (uint32_t y = 0; y < frame.height; ++y) {
        std::memcpy(last.data() + rowBytes * y, frame.data[0] + static_cast<size_t>(frame.linesize[0]) * y, rowBytes);
    }
    width = frame.width;
}

QRgb ReadBackOutput::At(int x, int y) const {
    const uint8_t* p = last.data() + (static_cast<size_t>(y) * width + x) * 4;
    return qRgba(p[0], p[1], p[2], p[3]);
}

RenderFixture::RenderFixture() {
    EXPECT_TRUE(GsDevice::CreateDefaultDevice(std::make_unique<GsManualClock>(), false));
    EXPECT_TRUE(RegisterZucShaders(GsDevice::DefaultDevice()));
}

RenderFixture::~RenderFixture() { GsDevice::DestroyDefaultDevice(); }

void RenderFixture::Compose() { GsDevice::DefaultDevice()->ComposeFrame(0); }
