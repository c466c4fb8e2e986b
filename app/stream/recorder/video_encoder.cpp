#include "recorder/video_encoder.h"

#include <algorithm>

#include "core/tether/tq_log.h"
#include "recorder/encoded_packet_sink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libswscale/swscale.h>
}

namespace {

std::string ErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

}  // namespace

VideoEncoder::VideoEncoder(AVCodecContext* context, EncodedPacketSink* sink)
    : context_(context), sink_(sink), packet_(av_packet_alloc()) {}

VideoEncoder::~VideoEncoder() {
    av_packet_free(&packet_);
    sws_freeContext(scaler_);
}

AVFrame* VideoEncoder::FitToEncoder(AVFrame* frame) {
    if (frame->width == context_->width && frame->height == context_->height &&
        frame->format == context_->pix_fmt) {
        return frame;
    }
    if (!scaled_) {
        scaled_.reset(av_frame_alloc());
        if (!scaled_) return nullptr;
        scaled_->format = context_->pix_fmt;
        scaled_->width = context_->width;
        scaled_->height = context_->height;
        if (av_frame_get_buffer(scaled_.get(), 0) < 0) {
            scaled_.reset();
            return nullptr;
        }
    }
    // The encoder may still hold a reference to the last scaled picture.
    if (av_frame_make_writable(scaled_.get()) < 0) return nullptr;
    scaler_ = sws_getCachedContext(scaler_, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                   context_->width, context_->height, context_->pix_fmt, SWS_BILINEAR, nullptr,
                                   nullptr, nullptr);
    if (scaler_ == nullptr) return nullptr;
    if (sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, scaled_->data, scaled_->linesize) <= 0) {
        return nullptr;
    }
    av_frame_copy_props(scaled_.get(), frame);
    ++scaledFrames_;
    return scaled_.get();
}

bool VideoEncoder::Encode(AVFrame* frame) {
    if (failed_ || frame == nullptr) return !failed_;
    AVFrame* const input = FitToEncoder(frame);
    if (input == nullptr) {
        // One odd picture is skipped; the recording goes on.
        LOG_W("recorder: a %dx%d picture could not be fitted to %dx%d", frame->width, frame->height,
              context_->width, context_->height);
        return true;
    }
    // libx264 needs strictly increasing time stamps.
    // The decoder's picture type would force key frames on the encoder.
    input->pict_type = AV_PICTURE_TYPE_NONE;
    const int64_t wanted = input->pts;
    const int64_t last = lastPts_.load();
    if (input->pts <= last) input->pts = last + 1;
    const bool sent = Send(input);
    lastPts_.store(input->pts);
    input->pts = wanted;
    return sent;
}

bool VideoEncoder::Send(const AVFrame* frame) {
    for (;;) {
        const int result = avcodec_send_frame(context_, frame);
        if (result == 0) return Drain();
        if (result == AVERROR(EAGAIN)) {
            if (!Drain()) return false;
            continue;
        }
        if (result == AVERROR_EOF && frame == nullptr) return true;
        LOG_E("avcodec_send_frame failed! error %d [%s]", result, ErrorText(result).c_str());
        failed_ = true;
        sink_->EncoderFailed("video encoder");
        return false;
    }
}

bool VideoEncoder::Drain() {
    for (;;) {
        const int result = avcodec_receive_packet(context_, packet_);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
        if (result < 0) {
            LOG_E("avcodec_receive_packet failed! error %d [%s]", result, ErrorText(result).c_str());
            failed_ = true;
            sink_->EncoderFailed("video encoder");
            return false;
        }
        const bool written = packet_->size <= 0 || sink_->WriteVideoPacket(packet_);
        av_packet_unref(packet_);
        if (!written) {
            failed_ = true;
            return false;
        }
    }
}

bool VideoEncoder::Flush() {
    if (failed_) return false;
    return Send(nullptr);
}
