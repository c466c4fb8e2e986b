#include "vexo/gs_texture.h"

#include <cstring>

#include "vexo/gs_context_default.h"
#include "vexo/gs_device.h"

GsTexture::GsTexture(const void* data, int rowPitch, int /*format*/, int width, int height, GsDevice* device)
    : device_(device),
      width_(width > 0 ? width : 0),
      height_(height > 0 ? height : 0),
      pixels_(static_cast<size_t>(width_) * height_ * 4, 0) {
    CopyRows(data, rowPitch);
}

GsTexture::~GsTexture() {
    // A frame may be sampling the pixels: wait for its end.
    if (device_ != nullptr) {
        const auto lock = device_->LockFrame();
        pixels_.clear();
    }
}

bool GsTexture::Update(const void* data, int rowPitch, int format, int width, int height) {
    if (width != width_ || height != height_ || format != kGsTextureRgba) return false;
    if (device_ != nullptr) {
        const auto lock = device_->LockFrame();
        CopyRows(data, rowPitch);
    } else {
        CopyRows(data, rowPitch);
    }
    return true;
}

void GsTexture::CopyRows(const void* data, int rowPitch) {
    if (data == nullptr || width_ == 0 || rowPitch < width_ * 4) return;
    const auto* source = static_cast<const uint8_t*>(data);
    const size_t rowBytes = static_cast<size_t>(width_) * 4;
    if (rowPitch == width_ * 4) {
        std::memcpy(pixels_.data(), source, rowBytes * height_);
        return;
    }
    for (int y = 0; y < height_; ++y) {
        std::memcpy(pixels_.data() + rowBytes * y, source + static_cast<size_t>(rowPitch) * y, rowBytes);
    }
}

GsTextureBinder::GsTextureBinder(const GsTexture* texture) : previous_(GsContextDefault::BindTexture(texture)) {}

GsTextureBinder::~GsTextureBinder() { GsContextDefault::BindTexture(previous_); }
