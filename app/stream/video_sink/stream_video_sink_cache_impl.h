// The frame cache: a queue of at most maxFrames YUV420P frames, newest at
// the back. Producers push on their thread; the recorder takes frames and the
// screenshot action clones the front on theirs.
#pragma once

#include <QMutex>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>

#include "ffmpeg_handles.h"
#include "video_sink/stream_video_sink_cache.h"

class StreamVideoSinkCacheImpl final : public StreamVideoSinkCache {
public:
    static std::unique_ptr<StreamVideoSinkCache> Create(uint64_t maxFrames);
    ~StreamVideoSinkCacheImpl() override;
    StreamVideoSinkCacheImpl(const StreamVideoSinkCacheImpl&) = delete;
    StreamVideoSinkCacheImpl& operator=(const StreamVideoSinkCacheImpl&) = delete;

    // YUV420P only. While disabled, a black frame of the pushed size is
    // queued instead, so a recording keeps its timing.
    void Push(AVFrame* frame) override;
    void ShowBlack() override {}
    // Queues a clone (YUV420P only), drops the oldest beyond the maximum,
    // then tells the callback.
    void SetFrame(AVFrame* frame) override;
    QImage Screenshot() override;
    AVFrame* TakeFrame() override;
    AVFrame* CloneFront() override;
    // Only while no producer pushes.
    void Clear() override;
    void SetNewFrameCallback(NewFrameCallback* callback) override;
    void ClearNewFrameCallback() override;

private:
    explicit StreamVideoSinkCacheImpl(uint64_t maxFrames) : maxFrames_(maxFrames) {}

    const uint64_t maxFrames_;
    std::atomic<bool> rejectionLogged_{false};

    // Never held together with callbackMutex_.
    QMutex queueMutex_;  // guards frames_
    std::deque<AVFramePtr> frames_;

    // Held while OnNewFrame runs, so clearing waits for a running call.
    QMutex callbackMutex_;  // guards callback_
    NewFrameCallback* callback_ = nullptr;
};
