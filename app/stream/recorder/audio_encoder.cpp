#include "recorder/audio_encoder.h"

#include <algorithm>
#include <string>

#include "core/tether/tq_log.h"
#include "recorder/encoded_packet_sink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

namespace {

constexpr int kMaxPlanes = 8;

std::string ErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

}  // namespace

AudioEncoder::AudioEncoder(AVCodecContext* context, EncodedPacketSink* sink)
    : context_(context),
      sink_(sink),
      frameSize_(context->frame_size > 0 ? context->frame_size : 1024),
      fifo_(av_audio_fifo_alloc(context->sample_fmt, context->ch_layout.nb_channels, 2048)),
      packet_(av_packet_alloc()) {
    if (fifo_ == nullptr || packet_ == nullptr) failed_ = true;
}

AudioEncoder::~AudioEncoder() {
    if (fifo_ != nullptr) av_audio_fifo_free(fifo_);
    av_packet_free(&packet_);
    av_frame_free(&silence_);
}

int64_t AudioEncoder::SamplesToUs(int64_t samples) const {
    return av_rescale(samples, 1000000, context_->sample_rate);
}

int64_t AudioEncoder::UsToSamples(int64_t us) const { return av_rescale(us, context_->sample_rate, 1000000); }

bool AudioEncoder::Fail(const char* what) {
    if (!failed_) {
        failed_ = true;
        sink_->EncoderFailed(what);
    }
    return false;
}

bool AudioEncoder::Encode(const AVFrame* frame) {
    if (failed_) return false;
    if (frame == nullptr || frame->nb_samples <= 0) return true;
    if (frame->format != context_->sample_fmt || frame->ch_layout.nb_channels != context_->ch_layout.nb_channels) {
        LOG_E("recorder: an audio block of format %d with %d channels reached a %d / %d encoder", frame->format,
              frame->ch_layout.nb_channels, context_->sample_fmt, context_->ch_layout.nb_channels);
        return true;
    }
    const int64_t start = UsToSamples(frame->pts);
    int skip = 0;
    if (!started_) {
        // The first block may begin before the first picture (cut it) or a
        // little after it (silence before it), so both streams start at 0.
        started_ = true;
        if (start < 0) skip = static_cast<int>(std::min<int64_t>(-start, frame->nb_samples));
        if (start > UsToSamples(kMaxSilenceUs)) {
            fifoEnd_ = nextPts_ = start;
        } else if (start > 0 && !AppendSilence(start)) {
            return false;
        }
    } else {
        const int64_t drift = start - fifoEnd_;
        const int64_t tolerance = UsToSamples(kToleranceUs);
        if (drift > tolerance) {
            if (drift <= UsToSamples(kMaxSilenceUs)) {
                if (!AppendSilence(drift)) return false;
            } else {
                // Too long to fill: finish the frame in hand with silence
                // (only the very last frame may be short) and jump.
                const int partial = av_audio_fifo_size(fifo_) % frameSize_;
                if (partial > 0 && !AppendSilence(frameSize_ - partial)) return false;
                if (!EncodeQueued(false)) return false;
                fifoEnd_ = nextPts_ = start;
            }
        } else if (-drift > tolerance) {
            skip = static_cast<int>(std::min<int64_t>(-drift, frame->nb_samples));
        }
    }
    trimmedSamples_ += skip;
    if (skip < frame->nb_samples) {
        const int bytesPerSample = av_get_bytes_per_sample(context_->sample_fmt);
        const uint8_t* planes[kMaxPlanes] = {};
        const int channels = std::min(frame->ch_layout.nb_channels, kMaxPlanes);
        for (int c = 0; c < channels; ++c) planes[c] = frame->extended_data[c] + skip * bytesPerSample;
        if (!Append(planes, frame->nb_samples - skip)) return false;
    }
    return EncodeQueued(false);
}

