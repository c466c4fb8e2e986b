// An output that hands every composed picture of its scene to OnRawFrame.
#pragma once

#include <cstdint>
#include <vector>

#include "vexo/gs_types.h"

class GsDevice;
class GsScene;

class GsOutput {
public:
    virtual ~GsOutput() = default;
    virtual bool Start() = 0;
    virtual void Stop() = 0;
};

class GsOutputRaw : public GsOutput {
public:
    // Holds a reference on scene until destruction; device null means the
    // default device.
    GsOutputRaw(GsScene* scene, uint32_t width, uint32_t height, int format, GsDevice* device);
    ~GsOutputRaw() override;
    GsOutputRaw(const GsOutputRaw&) = delete;
    GsOutputRaw& operator=(const GsOutputRaw&) = delete;

    // False without device or scene, or for a format other than RGBA (1).
    bool Start() override;
    // Returns once OnRawFrame is no longer running nor will run. Subclasses
    // call it first in their destructor.
    void Stop() override;
    // Drawing thread; the frame is valid during the call only.
    virtual void OnRawFrame(const gs_raw_frame& frame) = 0;

    GsScene* scene() const { return scene_; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    // The read-back buffer of the output's size (drawing thread).
    std::vector<uint8_t>& readBackBuffer() { return readBack_; }

private:
    GsScene* const scene_;  // one reference
    const uint32_t width_;
    const uint32_t height_;
    const int format_;
    GsDevice* const device_;  // borrowed
    std::vector<uint8_t> readBack_;
};
