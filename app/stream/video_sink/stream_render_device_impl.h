// The virtual camera's sink: the producer stores the latest YUV420P
// picture; CameraRawWriter's thread copies it into the camera queue.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "video_sink/latest_frame_slot.h"
#include "video_sink/stream_render_device.h"

class StreamRenderDeviceImpl final : public StreamRenderDevice {
public:
    // onPicture, when given, runs after every picture that is stored (on the
    // pushing thread, outside the slot's lock): the queue writer publishes
    // it at once instead of at its next period.
    static std::unique_ptr<StreamRenderDevice> Create(std::function<void()> onPicture = {});
    ~StreamRenderDeviceImpl() override = default;
    StreamRenderDeviceImpl(const StreamRenderDeviceImpl&) = delete;
    StreamRenderDeviceImpl& operator=(const StreamRenderDeviceImpl&) = delete;

    // YUV420P only, and only while enabled.
    void Push(AVFrame* frame) override;
    // A black picture of the stored picture's size; nothing without one.
    void ShowBlack() override;
    // YUV420P only: the queue takes planar 4:2:0 pictures.
    void SetFrame(AVFrame* frame) override;
    void WriteTo(CameraQueue* queue) override;

private:
    explicit StreamRenderDeviceImpl(std::function<void()> onPicture) : onPicture_(std::move(onPicture)) {}

    const std::function<void()> onPicture_;

    LatestFrameSlot latest_;  // kept until replaced: every WriteTo re-uses it
    std::atomic<bool> rejectionLogged_{false};
    // What the last WriteTo wrote where; touched only by WriteTo's thread
    // (the queue writer's).
    std::shared_ptr<const AVFrame> lastWritten_;
    const CameraQueue* lastQueue_ = nullptr;
};
