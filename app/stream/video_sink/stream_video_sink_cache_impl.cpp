#include "video_sink/stream_video_sink_cache_impl.h"

#include <utility>
#include <vector>

#include "core/tether/tq_log.h"
#include "video_sink/make_black_frame.h"
#include "video_sink/rgba_conversion.h"
#include "video_sink/yuv420p_check.h"

std::unique_ptr<StreamVideoSinkCache> StreamVideoSinkCacheImpl::Create(uint64_t maxFrames) {
    return std::unique_ptr<StreamVideoSinkCache>(new StreamVideoSinkCacheImpl(maxFrames));
}

StreamVideoSinkCacheImpl::~StreamVideoSinkCacheImpl() { Clear(); }

void StreamVideoSinkCacheImpl::Push(AVFrame* frame) {
    if (!AcceptYuv420p(frame, "cache", &rejectionLogged_)) return;
    if (enabled) {
        SetFrame(frame);
        return;
    }
    const AVFramePtr black = MakeBlackFrame(frame);
    if (black) SetFrame(black.get());
}

void StreamVideoSinkCacheImpl::SetFrame(AVFrame* frame) {
    if (frame == nullptr || frame->format != AV_PIX_FMT_YUV420P) return;
    AVFramePtr clone = CloneFrame(frame);
    if (!clone) {
        LOG_E("render cache: could not clone a %dx%d frame", frame->width, frame->height);
        return;
    }
    std::vector<AVFramePtr> dropped;
    {
        QMutexLocker lock(&queueMutex_);
        frames_.push_back(std::move(clone));
        while (frames_.size() > maxFrames_) {
            dropped.push_back(std::move(frames_.front()));
            frames_.pop_front();
        }
    }
    dropped.clear();  // freed outside the queue lock

    QMutexLocker lock(&callbackMutex_);
    if (callback_ != nullptr) callback_->OnNewFrame();
}

QImage StreamVideoSinkCacheImpl::Screenshot() {
    const AVFramePtr front(CloneFront());
    if (!front) return QImage();
    RgbaContext built = CreateRgbaContext(*front);
    if (built.allocationFailed) {
        LOG_E("render cache: Could not create swscale");
        return QImage();
    }
    if (!built.context) {
        LOG_E("render cache: sws_init_context failed error: %s", FfmpegErrorText(built.initError).c_str());
        return QImage();
    }
    if (built.colourDetailsRefused) LOG_E("render cache: sws_setColorspaceDetails failed, ignoring");
    QImage image = AllocateRgbaImage(front->width, front->height);
    if (image.isNull()) {
        LOG_E("render cache: no memory for a %dx%d picture", front->width, front->height);
        return QImage();
    }
    const int result = ScaleToRgba(built.context.get(), *front, &image);
    if (result <= 0) {
        LOG_W("render sw: sws_scale failed: %d", result);
        return QImage();
    }
    return image;
}

AVFrame* StreamVideoSinkCacheImpl::TakeFrame() {
    QMutexLocker lock(&queueMutex_);
    if (frames_.empty()) return nullptr;
    AVFrame* const oldest = frames_.front().release();
    frames_.pop_front();
    return oldest;
}

AVFrame* StreamVideoSinkCacheImpl::CloneFront() {
    QMutexLocker lock(&queueMutex_);
    if (frames_.empty()) return nullptr;
    return CloneFrame(frames_.front().get()).release();
}

void StreamVideoSinkCacheImpl::Clear() {
    std::deque<AVFramePtr> released;
    {
        QMutexLocker lock(&queueMutex_);
        std::swap(released, frames_);
    }
}

void StreamVideoSinkCacheImpl::SetNewFrameCallback(NewFrameCallback* callback) {
    QMutexLocker lock(&callbackMutex_);
    callback_ = callback;
}

void StreamVideoSinkCacheImpl::ClearNewFrameCallback() {
    QMutexLocker lock(&callbackMutex_);
    callback_ = nullptr;
}
