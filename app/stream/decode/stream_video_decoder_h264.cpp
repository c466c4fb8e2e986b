#include "decode/stream_video_decoder_h264.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/hwcontext.h>
}

#include <QMutexLocker>
#include <atomic>

#include "core/tether/tq_log.h"
#include "ffmpeg_color.h"
#include "ffmpeg_handles.h"
#include "decode/h264_annexb.h"
#include "decode/yuv420p_converter.h"
#include "parser/stream_packet.h"
#include "parser/stream_video_packet.h"
#include "stream_manager.h"
#include "video_sink/stream_video_sink.h"

namespace {

// The size of the last picture any decoder of this process produced, kept
// across connections so that a new phone stream of another size reports a
// resolution change. Decoder threads only.
std::atomic<int> s_lastWidth{0};
std::atomic<int> s_lastHeight{0};

uint64_t PayloadSize(const StreamPacket* packet) {
    if (packet == nullptr || packet->GetType() != kStreamPacketVideo) return 0;
    return static_cast<const StreamVideoPacket*>(packet)->size();
}

}  // namespace

// Everything the decoder thread owns while it runs: the codec, the stream
// state (parameter sets, whether an IDR has been seen, whether the first
// picture was reported) and the conversion for the sinks.
class StreamVideoDecoderH264::DecodeSession {
public:
    explicit DecodeSession(const StreamVideoDecoderH264& owner) : owner_(owner) {}
    ~DecodeSession() { Flush(); }

    DecodeSession(const DecodeSession&) = delete;
    DecodeSession& operator=(const DecodeSession&) = delete;

    // Sets the codec up; false (logged) when there is none to decode with.
    bool Open();
    void Decode(const StreamVideoPacket& packet);
    // A stream reset: the next stream starts afresh at its first IDR.
    void EndStream();

private:
    AVPixelFormat FindHardwareFormat(const AVCodec* codec, AVHWDeviceType type) const;
    // Re-packs the unit with the parameter sets in force before it and
    // decodes it, unless it must wait for an IDR.
    void SendAccessUnit(const uint8_t* data, size_t size, const std::vector<NalUnitInfo>& units);
    void SendAndReceive(AVPacket* packet);
    void ReceivePictures();
    void HandOn(AVFrame* picture);
    void Report(SizeReport report, int width, int height) const;
    // The access unit is lost: skip to the next IDR.
    void Resynchronise() { idrSeen_ = false; }
    // Drains the codec and discards what comes out.
    void Flush();

    const StreamVideoDecoderH264& owner_;
    CodecContextPtr codec_;
    BufferRefPtr hwDevice_;
    AVPixelFormat hwFormat_ = AV_PIX_FMT_NONE;
    AVFramePtr picture_;
    AVFramePtr transferred_;
    Yuv420pConverter converter_;

    H264ParameterSets parameterSets_;
    bool idrSeen_ = false;
    bool firstPictureReported_ = false;
    bool noIdrWarned_ = false;
    bool decodeErrorLogged_ = false;
    bool oversizeLogged_ = false;
};

AVPixelFormat StreamVideoDecoderH264::DecodeSession::FindHardwareFormat(const AVCodec* codec,
                                                                        AVHWDeviceType type) const {
    for (int index = 0;; ++index) {
        const AVCodecHWConfig* config = avcodec_get_hw_config(codec, index);
        if (config == nullptr) return AV_PIX_FMT_NONE;
        if ((config->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX) != 0 && config->device_type == type) {
            return config->pix_fmt;
        }
    }
}

bool StreamVideoDecoderH264::DecodeSession::Open() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr) {
        LOG_E("libavcodec has no h264 decoder");
        return false;
    }
    const char* const hwName = owner_.hwDecoder_.c_str();
    const AVHWDeviceType hwType =
        owner_.hwDecoder_.empty() ? AV_HWDEVICE_TYPE_NONE : av_hwdevice_find_type_by_name(hwName);
    if (hwType != AV_HWDEVICE_TYPE_NONE) hwFormat_ = FindHardwareFormat(codec, hwType);

    codec_.reset(avcodec_alloc_context3(codec));
    picture_.reset(av_frame_alloc());
    transferred_.reset(av_frame_alloc());
    if (!codec_ || !picture_ || !transferred_) {
        LOG_E("Failed to allocate the h264 decoder");
        return false;
    }
    if (hwFormat_ != AV_PIX_FMT_NONE) {
        AVBufferRef* device = nullptr;
        if (av_hwdevice_ctx_create(&device, hwType, nullptr, nullptr, 0) < 0) {
            LOG_E("Failed to create specified HW device.");
            hwFormat_ = AV_PIX_FMT_NONE;
        } else {
            hwDevice_.reset(device);
            codec_->hw_device_ctx = av_buffer_ref(device);
        }
    }
    LOG_I("using hw decoder: %s, format: %d", hwName, hwFormat_ == AV_PIX_FMT_NONE ? -1 : static_cast<int>(hwFormat_));

    // Pictures as soon as they are complete: no reordering delay, and
    // threads that split a picture rather than ones that each hold one.
    // libavcodec runs frame threads only without the low-delay flag.
    if (owner_.tuning_.threading == Threading::kFrames) {
        codec_->thread_type = FF_THREAD_FRAME;
    } else {
        codec_->flags |= AV_CODEC_FLAG_LOW_DELAY;
        codec_->thread_type = FF_THREAD_SLICE;
    }
    codec_->thread_count = owner_.tuning_.threadCount;
    if (avcodec_open2(codec_.get(), codec, nullptr) < 0) {
        if (hwFormat_ == AV_PIX_FMT_NONE) {
            LOG_E("Failed to open h264 sw decoder");
        } else {
            LOG_E("Failed to open h264 hw decoder, hw: %s", hwName);
        }
        codec_.reset();
        return false;
    }
    return true;
}

