// An RGBA picture in device memory: drawn from, and the render target of a
// filter. Its release waits for the frame being composed.
#pragma once

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
    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return width_ * 4; }
    const uint8_t* pixels() const { return pixels_.data(); }
    uint8_t* pixels() { return pixels_.data(); }

private:
    void CopyRows(const void* data, int rowPitch);

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
