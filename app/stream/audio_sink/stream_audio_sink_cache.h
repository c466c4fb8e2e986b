// The audio sink cache: a sink that resamples every received block to one
// fixed format and keeps the newest samples in a bounded FIFO, from which a
// consumer (the virtual microphone, the recorder) reads at its own pace.
//
// Thread use: OnAudio from any number of producer threads (each hub's media
// connection, P2P threads); Read, QueuedSamples and DropOldest from the
// consumer's thread. The cache locks itself.
#pragma once

#include <cstdint>
#include <memory>

#include "stream_audio_sink.h"

class StreamAudioSinkCache : public StreamAudioSink {
public:
    // Told after every converted block how many samples per channel it added
    // (0 is possible: the resampler may hold a short block back). Called on
    // the producer's thread; it may call Read.
    class Callback {
    public:
        virtual ~Callback() = default;
        virtual void OnAudioSamples(int samples) = 0;
    };

    enum SampleType : int { kSampleTypeS16 = 0, kSampleTypeFloat = 1 };

    // sampleType 1 gives planar float, anything else planar signed 16-bit.
    // Null when the rate (1,000 to 384,000 Hz), the channel count (1 to 8) or
    // the length (1 ms to 10 s) is out of range.
    static std::unique_ptr<StreamAudioSinkCache> Create(int sampleRate, int channels, int cacheMs, int sampleType);

    // The values given to Create (the type as 0 or 1).
    virtual int GetSampleType() const = 0;
    virtual int GetSampleRate() const = 0;
    virtual int GetChannels() const = 0;
    // Moves up to bytes / (bytes per sample x channels) samples per channel,
    // oldest first, into buffer, which is taken as planar with that many
    // samples per plane. What the FIFO lacks is left untouched, so callers
    // clear the buffer first. Returns the samples per channel moved.
    virtual int Read(uint8_t* buffer, int bytes) = 0;
    // cb is borrowed; ClearCallback returns only when no call is running.
    virtual void SetCallback(Callback* cb) = 0;
    virtual void ClearCallback() = 0;

    // Samples per channel queued now.
    virtual int QueuedSamples() const = 0;
    // When more than maxQueued samples per channel are queued, drops the
    // oldest so that keep remain. Returns the number dropped. This bounds a
    // consumer's latency far below the FIFO's capacity.
    virtual int DropOldest(int maxQueued, int keep) = 0;
};
