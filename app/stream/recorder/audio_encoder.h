// The audio half of a recording: blocks of planar samples in, AAC packets
// out to the muxer side. Runs on the recorder's audio thread only.
//
// Audio and video share one clock: each block arrives stamped with the time
// of its first sample (microseconds since the recording's first picture),
// taken from the same monotonic clock as the pictures. The encoder keeps its
// sample count on that clock: a gap in the phone's sound (sound switched
// off, a stalled connection, blocks dropped by a full queue) is filled with
// silence, and sound that runs ahead of the clock is trimmed, so the two
// streams never drift apart.
#pragma once

#include <atomic>
#include <cstdint>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
class EncodedPacketSink;

class AudioEncoder {
public:
    // Drift below this is left alone (network and scheduling jitter).
    static constexpr int64_t kToleranceUs = 150000;
    // A longer silence is not encoded: the time stamps jump instead.
    static constexpr int64_t kMaxSilenceUs = 30000000;

    // context: an opened encoder, borrowed (the recorder frees it after the
    // threads have ended); its time base is 1 / sample rate.
    AudioEncoder(AVCodecContext* context, EncodedPacketSink* sink);
    ~AudioEncoder();
    AudioEncoder(const AudioEncoder&) = delete;
    AudioEncoder& operator=(const AudioEncoder&) = delete;

    // frame: the encoder's sample format, rate and channels; frame->pts the
    // time of its first sample in microseconds. False once the encoder failed.
    bool Encode(const AVFrame* frame);
    // Pads with silence up to endUs (the end of the video, when known and not
    // too far), encodes what is left and drains the encoder.
    bool Flush(int64_t endUs);
    // Time of the end of the sound taken in so far, microseconds.
    int64_t ptsUs() const { return endUs_.load(); }
    // Samples of silence inserted and of sound trimmed so far.
    int64_t silenceSamples() const { return silenceSamples_; }
    int64_t trimmedSamples() const { return trimmedSamples_; }

private:
    bool Append(const uint8_t* const* planes, int samples);
    bool AppendSilence(int64_t samples);
    // Encodes every whole frame in the FIFO (and the rest when final).
    bool EncodeQueued(bool final);
    bool Send(AVFrame* frame);
    bool Fail(const char* what);
    int64_t SamplesToUs(int64_t samples) const;
    int64_t UsToSamples(int64_t us) const;

    AVCodecContext* const context_;
    EncodedPacketSink* const sink_;
    const int frameSize_;
    AVAudioFifo* fifo_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* silence_ = nullptr;  // one frame of zeros, made on first use
    // Sample position (on the shared clock) of the FIFO's end and of the
    // next frame to encode.
    int64_t fifoEnd_ = 0;
    int64_t nextPts_ = 0;
    bool started_ = false;
    bool failed_ = false;
    std::atomic<int64_t> endUs_{0};
    int64_t silenceSamples_ = 0;
    int64_t trimmedSamples_ = 0;
};
