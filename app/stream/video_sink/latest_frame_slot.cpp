#include "video_sink/latest_frame_slot.h"

#include <utility>

namespace {
void FreeSharedFrame(const AVFrame* frame) {
    AVFrame* owned = const_cast<AVFrame*>(frame);
    av_frame_free(&owned);
}
}  // namespace

void LatestFrameSlot::Store(const AVFrame* frame) {
    std::shared_ptr<const AVFrame> clone;
    if (AVFramePtr cloned = CloneFrame(frame)) clone.reset(cloned.release(), FreeSharedFrame);
    {
        QMutexLocker lock(&mutex_);
        std::swap(frame_, clone);
    }
    // The replaced picture is released here, outside the lock.
}

std::shared_ptr<const AVFrame> LatestFrameSlot::Load() const {
    QMutexLocker lock(&mutex_);
    return frame_;
}