void StreamVideoDecoderH264::DecodeSession::Decode(const StreamVideoPacket& packet) {
    const uint8_t* const data = packet.data();
    const size_t size = static_cast<size_t>(packet.size());
    const std::vector<NalUnitInfo> units = SplitNalUnits(data, size);
    SendAccessUnit(data, size, units);
    // The unit's own parameter sets are in force from here on, whatever
    // became of its slices.
    KeepLatestParameterSets(data, size, units, &parameterSets_);
}

void StreamVideoDecoderH264::DecodeSession::SendAccessUnit(const uint8_t* data, size_t size,
                                                           const std::vector<NalUnitInfo>& units) {
    const AccessUnitLayout layout = MeasureRepackedAccessUnit(data, size, units, parameterSets_);
    if (!layout.hasSlice) return;
    if (layout.hasIdr) {
        idrSeen_ = true;
        noIdrWarned_ = false;
    }
    if (!idrSeen_) {
        if (!noIdrWarned_) LOG_W("has not a idr nula");
        noIdrWarned_ = true;
        return;
    }
    if (layout.tooLarge) {
        if (!oversizeLogged_) LOG_E("video access unit of %llu bytes grows too large, dropped",
                                    static_cast<unsigned long long>(size));
        oversizeLogged_ = true;
        Resynchronise();
        return;
    }

    PacketPtr repacked(av_packet_alloc());
    // av_new_packet zeroes the padding after the data that the bitstream
    // reader may look into.
    if (!repacked || av_new_packet(repacked.get(), static_cast<int>(layout.repackedSize)) < 0) {
        Resynchronise();
        return;
    }
    const size_t written =
        WriteRepackedAccessUnit(data, size, units, parameterSets_, repacked->data, layout.repackedSize);
    if (written != layout.repackedSize) {
        Resynchronise();
        return;
    }
    SendAndReceive(repacked.get());
}

void StreamVideoDecoderH264::DecodeSession::SendAndReceive(AVPacket* packet) {
    int result = avcodec_send_packet(codec_.get(), packet);
    if (result == AVERROR(EAGAIN)) {
        // Full of pictures: take them out, then the packet fits.
        ReceivePictures();
        result = avcodec_send_packet(codec_.get(), packet);
    }
    if (result < 0) {
        if (!decodeErrorLogged_) LOG_E("Could not send video packet:[%i], %s", result, FfmpegErrorText(result).c_str());
        decodeErrorLogged_ = true;
        Resynchronise();
    }
    ReceivePictures();
}

