// The video half of a recording: YUV420P pictures in, H.264 packets out to
// the muxer side. Runs on the recorder's video thread only.
#pragma once

#include <atomic>
#include <cstdint>

#include "ffmpeg_handles.h"

struct AVCodecContext;
struct AVPacket;
class EncodedPacketSink;

class VideoEncoder {
public:
    // context: an opened encoder, borrowed (the recorder frees it after the
    // threads have ended); its time base is 1/1,000,000.
    VideoEncoder(AVCodecContext* context, EncodedPacketSink* sink);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // frame->pts in microseconds. A picture of another size than the
    // encoder's is scaled to it first (the phone may turn or change its
    // resolution mid-recording). False once the encoder failed.
    bool Encode(AVFrame* frame);
    // Sends the end of stream and drains every packet left.
    bool Flush();
    // pts of the last picture handed to the encoder (microseconds), -1 before.
    int64_t lastPts() const { return lastPts_.load(); }
    // Pictures that had to be scaled to the encoder's size.
    int64_t scaledFrames() const { return scaledFrames_; }

private:
    bool Send(const AVFrame* frame);
    bool Drain();
    AVFrame* FitToEncoder(AVFrame* frame);

    AVCodecContext* const context_;
    EncodedPacketSink* const sink_;
    AVPacket* packet_;
    SwsContext* scaler_ = nullptr;
    AVFramePtr scaled_;
    std::atomic<int64_t> lastPts_{-1};
    int64_t scaledFrames_ = 0;
    bool failed_ = false;
};
