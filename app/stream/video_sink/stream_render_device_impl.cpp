#include "video_sink/stream_render_device_impl.h"

#include "video_sink/camera_queue.h"
#include "video_sink/make_black_frame.h"
#include "video_sink/yuv420p_check.h"

std::unique_ptr<StreamRenderDevice> StreamRenderDeviceImpl::Create(std::function<void()> onPicture) {
    return std::unique_ptr<StreamRenderDevice>(new StreamRenderDeviceImpl(std::move(onPicture)));
}

void StreamRenderDeviceImpl::Push(AVFrame* frame) {
    if (!enabled) return;
    SetFrame(frame);
}

void StreamRenderDeviceImpl::ShowBlack() {
    const std::shared_ptr<const AVFrame> stored = latest_.Load();
    if (!stored) return;
    const AVFramePtr black = MakeBlackFrame(stored.get());
    if (black) SetFrame(black.get());
}

void StreamRenderDeviceImpl::SetFrame(AVFrame* frame) {
    if (!AcceptYuv420p(frame, "device", &rejectionLogged_)) return;
    latest_.Store(frame);
    if (onPicture_) onPicture_();
}

void StreamRenderDeviceImpl::WriteTo(CameraQueue* queue) {
    if (queue == nullptr) return;
    const std::shared_ptr<const AVFrame> picture = latest_.Load();
    if (!picture || picture->width < 1 || picture->height < 1) return;
    // The same picture again (the heartbeat) is announced, not copied,
    // wherever the queue still holds it.
    if (picture == lastWritten_ && queue == lastQueue_ && queue->RepublishLastFrame()) return;
    // The picture is shared read-only with the slot; the write runs unlocked.
    queue->WriteFrame(picture->data, picture->linesize, picture->width, picture->height);
    lastWritten_ = picture;
    lastQueue_ = queue;
}
