// The render output: every RGBA read-back of the scene, converted to
// YUV420P (BT.709, limited range), is pushed to each sink of a fixed list
// in list order.
//
// OnRawFrame runs on the drawing thread; the sink list is fixed at
// construction and the sinks lock their own state. The sinks are borrowed:
// their owner destroys this output first.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "scaler/video_scaler.h"

extern "C" {
#include <libavutil/buffer.h>
}
#include "vexo/gs_output_raw.h"

class StreamVideoSink;

class GsOutputFrame final : public GsOutputRaw {
public:
    GsOutputFrame(GsScene* scene, uint32_t width, uint32_t height, int outputFormat,
                  std::vector<StreamVideoSink*> sinks);
    // Stops first: no read-back arrives once destruction has begun.
    ~GsOutputFrame() override;

    void OnRawFrame(const gs_raw_frame& frame) override;

private:
    const std::vector<StreamVideoSink*> sinks_;  // borrowed
    // Drawing thread only.
    std::unique_ptr<VideoScaler> scaler_;
    uint32_t scalerWidth_ = 0;
    uint32_t scalerHeight_ = 0;
    bool failureLogged_ = false;  // one log line per run of failed conversions
    // Picture buffers of the current size, reused once every sink has let go
    // of them (no allocation and no fresh pages per frame).
    struct PoolDeleter {
        void operator()(AVBufferPool* pool) const;
    };
    std::unique_ptr<AVBufferPool, PoolDeleter> pool_;
    int poolLinesize_[3] = {};
    size_t planeOffset_[3] = {};
    size_t poolBytes_ = 0;
};
