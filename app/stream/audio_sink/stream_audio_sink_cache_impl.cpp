#include "stream_audio_sink_cache_impl.h"

#include <QMutexLocker>
#include <algorithm>
#include <cstring>

#include "core/tether/tq_log.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

namespace {

bool ValidFormat(int sampleRate, int channels) {
    return sampleRate >= StreamAudioSinkCacheImpl::kMinSampleRate &&
           sampleRate <= StreamAudioSinkCacheImpl::kMaxSampleRate && channels >= 1 &&
           channels <= StreamAudioSinkCacheImpl::kMaxChannels;
}

}  // namespace

std::unique_ptr<StreamAudioSinkCache> StreamAudioSinkCache::Create(int sampleRate, int channels, int cacheMs,
                                                                   int sampleType) {
    if (!ValidFormat(sampleRate, channels) || cacheMs < StreamAudioSinkCacheImpl::kMinCacheMs ||
        cacheMs > StreamAudioSinkCacheImpl::kMaxCacheMs) {
        LOG_E("audio cache refused: %d Hz, %d channels, %d ms", sampleRate, channels, cacheMs);
        return nullptr;
    }
    return std::make_unique<StreamAudioSinkCacheImpl>(sampleRate, channels, cacheMs, sampleType);
}

void StreamAudioSinkCacheImpl::AvBufferFree::operator()(uint8_t* p) const { av_free(p); }

StreamAudioSinkCacheImpl::StreamAudioSinkCacheImpl(int sampleRate, int channels, int cacheMs, int sampleType)
    : sampleType_(sampleType == kSampleTypeFloat ? kSampleTypeFloat : kSampleTypeS16),
      sampleFormat_(sampleType == kSampleTypeFloat ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16P),
      sampleRate_(sampleRate),
      channels_(channels),
      bytesPerSample_(av_get_bytes_per_sample(sampleFormat_)),
      // In range by Create's checks: at most 384,000 x 10,000 / 1,000.
      capacity_(static_cast<int>(static_cast<int64_t>(sampleRate) * cacheMs / 1000)),
      fifo_(av_audio_fifo_alloc(sampleFormat_, channels, std::max(capacity_, 1))) {
    if (fifo_ == nullptr) LOG_E("audio cache: no FIFO of %d samples", capacity_);
}

StreamAudioSinkCacheImpl::~StreamAudioSinkCacheImpl() {
    swr_free(&resampler_);
    if (fifo_ != nullptr) av_audio_fifo_free(fifo_);
}

void StreamAudioSinkCacheImpl::LogRejectedInput(int sampleRate, int channels, int samples) {
    // Once per distinct format, so a phone sending nonsense does not flood the log.
    if (sampleRate == lastRejectedRate_ && channels == lastRejectedChannels_) return;
    lastRejectedRate_ = sampleRate;
    lastRejectedChannels_ = channels;
    LOG_W("audio block dropped: %d samples, %d Hz, %d channels", samples, sampleRate, channels);
}

bool StreamAudioSinkCacheImpl::PrepareResampler(int inRate, int inChannels) {
    if (resampler_ != nullptr && inChannels_ == inChannels && inFormat_ == AV_SAMPLE_FMT_S16 && inRate_ == inRate &&
        swr_is_initialized(resampler_) != 0) {
        return true;
    }
    // A fresh context for a new input: one configured for the old input keeps
    // the old layout and would read past a smaller block.
    swr_free(&resampler_);
    inChannels_ = inChannels;
    inFormat_ = AV_SAMPLE_FMT_S16;
    inRate_ = inRate;

    AVChannelLayout inLayout;
    AVChannelLayout outLayout;
    av_channel_layout_default(&inLayout, inChannels);
    av_channel_layout_default(&outLayout, channels_);
    int result = swr_alloc_set_opts2(&resampler_, &outLayout, sampleFormat_, sampleRate_, &inLayout,
                                     AV_SAMPLE_FMT_S16, inRate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (result < 0 || resampler_ == nullptr) {
        swr_free(&resampler_);
        inFormat_ = -1;
        LOG_E("swr_alloc_set_opts2 failed, %d-%d -> %d-%d", inRate, inChannels, sampleRate_, channels_);
        return false;
    }
    result = swr_init(resampler_);
    if (result < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE] = {};
        av_strerror(result, text, sizeof text);
        LOG_E("swr_init failed, %d-%d-%d -> %d-%d-%d, error: %s", inRate, inChannels, static_cast<int>(AV_SAMPLE_FMT_S16),
              sampleRate_, channels_, static_cast<int>(sampleFormat_), text);
        swr_free(&resampler_);
        inFormat_ = -1;
        return false;
    }
    ++builds_;
    return true;
}

bool StreamAudioSinkCacheImpl::ReserveConversionBuffer(size_t outSamples) {
    if (outSamples <= conversionSamples_) return true;
    const size_t bytes = outSamples * static_cast<size_t>(bytesPerSample_) * static_cast<size_t>(channels_);
    conversion_.reset(static_cast<uint8_t*>(av_malloc(bytes)));
    conversionSamples_ = conversion_ ? outSamples : 0;
    return conversion_ != nullptr;
}