void StreamVideoDecoderH264::DecodeSession::ReceivePictures() {
    for (;;) {
        const int result = avcodec_receive_frame(codec_.get(), picture_.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
        if (result < 0) {
            if (!decodeErrorLogged_) LOG_E("Could not decode video packet:[%i], %s", result, FfmpegErrorText(result).c_str());
            decodeErrorLogged_ = true;
            Resynchronise();
            return;
        }
        HandOn(picture_.get());
        av_frame_unref(picture_.get());
    }
}

void StreamVideoDecoderH264::DecodeSession::HandOn(AVFrame* picture) {
    const AVFrame* source = picture;
    if (hwFormat_ != AV_PIX_FMT_NONE && picture->format == hwFormat_) {
        av_frame_unref(transferred_.get());
        if (av_hwframe_transfer_data(transferred_.get(), picture, 0) < 0 ||
            av_frame_copy_props(transferred_.get(), picture) < 0) {
            return;
        }
        source = transferred_.get();
    }
    const AVFramePtr frame = converter_.Convert(*source);
    if (!frame) return;
    for (StreamVideoSink* sink : owner_.sinks_) sink->Push(frame.get());

    const int width = frame->width;
    const int height = frame->height;
    if (!firstPictureReported_) {
        firstPictureReported_ = true;
        Report(SizeReport::kVideoArrive, width, height);
    }
    const int lastWidth = s_lastWidth.load(std::memory_order_relaxed);
    const int lastHeight = s_lastHeight.load(std::memory_order_relaxed);
    if (lastWidth != 0 && lastHeight != 0 && (lastWidth != width || lastHeight != height)) {
        Report(SizeReport::kResolutionChanged, width, height);
    }
    s_lastWidth.store(width, std::memory_order_relaxed);
    s_lastHeight.store(height, std::memory_order_relaxed);
}

void StreamVideoDecoderH264::DecodeSession::Report(SizeReport report, int width, int height) const {
    if (owner_.hub_ != nullptr) {
        if (report == SizeReport::kVideoArrive) {
            owner_.hub_->VideoArrive(width, height);
        } else {
            owner_.hub_->VideoResolutionChanged(width, height);
        }
    }
    if (owner_.observer_) owner_.observer_(report, width, height);
}

void StreamVideoDecoderH264::DecodeSession::EndStream() {
    // Pictures still inside belong to the old stream.
    avcodec_flush_buffers(codec_.get());
    parameterSets_ = H264ParameterSets();
    idrSeen_ = false;
    noIdrWarned_ = false;
    firstPictureReported_ = false;
}

void StreamVideoDecoderH264::DecodeSession::Flush() {
    if (!codec_) return;
    if (avcodec_send_packet(codec_.get(), nullptr) < 0) return;
    while (avcodec_receive_frame(codec_.get(), picture_.get()) == 0) av_frame_unref(picture_.get());
}

StreamVideoDecoderH264::StreamVideoDecoderH264(const std::string& hwDecoder, StreamManager* hub,
                                               const std::vector<StreamVideoSink*>& sinks, SizeObserver observer,
                                               const Tuning& tuning)
    : hwDecoder_(hwDecoder), hub_(hub), sinks_(sinks), observer_(std::move(observer)), tuning_(tuning) {
    start(QThread::InheritPriority);
}

StreamVideoDecoderH264::~StreamVideoDecoderH264() {
    {
        QMutexLocker lock(&queueMutex_);
        stop_ = true;
        queueChanged_.wakeAll();
    }
    wait();
    queue_.clear();
}

void StreamVideoDecoderH264::PushPacket(std::unique_ptr<StreamPacket> packet) {
    QMutexLocker lock(&queueMutex_);
    if (!accepting_ || stop_) return;
    if (!packet) {
        // Back-to-back resets are one reset.
        if (queue_.empty() || queue_.back() != nullptr) queue_.push_back(nullptr);
        dropUntilKeyFrame_ = false;
        queueChanged_.wakeOne();
        return;
    }
    if (packet->GetType() != kStreamPacketVideo) return;
    const auto* video = static_cast<const StreamVideoPacket*>(packet.get());
    const uint64_t size = video->size();
    const auto wouldOverflow = [&] {
        return queue_.size() >= kMaxQueuedPackets || size > kMaxQueuedBytes - queuedBytes_;
    };
    if (video->isKeyFrame()) {
        // Decoding restarts at this key frame: what waits before it is
        // useless once it piles up.
        if (queue_.size() >= kKeyFrameFlushThreshold || wouldOverflow()) DropQueuedPacketsLocked();
        dropUntilKeyFrame_ = false;
    } else if (dropUntilKeyFrame_) {
        return;
    }
    if (wouldOverflow()) {
        // The packets after this one refer to it: skip them all up to the
        // next key frame.
        if (!queueFullLogged_) LOG_W("video queue full (%zu packets), dropping up to the next key frame",
                                     queue_.size());
        queueFullLogged_ = true;
        dropUntilKeyFrame_ = true;
        return;
    }
    queuedBytes_ += size;
    queue_.push_back(std::move(packet));
    queueChanged_.wakeOne();
}

void StreamVideoDecoderH264::DropQueuedPacketsLocked() {
    // With the packets gone the markers would all be adjacent, and adjacent
    // resets are one reset.
    std::list<std::unique_ptr<StreamPacket>> markers;
    for (const std::unique_ptr<StreamPacket>& entry : queue_) {
        if (!entry && markers.empty()) markers.push_back(nullptr);
    }
    queue_.swap(markers);
    queuedBytes_ = 0;
}

size_t StreamVideoDecoderH264::QueuedForTesting() const {
    QMutexLocker lock(&queueMutex_);
    return queue_.size();
}

void StreamVideoDecoderH264::ForgetLastVideoSizeForTesting() {
    s_lastWidth.store(0);
    s_lastHeight.store(0);
}

bool StreamVideoDecoderH264::TakeNext(std::unique_ptr<StreamPacket>* next) {
    QMutexLocker lock(&queueMutex_);
    while (!stop_ && queue_.empty()) queueChanged_.wait(&queueMutex_);
    if (stop_) return false;
    *next = std::move(queue_.front());
    queue_.pop_front();
    queuedBytes_ -= PayloadSize(next->get());
    return true;
}

void StreamVideoDecoderH264::run() {
    {
        DecodeSession session(*this);
        if (session.Open()) {
            std::unique_ptr<StreamPacket> next;
            while (TakeNext(&next)) {
                if (next) {
                    session.Decode(static_cast<const StreamVideoPacket&>(*next));
                } else {
                    session.EndStream();
                }
                next.reset();
            }
        }
    }
    // Without a codec nothing would ever take packets out again.
    QMutexLocker lock(&queueMutex_);
    accepting_ = false;
    queue_.clear();
    queuedBytes_ = 0;
}
