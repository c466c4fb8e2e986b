// A bounded queue of the newest pictures, read by the recorder (TakeFrame)
// and by screenshots (Screenshot of the oldest queued picture).
#pragma once

#include <QImage>

#include "video_sink/stream_video_sink.h"

class StreamVideoSinkCache : public StreamVideoSink {
public:
    // Told about every queued picture, on the pushing thread, with no cache
    // lock held: it may call TakeFrame. It must not set or clear the
    // callback from inside OnNewFrame.
    class NewFrameCallback {
    public:
        virtual ~NewFrameCallback() = default;
        virtual void OnNewFrame() = 0;
    };

    // An RGBA picture of the oldest queued frame; null when the queue is
    // empty or the conversion fails.
    virtual QImage Screenshot() = 0;
    // Removes the oldest frame and hands it over (free it with
    // av_frame_free); null when the queue is empty.
    virtual AVFrame* TakeFrame() = 0;
    // A reference-counted clone of the oldest frame, owned by the caller;
    // null when the queue is empty.
    virtual AVFrame* CloneFront() = 0;
    // Frees every queued frame.
    virtual void Clear() = 0;
    // The callback is borrowed: clear it before freeing it. Clearing waits
    // for a running OnNewFrame to return.
    virtual void SetNewFrameCallback(NewFrameCallback* callback) = 0;
    virtual void ClearNewFrameCallback() = 0;
};
