#include "recorder/ffmpeg_recorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/system/time.h"
#include "core/tether/tq_log.h"
#include "recorder/audio_encoder.h"
#include "recorder/frame_queue.h"
#include "recorder/new_file_output.h"
#include "recorder/video_encoder.h"
#include "ffmpeg_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
}

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

std::string ErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

void SleepOneMillisecond() {
    const timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);
}

}  // namespace

FFmpegRecorder::FFmpegRecorder(StreamAudioSinkCache* audioCache, StreamVideoSinkCache* videoCache,
                               RecorderEvents events)
    : audioCache_(audioCache), videoCache_(videoCache), events_(std::move(events)) {
    mutex_init(&muxerMutex_);
}

FFmpegRecorder::~FFmpegRecorder() {
    Stop();
    mutex_destroy(&muxerMutex_);
}

int64_t FFmpegRecorder::NowUs() const { return static_cast<int64_t>(GetTimeNs() / 1000); }

bool FFmpegRecorder::Live(const std::atomic<int64_t>& lastPushUs) const {
    const int64_t last = lastPushUs.load();
    return last >= 0 && NowUs() - last < kLiveWindowUs;
}

bool FFmpegRecorder::AddVideoStream() {
    const AVFramePtr front(videoCache_->CloneFront());
    if (!front) {
        LOG_E("recorder: no picture in the video cache, nothing to record");
        return false;
    }
    // 4:2:0 needs even sizes; an odd edge is scaled away.
    const int width = front->width & ~1;
    const int height = front->height & ~1;
    if (width <= 0 || height <= 0) {
        LOG_E("recorder: a %dx%d picture cannot be recorded", front->width, front->height);
        return false;
    }
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (codec == nullptr) {
        LOG_E("video avcodec_find_encoder [h264] fail");
        return false;
    }
    videoStream_ = avformat_new_stream(output_, nullptr);
    if (videoStream_ == nullptr) {
        LOG_E("video avformat_new_stream fail");
        return false;
    }
    videoStream_->id = static_cast<int>(output_->nb_streams) - 1;
    videoContext_ = avcodec_alloc_context3(codec);
    if (videoContext_ == nullptr) {
        LOG_E("video avcodec_alloc_context3 fail");
        return false;
    }
    AVCodecContext* const c = videoContext_;
    c->codec_type = AVMEDIA_TYPE_VIDEO;
    c->bit_rate = kVideoBitRate;
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    // Pictures carry microseconds of the shared clock: the encoder's rate
    // control must see real durations, whatever the phone's frame rate.
    c->time_base = kMicroseconds;
    c->framerate = AVRational{25, 1};
    c->gop_size = kGopSize;
    c->qmin = 10;
    c->qmax = 51;
    c->qcompress = 0.6f;
    c->max_b_frames = 0;
    c->color_range = front->color_range;
    c->colorspace = front->colorspace;
    videoStream_->time_base = AVRational{1, 25};
    if (output_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);

    int result = avcodec_open2(c, codec, nullptr);
    if (result < 0) {
        LOG_E("cannot open video codec: %s", ErrorText(result).c_str());
        return false;
    }
    result = avcodec_parameters_from_context(videoStream_->codecpar, c);
    if (result < 0) {
        LOG_E("Could not copy the stream parameters");
        return false;
    }
    return true;
}

