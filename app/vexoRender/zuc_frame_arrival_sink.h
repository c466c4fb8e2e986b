// A video sink that tells the render device a new source picture is there:
// placed after the frame provider in a decoder's sink list, it makes the
// device compose the picture as soon as the frame rate allows instead of at
// its next deadline. It keeps no picture.
#pragma once

#include "video_sink/stream_video_sink.h"

class GsDevice;

class ZucFrameArrivalSink final : public StreamVideoSink {
public:
    // device null means the default device at the time of each push.
    explicit ZucFrameArrivalSink(GsDevice* device = nullptr) : device_(device) {}

    void Push(AVFrame* frame) override;
    void ShowBlack() override;
    void SetFrame(AVFrame* frame) override;

private:
    GsDevice* const device_;  // borrowed, may be null
};