bool AudioEncoder::Append(const uint8_t* const* planes, int samples) {
    // av_audio_fifo_write takes non-const planes but only reads them.
    const int written = av_audio_fifo_write(fifo_, reinterpret_cast<void**>(const_cast<uint8_t**>(planes)),
                                            samples);
    if (written < samples) {
        LOG_E("audio fifo write fail ret=%d, %s, nb_samples=%d, have=%d", written,
              ErrorText(written < 0 ? written : AVERROR(ENOMEM)).c_str(), samples, av_audio_fifo_size(fifo_));
        return Fail("audio FIFO");
    }
    fifoEnd_ += samples;
    endUs_.store(SamplesToUs(fifoEnd_));
    return true;
}

bool AudioEncoder::AppendSilence(int64_t samples) {
    if (silence_ == nullptr) {
        silence_ = av_frame_alloc();
        if (silence_ == nullptr) return Fail("audio silence");
        silence_->format = context_->sample_fmt;
        silence_->nb_samples = frameSize_;
        av_channel_layout_copy(&silence_->ch_layout, &context_->ch_layout);
        if (av_frame_get_buffer(silence_, 0) < 0) return Fail("audio silence");
        av_samples_set_silence(silence_->extended_data, 0, frameSize_, context_->ch_layout.nb_channels,
                               context_->sample_fmt);
    }
    silenceSamples_ += samples;
    while (samples > 0) {
        const int chunk = static_cast<int>(std::min<int64_t>(samples, frameSize_));
        if (!Append(silence_->extended_data, chunk)) return false;
        samples -= chunk;
        // Keep the FIFO small during a long fill.
        if (!EncodeQueued(false)) return false;
    }
    return true;
}

bool AudioEncoder::EncodeQueued(bool final) {
    while (!failed_) {
        const int queued = av_audio_fifo_size(fifo_);
        if (queued <= 0 || (queued < frameSize_ && !final)) return true;
        const int samples = std::min(queued, frameSize_);
        AVFrame* frame = av_frame_alloc();
        if (frame == nullptr) return Fail("audio frame");
        frame->format = context_->sample_fmt;
        frame->nb_samples = samples;
        frame->sample_rate = context_->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &context_->ch_layout);
        if (av_frame_get_buffer(frame, 0) < 0) {
            av_frame_free(&frame);
            return Fail("audio frame");
        }
        const int read = av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame->extended_data), samples);
        if (read < samples) {
            LOG_E("fifo read err: %s", ErrorText(read < 0 ? read : AVERROR(EIO)).c_str());
            av_frame_free(&frame);
            return Fail("audio FIFO");
        }
        frame->pts = nextPts_;
        nextPts_ += samples;
        const bool sent = Send(frame);
        av_frame_free(&frame);
        if (!sent) return false;
    }
    return false;
}

bool AudioEncoder::Send(AVFrame* frame) {
    for (;;) {
        const int result = avcodec_send_frame(context_, frame);
        const bool again = result == AVERROR(EAGAIN);
        if (result < 0 && !again && !(result == AVERROR_EOF && frame == nullptr)) {
            LOG_E("audio avcodec_send_frame failed! error %d [%s]", result, ErrorText(result).c_str());
            return Fail("audio encoder");
        }
        for (;;) {
            const int received = avcodec_receive_packet(context_, packet_);
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) break;
            if (received < 0) return Fail("audio encoder");
            const bool written = packet_->size <= 0 || sink_->WriteAudioPacket(packet_);
            av_packet_unref(packet_);
            if (!written) {
                failed_ = true;
                return false;
            }
        }
        if (!again) return true;
    }
}

bool AudioEncoder::Flush(int64_t endUs) {
    if (failed_) return false;
    if (started_ && endUs > 0) {
        const int64_t missing = UsToSamples(endUs) - fifoEnd_;
        if (missing > 0 && missing <= UsToSamples(kMaxSilenceUs) && !AppendSilence(missing)) return false;
    }
    if (!EncodeQueued(true)) return false;
    return Send(nullptr);
}