bool FFmpegRecorder::AddAudioStream() {
    const int rate = audioCache_->GetSampleRate();
    const int channels = audioCache_->GetChannels();
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (codec == nullptr) {
        LOG_E("audio avcodec_find_encoder [%s] fail", avcodec_get_name(AV_CODEC_ID_AAC));
        return false;
    }
    audioStream_ = avformat_new_stream(output_, nullptr);
    if (audioStream_ == nullptr) {
        LOG_E("audio avformat_new_stream fail");
        return false;
    }
    audioStream_->id = static_cast<int>(output_->nb_streams) - 1;
    audioContext_ = avcodec_alloc_context3(codec);
    if (audioContext_ == nullptr) {
        LOG_E("audio avcodec_alloc_context3 fail");
        return false;
    }
    AVCodecContext* const c = audioContext_;
    c->codec_type = AVMEDIA_TYPE_AUDIO;
    av_channel_layout_default(&c->ch_layout, channels);
    c->sample_rate = rate;
    c->bit_rate = kAudioBitRate;
    c->bit_rate_tolerance = kAudioBitRate;
    c->sample_fmt = audioCache_->GetSampleType() == StreamAudioSinkCache::kSampleTypeFloat ? AV_SAMPLE_FMT_FLTP
                                                                                         : AV_SAMPLE_FMT_S16P;
    c->time_base = AVRational{1, rate};
    audioStream_->time_base = c->time_base;
    c->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (output_->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    int result = avcodec_open2(c, codec, nullptr);
    if (result < 0) {
        LOG_E("cannot open audio codec: %s", ErrorText(result).c_str());
        return false;
    }
    result = avcodec_parameters_from_context(audioStream_->codecpar, c);
    if (result < 0) {
        LOG_E("Could not copy the stream parameters");
        return false;
    }
    return true;
}

bool FFmpegRecorder::Start(const std::string& filePath) {
    if (running_ || output_ != nullptr) return false;
    startError_ = StartError::kOther;
    if (audioCache_ == nullptr || videoCache_ == nullptr) {
        LOG_E("recorder: no %s cache to record from", videoCache_ == nullptr ? "video" : "audio");
        return false;
    }
    int result = avformat_alloc_output_context2(&output_, nullptr, nullptr, filePath.c_str());
    if (result < 0 || output_ == nullptr) {
        LOG_E("avformat_alloc_output_context2 fail");
        output_ = nullptr;
        return false;
    }
    if (!AddVideoStream() || !AddAudioStream()) {
        ReleaseOutput();
        return false;
    }
    av_dump_format(output_, 0, filePath.c_str(), 1);
    if (!(output_->oformat->flags & AVFMT_NOFILE)) {
        // Made new by us and written through our descriptor: libavformat
        // opening the name itself would follow a link planted there.
        NewFileOutput::Result created = NewFileOutput::Result::kFailed;
        int error = 0;
        file_ = NewFileOutput::Create(filePath, &created, &error);
        if (!file_) {
            if (created == NewFileOutput::Result::kTaken) {
                LOG_E("Could not open %s: the name is taken (%s); nothing there is opened", filePath.c_str(),
                      std::strerror(error));
                startError_ = StartError::kNameTaken;
            } else {
                LOG_E("Could not open %s: %s", filePath.c_str(), std::strerror(error));
            }
            ReleaseOutput();
            return false;
        }
        output_->pb = file_->context();
        output_->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    // A fragment per key frame: what was written stays playable when the
    // recording cannot be finalised (full disk).
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    result = avformat_write_header(output_, &options);
    av_dict_free(&options);
    if (result < 0) {
        LOG_E("avformat_write_header fail, when opening output file: %s", filePath.c_str());
        const bool removeFile = file_ != nullptr;
        ReleaseOutput();
        if (removeFile) std::remove(filePath.c_str());
        return false;
    }
    headerWritten_ = true;
    lastVideoTs_ = INT64_MIN;

    videoQueue_ = std::make_unique<FrameQueue>(kVideoQueueFrames);
    audioQueue_ = std::make_unique<FrameQueue>(kAudioQueueFrames);
    videoEncoder_ = std::make_unique<VideoEncoder>(videoContext_, this);
    audioEncoder_ = std::make_unique<AudioEncoder>(audioContext_, this);
    stopping_ = false;
    failed_ = false;
    firstFrameUs_ = -1;
    stats_ = Stats();
    if (!StartThreads()) {
        LOG_E("recorder: the encoder threads could not be started");
        headerWritten_ = false;  // an empty file is not finalised but removed
        ReleaseOutput();
        std::remove(filePath.c_str());
        return false;
    }
    filePath_ = filePath;
    startError_ = StartError::kNone;
    running_ = true;
    audioCache_->SetCallback(this);
    videoCache_->SetNewFrameCallback(this);
    return true;
}

bool FFmpegRecorder::StartThreads() {
    if (thread_create(&videoThread_, &FFmpegRecorder::VideoThreadMain, this) != 0) return false;
    if (thread_create(&audioThread_, &FFmpegRecorder::AudioThreadMain, this) != 0) {
        stopping_ = true;
        videoQueue_->Stop();
        thread_join(&videoThread_);
        return false;
    }
    return true;
}

void FFmpegRecorder::Stop() {
    if (!running_) {
        // After a failed Start there is nothing left; after a Stop neither.
        ReleaseOutput();
        return;
    }
    running_ = false;
    // Wake the encoder threads and refuse new frames first, then detach from
    // the caches (clearing waits for a running callback, which never waits
    // for the encoders), then let the threads drain what is queued.
    stopping_ = true;
    videoQueue_->Stop();
    audioQueue_->Stop();
    audioCache_->ClearCallback();
    videoCache_->ClearNewFrameCallback();
    thread_join(&videoThread_);
    thread_join(&audioThread_);

    // The threads have ended: the encoders are this thread's now.
    const int64_t videoEnd = videoEncoder_->lastPts() >= 0 ? videoEncoder_->lastPts() + kLastFrameDurationUs : 0;
    if (!failed_) videoEncoder_->Flush();
    if (!failed_) audioEncoder_->Flush(videoEnd);
    mutex_lock(&muxerMutex_);
    if (heldVideo_ != nullptr && !failed_) {
        heldVideo_->duration = std::max<int64_t>(1, av_rescale_q(kLastFrameDurationUs, kMicroseconds,
                                                                  videoStream_->time_base));
        heldVideo_->stream_index = videoStream_->index;
        WriteLocked(heldVideo_, "the last picture");
    }
    av_packet_free(&heldVideo_);
    mutex_unlock(&muxerMutex_);

    stats_.droppedPictures = droppedPictures_.load();
    stats_.droppedBlocks = droppedBlocks_.load();
    stats_.silenceSamples = audioEncoder_->silenceSamples();
    stats_.trimmedSamples = audioEncoder_->trimmedSamples();
    stats_.scaledPictures = videoEncoder_->scaledFrames();
    stats_.interrupted = failed_.load();
    videoEncoder_.reset();
    audioEncoder_.reset();
    videoQueue_.reset();
    audioQueue_.reset();
    ReleaseOutput();
}

void FFmpegRecorder::ReleaseOutput() {
    if (output_ != nullptr && headerWritten_) {
        const int result = av_write_trailer(output_);
        if (result < 0) LOG_E("recorder: av_write_trailer failed: %s", ErrorText(result).c_str());
    }
    headerWritten_ = false;
    avcodec_free_context(&videoContext_);
    avcodec_free_context(&audioContext_);
    videoStream_ = nullptr;
    audioStream_ = nullptr;
    if (output_ != nullptr) {
        output_->pb = nullptr;
        avformat_free_context(output_);
        output_ = nullptr;
    }
    if (file_) {
        const int closed = file_->Close();
        if (closed < 0) LOG_E("recorder: closing %s failed: %s", filePath_.c_str(), ErrorText(closed).c_str());
        file_.reset();
    }
}

void FFmpegRecorder::OnNewFrame() {
    // Only the newest picture counts: an older one still queued in the cache
    // would put the recording a picture behind the live image.
    AVFramePtr frame(videoCache_->TakeFrame());
    if (!frame) return;
    while (AVFramePtr newer{videoCache_->TakeFrame()}) frame = std::move(newer);

    const int64_t now = NowUs();
    int64_t first = firstFrameUs_.load();
    if (first < 0) {
        firstFrameUs_.store(now);
        first = now;
    }
    const int64_t pts = now - first;
    frame->pts = pts;
    lastVideoPushUs_.store(now);
    if (!stopping_ && !failed_) droppedPictures_ += static_cast<int64_t>(videoQueue_->Push(FrameHolder(frame.release())));
    if (events_.durationChanged) events_.durationChanged(pts / 1000);
}

void FFmpegRecorder::OnAudioSamples(int samples) {
    if (samples <= 0 || stopping_ || failed_) return;
    const int64_t first = firstFrameUs_.load();
    const int rate = audioCache_->GetSampleRate();
    const int channels = audioCache_->GetChannels();
    const AVSampleFormat format = audioCache_->GetSampleType() == StreamAudioSinkCache::kSampleTypeFloat
                                      ? AV_SAMPLE_FMT_FLTP
                                      : AV_SAMPLE_FMT_S16P;
    const int bytesPerSample = av_get_bytes_per_sample(format);
    const size_t bytes = static_cast<size_t>(samples) * bytesPerSample * channels;
    audioScratch_.assign(bytes, 0);
    const int read = audioCache_->Read(audioScratch_.data(), static_cast<int>(bytes));
    // Sound from before the first picture has no place on the clock yet.
    if (read <= 0 || first < 0) return;

    AVFramePtr frame(av_frame_alloc());
    if (!frame) return;
    frame->format = format;
    frame->sample_rate = rate;
    frame->nb_samples = read;
    av_channel_layout_default(&frame->ch_layout, channels);
    if (av_frame_get_buffer(frame.get(), 0) < 0) return;
    for (int c = 0; c < channels; ++c) {
        std::memcpy(frame->extended_data[c], audioScratch_.data() + static_cast<size_t>(c) * samples * bytesPerSample,
                    static_cast<size_t>(read) * bytesPerSample);
    }
    const int64_t now = NowUs();
    // The block ends now: its first sample lies its duration back.
    frame->pts = now - first - av_rescale(read, 1000000, rate);
    lastAudioPushUs_.store(now);
    droppedBlocks_ += static_cast<int64_t>(audioQueue_->Push(FrameHolder(frame.release())));
}

void FFmpegRecorder::VideoThreadMain(void* self) { static_cast<FFmpegRecorder*>(self)->VideoLoop(); }
void FFmpegRecorder::AudioThreadMain(void* self) { static_cast<FFmpegRecorder*>(self)->AudioLoop(); }

void FFmpegRecorder::VideoLoop() {
    for (;;) {
        FrameHolder frame;
        if (!videoQueue_->Pop(&frame, 10)) {
            if (stopping_) return;
            continue;
        }
        // Bounded pacing: video waits only for live audio that is far behind.
        while (!stopping_ && Live(lastAudioPushUs_) && audioEncoder_->ptsUs() > 0 &&
               videoEncoder_->lastPts() - audioEncoder_->ptsUs() >= kVideoLeadUs) {
            SleepOneMillisecond();
        }
        if (!failed_) videoEncoder_->Encode(frame.get());
    }
}

void FFmpegRecorder::AudioLoop() {
    for (;;) {
        FrameHolder frame;
        if (!audioQueue_->Pop(&frame, 10)) {
            if (stopping_) return;
            continue;
        }
        while (!stopping_ && Live(lastVideoPushUs_) &&
               audioEncoder_->ptsUs() - videoEncoder_->lastPts() >= kAudioLeadUs) {
            SleepOneMillisecond();
        }
        if (!failed_) audioEncoder_->Encode(frame.get());
    }
}

bool FFmpegRecorder::WriteLocked(AVPacket* packet, const char* what) {
    const int result = av_interleaved_write_frame(output_, packet);
    if (result < 0) {
        LOG_E("recorder: writing %s failed: %s", what, ErrorText(result).c_str());
        Interrupt("the file cannot be written");
        return false;
    }
    return true;
}

bool FFmpegRecorder::WriteVideoPacket(AVPacket* packet) {
    if (failed_) return false;
    bool written = true;
    mutex_lock(&muxerMutex_);
    // In the stream's time base, strictly increasing: two pictures closer
    // than one tick of the muxer's clock must not share a time stamp.
    int64_t ts = av_rescale_q(packet->pts, kMicroseconds, videoStream_->time_base);
    if (ts <= lastVideoTs_) ts = lastVideoTs_ + 1;
    lastVideoTs_ = ts;
    packet->pts = packet->dts = ts;
    if (heldVideo_ != nullptr) {
        heldVideo_->duration = ts - heldVideo_->pts;
        heldVideo_->stream_index = videoStream_->index;
        written = WriteLocked(heldVideo_, "a picture");
        av_packet_free(&heldVideo_);
    }
    if (written) heldVideo_ = av_packet_clone(packet);
    mutex_unlock(&muxerMutex_);
    return written;
}

bool FFmpegRecorder::WriteAudioPacket(AVPacket* packet) {
    if (failed_) return false;
    packet->dts = packet->pts;
    av_packet_rescale_ts(packet, audioContext_->time_base, audioStream_->time_base);
    packet->stream_index = audioStream_->index;
    mutex_lock(&muxerMutex_);
    const bool written = WriteLocked(packet, "a sound block");
    mutex_unlock(&muxerMutex_);
    return written;
}

void FFmpegRecorder::EncoderFailed(const char* what) {
    LOG_E("recorder: the %s failed", what);
    Interrupt(what);
}

void FFmpegRecorder::Interrupt(const char* what) {
    if (failed_.exchange(true)) return;
    LOG_E("recorder: recording interrupted (%s)", what);
    if (events_.interrupted) events_.interrupted();
}
