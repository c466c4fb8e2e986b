// The resampling FIFO behind StreamAudioSinkCache::Create.
//
// Locks, always taken in this order and never the other way round:
//   converterMutex_ -> fifoMutex_ ;  callbackMutex_ is taken alone by the
//   cache (the callback itself may call Read, which takes fifoMutex_).
#pragma once

#include <QMutex>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "stream_audio_sink_cache.h"

extern "C" {
#include <libavutil/samplefmt.h>
}

struct AVAudioFifo;
struct SwrContext;

class StreamAudioSinkCacheImpl : public StreamAudioSinkCache {
public:
    // Accepted input and cache formats; anything outside is refused.
    static constexpr int kMinSampleRate = 1000;
    static constexpr int kMaxSampleRate = 384000;
    static constexpr int kMaxChannels = 8;
    static constexpr int kMinCacheMs = 1;
    static constexpr int kMaxCacheMs = 10000;
    // Largest input block in samples per channel (10 s at the highest rate):
    // bounds the conversion buffer whatever the phone claims.
    static constexpr int kMaxBlockSamples = kMaxSampleRate * 10;

    // The arguments must be in range (Create checks them).
    StreamAudioSinkCacheImpl(int sampleRate, int channels, int cacheMs, int sampleType);
    ~StreamAudioSinkCacheImpl() override;

    StreamAudioSinkCacheImpl(const StreamAudioSinkCacheImpl&) = delete;
    StreamAudioSinkCacheImpl& operator=(const StreamAudioSinkCacheImpl&) = delete;

    void OnAudio(const uint8_t* pcm, int samplesPerChannel, int sampleRate, int channels) override;

    int GetSampleType() const override { return sampleType_; }
    int GetSampleRate() const override { return sampleRate_; }
    int GetChannels() const override { return channels_; }
    int Read(uint8_t* buffer, int bytes) override;
    void SetCallback(Callback* cb) override;
    void ClearCallback() override;
    int QueuedSamples() const override;
    int DropOldest(int maxQueued, int keep) override;

    // Samples per channel the FIFO holds at most.
    int capacity() const { return capacity_; }
    // How often the resampler has been built (for tests of the rebuild).
    int resamplerBuilds() const;

private:
    struct AvBufferFree {
        void operator()(uint8_t* p) const;
    };

    // Under converterMutex_: a resampler for this input, built when the input
    // differs from the last one. False drops the block.
    bool PrepareResampler(int inRate, int inChannels);
    // Under converterMutex_: room for outSamples per channel.
    bool ReserveConversionBuffer(size_t outSamples);
    // Takes fifoMutex_: appends samples per channel from conversion buffer,
    // dropping the oldest so that the FIFO stays within capacity_.
    void AppendConverted(int samples);
    void LogRejectedInput(int sampleRate, int channels, int samples);

    const int sampleType_;
    const AVSampleFormat sampleFormat_;
    const int sampleRate_;
    const int channels_;
    const int bytesPerSample_;
    const int capacity_;

    // Guards fifo_'s content. fifo_ is made once with capacity_ samples and
    // never grows past it.
    mutable QMutex fifoMutex_;
    AVAudioFifo* fifo_ = nullptr;

    // Guards the resampler, the input it was made for, the conversion buffer
    // and the rejection log state (producers may call from several threads).
    mutable QMutex converterMutex_;
    SwrContext* resampler_ = nullptr;
    int inChannels_ = 0;
    int inFormat_ = -1;
    int inRate_ = 0;
    int builds_ = 0;
    std::unique_ptr<uint8_t, AvBufferFree> conversion_;
    size_t conversionSamples_ = 0;  // per channel, per plane
    int lastRejectedRate_ = 0;
    int lastRejectedChannels_ = 0;

    // Guards callback_ and every call through it.
    QMutex callbackMutex_;
    Callback* callback_ = nullptr;  // borrowed
};
