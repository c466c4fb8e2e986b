// FFmpegRecorder: writes the composed picture (the recorder video cache) and
// the received sound (the hub's recorder audio cache) to an MP4 file, H.264
// and AAC, on two encoder threads of its own.
//
// Threads: Start and Stop on the owner's thread (the hub); OnNewFrame on the
// render output's thread; OnAudioSamples on the connection reader's thread
// (the socket reactor). Neither callback ever waits for the encoders: both
// hand a frame to a bounded queue that drops its oldest entry when full.
//
// Both streams run on one clock: pictures are stamped with the monotonic
// clock on arrival, sound blocks with the same clock at their first sample,
// both relative to the first picture (see AudioEncoder).
//
// The file is a fragmented MP4 (a fragment per key frame, every 50 pictures):
// when the disk fills or the folder goes away mid-recording, everything up to
// the last complete fragment stays playable, and the user is told through the
// interruption event.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio_sink/stream_audio_sink_cache.h"
#include "core/system/thread.h"
#include "recorder/encoded_packet_sink.h"
#include "recorder/stream_recorder.h"
#include "video_sink/stream_video_sink_cache.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVPacket;
struct AVStream;
class AudioEncoder;
class FrameQueue;
class NewFileOutput;
class VideoEncoder;

// What a recording tells its owner while it runs.
struct RecorderEvents {
    // Milliseconds since the first picture, after every picture (render
    // output thread).
    std::function<void(int64_t ms)> durationChanged;
    // Once, when the file or an encoder fails mid-recording (an encoder
    // thread). The owner should then Stop the recording.
    std::function<void()> interrupted;
};

class FFmpegRecorder final : public StreamRecorder,
                             public StreamAudioSinkCache::Callback,
                             public StreamVideoSinkCache::NewFrameCallback,
                             public EncodedPacketSink {
public:
    static constexpr int kVideoBitRate = 2000000;
    static constexpr int kAudioBitRate = 128000;
    static constexpr int kGopSize = 50;
    static constexpr size_t kVideoQueueFrames = 10;
    static constexpr size_t kAudioQueueFrames = 500;
    // Audio may run this far ahead of the encoded video, and video this far
    // ahead of the audio, while the other stream is live.
    static constexpr int64_t kAudioLeadUs = 50000;
    static constexpr int64_t kVideoLeadUs = 2000000;
    // A stream that got nothing for this long is not waited for.
    static constexpr int64_t kLiveWindowUs = 500000;
    // Duration of the last picture (one frame at 25 pictures a second).
    static constexpr int64_t kLastFrameDurationUs = 40000;

    // The caches are borrowed and must outlive the recorder.
    FFmpegRecorder(StreamAudioSinkCache* audioCache, StreamVideoSinkCache* videoCache, RecorderEvents events);
    ~FFmpegRecorder() override;
    FFmpegRecorder(const FFmpegRecorder&) = delete;
    FFmpegRecorder& operator=(const FFmpegRecorder&) = delete;

    // Creates the file (UTF-8 path) as a new one and starts the encoders.
    // Needs a picture in the video cache (its size is the recording's). A
    // file or link already at the path fails the start with kNameTaken and
    // is left untouched. On failure nothing is left behind: no file of ours,
    // nothing to free.
    bool Start(const std::string& filePath) override;
    StartError startError() const override { return startError_; }
    // Ends the recording and finalises the file; harmless when repeated or
    // after a failed Start.
    void Stop() override;
    std::string GetFilePath() const override { return filePath_; }

    void OnNewFrame() override;
    void OnAudioSamples(int samples) override;

    // What happened on the way, for tests and benchmarks (read after Stop).
    struct Stats {
        int64_t droppedPictures = 0;
        int64_t droppedBlocks = 0;
        int64_t silenceSamples = 0;
        int64_t trimmedSamples = 0;
        int64_t scaledPictures = 0;
        bool interrupted = false;
    };
    Stats stats() const { return stats_; }

    // Encoder threads: the muxer side.
    bool WriteVideoPacket(AVPacket* packet) override;
    bool WriteAudioPacket(AVPacket* packet) override;
    void EncoderFailed(const char* what) override;

private:

    bool AddVideoStream();
    bool AddAudioStream();
    bool StartThreads();
    void ReleaseOutput();
    // Under muxerMutex_.
    bool WriteLocked(AVPacket* packet, const char* what);
    void Interrupt(const char* what);

    static void VideoThreadMain(void* self);
    static void AudioThreadMain(void* self);
    void VideoLoop();
    void AudioLoop();
    bool Live(const std::atomic<int64_t>& lastPushUs) const;
    int64_t NowUs() const;

    StreamAudioSinkCache* const audioCache_;
    StreamVideoSinkCache* const videoCache_;
    const RecorderEvents events_;

    // Owner's thread; read by the encoder threads only while they run.
    std::string filePath_;
    AVFormatContext* output_ = nullptr;
    AVCodecContext* videoContext_ = nullptr;
    AVStream* videoStream_ = nullptr;
    AVCodecContext* audioContext_ = nullptr;
    AVStream* audioStream_ = nullptr;
    std::unique_ptr<NewFileOutput> file_;  // what output_->pb writes into
    StartError startError_ = StartError::kNone;
    bool headerWritten_ = false;
    bool running_ = false;

    std::unique_ptr<FrameQueue> videoQueue_;
    std::unique_ptr<FrameQueue> audioQueue_;
    std::unique_ptr<VideoEncoder> videoEncoder_;  // video thread only while it runs
    std::unique_ptr<AudioEncoder> audioEncoder_;  // audio thread only while it runs
    thread_t videoThread_;
    thread_t audioThread_;
    std::atomic<bool> stopping_{false};

    // Serialises every write into output_ and guards heldVideo_: each picture
    // is written one packet late, with its exact duration.
    mutex_t muxerMutex_;
    AVPacket* heldVideo_ = nullptr;
    int64_t lastVideoTs_ = 0;  // stream time base, last picture written or held

    // Monotonic microseconds of the first picture; -1 before it.
    std::atomic<int64_t> firstFrameUs_{-1};
    std::atomic<int64_t> lastVideoPushUs_{-1};
    std::atomic<int64_t> lastAudioPushUs_{-1};
    std::atomic<bool> failed_{false};
    std::atomic<int64_t> droppedPictures_{0};
    std::atomic<int64_t> droppedBlocks_{0};
    // The audio callback's read buffer (its thread only).
    std::vector<uint8_t> audioScratch_;
    Stats stats_;
};
