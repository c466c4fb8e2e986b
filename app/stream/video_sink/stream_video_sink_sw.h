// A sink that turns every picture into an RGBA QImage (any source format).
#pragma once

#include <QImage>

#include "video_sink/stream_video_sink.h"

class StreamVideoSinkSw : public StreamVideoSink {
public:
    // The newest converted picture (any thread); the same image as the last
    // call when nothing new came, a null image before the first picture.
    virtual QImage GetImage() = 0;
};