void StreamAudioSinkCacheImpl::OnAudio(const uint8_t* pcm, int samplesPerChannel, int sampleRate, int channels) {
    int converted = 0;
    {
        QMutexLocker converterLock(&converterMutex_);
        if (!ValidFormat(sampleRate, channels) || samplesPerChannel < 0 || samplesPerChannel > kMaxBlockSamples ||
            (pcm == nullptr && samplesPerChannel > 0) || fifo_ == nullptr) {
            LogRejectedInput(sampleRate, channels, samplesPerChannel);
            return;
        }
        if (!PrepareResampler(sampleRate, channels)) return;

        if (samplesPerChannel > 0) {
            // Both factors are bounded (delay by the resampler, the block by
            // kMaxBlockSamples), so the product fits 64 bits and the result
            // stays far below the cap of 10 s at the highest rate.
            const int64_t delay = swr_get_delay(resampler_, sampleRate);
            const int64_t wanted = av_rescale_rnd(delay + samplesPerChannel, sampleRate_, sampleRate, AV_ROUND_UP);
            if (wanted <= 0 || wanted > kMaxBlockSamples * 2) {
                LogRejectedInput(sampleRate, channels, samplesPerChannel);
                return;
            }
            if (!ReserveConversionBuffer(static_cast<size_t>(wanted))) {
                LOG_E("audio cache: no conversion buffer for %lld samples", static_cast<long long>(wanted));
                return;
            }
            uint8_t* planes[kMaxChannels] = {};
            for (int c = 0; c < channels_; ++c) {
                planes[c] = conversion_.get() + static_cast<size_t>(c) * conversionSamples_ * bytesPerSample_;
            }
            const uint8_t* input[1] = {pcm};
            converted = swr_convert(resampler_, planes, static_cast<int>(wanted), input, samplesPerChannel);
            if (converted < 0) return;
            if (converted > 0) AppendConverted(converted);
        }
    }
    QMutexLocker callbackLock(&callbackMutex_);
    if (callback_ != nullptr) callback_->OnAudioSamples(converted);
}

void StreamAudioSinkCacheImpl::AppendConverted(int samples) {
    // av_audio_fifo_write takes non-const planes but only reads them.
    void* planes[kMaxChannels] = {};
    size_t skip = 0;
    if (samples > capacity_) {
        // A block longer than the cache: only its newest part can stay.
        skip = static_cast<size_t>(samples - capacity_);
        samples = capacity_;
    }
    for (int c = 0; c < channels_; ++c) {
        planes[c] = conversion_.get() + (static_cast<size_t>(c) * conversionSamples_ + skip) * bytesPerSample_;
    }
    QMutexLocker lock(&fifoMutex_);
    const int excess = av_audio_fifo_size(fifo_) + samples - capacity_;
    if (excess > 0) av_audio_fifo_drain(fifo_, excess);
    av_audio_fifo_write(fifo_, planes, samples);
}

int StreamAudioSinkCacheImpl::Read(uint8_t* buffer, int bytes) {
    if (buffer == nullptr || bytes <= 0 || fifo_ == nullptr) return 0;
    const int perSample = bytesPerSample_ * channels_;
    const int wanted = bytes / perSample;
    if (wanted <= 0) return 0;
    void* planes[kMaxChannels] = {};
    for (int c = 0; c < channels_; ++c) {
        planes[c] = buffer + static_cast<size_t>(c) * static_cast<size_t>(wanted) * bytesPerSample_;
    }
    QMutexLocker lock(&fifoMutex_);
    const int count = std::min(av_audio_fifo_size(fifo_), wanted);
    if (count <= 0) return 0;
    return av_audio_fifo_read(fifo_, planes, count);
}

int StreamAudioSinkCacheImpl::QueuedSamples() const {
    if (fifo_ == nullptr) return 0;
    QMutexLocker lock(&fifoMutex_);
    return av_audio_fifo_size(fifo_);
}

int StreamAudioSinkCacheImpl::DropOldest(int maxQueued, int keep) {
    if (fifo_ == nullptr) return 0;
    keep = std::max(keep, 0);
    QMutexLocker lock(&fifoMutex_);
    const int size = av_audio_fifo_size(fifo_);
    if (size <= maxQueued || size <= keep) return 0;
    const int dropped = size - keep;
    av_audio_fifo_drain(fifo_, dropped);
    return dropped;
}

void StreamAudioSinkCacheImpl::SetCallback(Callback* cb) {
    QMutexLocker lock(&callbackMutex_);
    callback_ = cb;
}

void StreamAudioSinkCacheImpl::ClearCallback() {
    QMutexLocker lock(&callbackMutex_);
    callback_ = nullptr;
}

int StreamAudioSinkCacheImpl::resamplerBuilds() const {
    QMutexLocker lock(&converterMutex_);
    return builds_;
}
