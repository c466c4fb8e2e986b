#include "vexo/gs_texture.h"

#include <utility>

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
        shared_ = nullptr;
        keeper_.reset();
    }
}

bool GsTexture::Update(const void* data, int rowPitch, int format, int width, int height) {
    if (width != width_ || height != height_ || format != kGsTextureRgba) return false;
    std::shared_ptr<const void> released;
    std::unique_lock<std::recursive_mutex> lock;
    if (device_ != nullptr) lock = device_->LockFrame();
    released = std::move(keeper_);
    shared_ = nullptr;
    if (pixels_.size() != static_cast<size_t>(width_) * height_ * 4) {
        pixels_.assign(static_cast<size_t>(width_) * height_ * 4, 0);
    }
    CopyRows(data, rowPitch);
    return true;
}

bool GsTexture::Share(std::shared_ptr<const void> keeper, const uint8_t* pixels, int rowPitch, int format, int width,
                      int height) {
    if (width != width_ || height != height_ || format != kGsTextureRgba || pixels == nullptr ||
        rowPitch < width_ * 4) {
        return false;
    }
    std::shared_ptr<const void> released;
    {
        std::unique_lock<std::recursive_mutex> lock;
        if (device_ != nullptr) lock = device_->LockFrame();
        released = std::exchange(keeper_, std::move(keeper));
        shared_ = pixels;
        sharedStride_ = rowPitch;
        // The own copy is not needed while shared.
        std::vector<uint8_t>().swap(pixels_);
    }
    return true;
}

uint8_t* GsTexture::pixels() {
    if (shared_ != nullptr) {
        std::vector<uint8_t> copy(static_cast<size_t>(width_) * height_ * 4);
        const size_t rowBytes = static_cast<size_t>(width_) * 4;
        for (int y = 0; y < height_; ++y) {
            std::memcpy(copy.data() + rowBytes * y, shared_ + static_cast<size_t>(sharedStride_) * y, rowBytes);
        }
        pixels_ = std::move(copy);
        shared_ = nullptr;
        keeper_.reset();
    }
    return pixels_.data();
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
