// An RGBA picture in device memory: drawn from, and the render target of a
// filter. Its release waits for the frame being composed.
#pragma once

#include <memory>

#include <cstdint>
#include <vector>

class GsDevice;

class GsTexture {
public:
    // data may be null (a transparent black texture); pitch in bytes.
    GsTexture(const void* data, int rowPitch, int format, int width, int height, GsDevice* device);
    ~GsTexture();
    GsTexture(const GsTexture&) = delete;
    GsTexture& operator=(const GsTexture&) = delete;

    // In place; false (nothing changed) when the size or format differs.
    bool Update(const void* data, int rowPitch, int format, int width, int height);
    // In place, without a copy: the texture draws from pixels (rows rowPitch
    // bytes apart) until the next Update, Share or destruction, and keeper
    // keeps them alive and unchanged until then. False (nothing changed)
    // when the size or format differs or pixels is null.
    bool Share(std::shared_ptr<const void> keeper, const uint8_t* pixels, int rowPitch, int format, int width,
               int height);
    int width() const { return width_; }
    int height() const { return height_; }
    // Bytes from one row to the next.
    int stride() const { return shared_ != nullptr ? sharedStride_ : width_ * 4; }
    const uint8_t* pixels() const { return shared_ != nullptr ? shared_ : pixels_.data(); }
    // For writing (a render target): shared pixels are copied in first.
    uint8_t* pixels();

private:
    void CopyRows(const void* data, int rowPitch);

    std::shared_ptr<const void> keeper_;  // holds shared_ while it is drawn from
    const uint8_t* shared_ = nullptr;     // null: the own pixels_
    int sharedStride_ = 0;

    GsDevice* const device_;  // borrowed; may be null
    const int width_;
    const int height_;
    std::vector<uint8_t> pixels_;
};

// Binds one texture (slot 0) for its lifetime; the previous binding returns.
class GsTextureBinder {
public:
    explicit GsTextureBinder(const GsTexture* texture);
    ~GsTextureBinder();
    GsTextureBinder(const GsTextureBinder&) = delete;
    GsTextureBinder& operator=(const GsTextureBinder&) = delete;

private:
    const GsTexture* const previous_;
};
