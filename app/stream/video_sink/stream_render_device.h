// A sink that keeps the latest YUV420P picture for the virtual camera; the
// camera writer's thread copies it into the shared-memory camera queue.
#pragma once

#include "video_sink/stream_video_sink.h"

class CameraQueue;

class StreamRenderDevice : public StreamVideoSink {
public:
    // Writes the latest picture to the queue (again, when no new one came);
    // nothing without a picture, for an empty picture or a null queue.
    virtual void WriteTo(CameraQueue* queue) = 0;
};
