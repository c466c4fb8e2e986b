// The recorder's cost at 1080p30: CPU time per second of recording against a
// bare libx264 "ultrafast" encode of the same pictures, and the frame
// provider's latency (the live picture) with and without a recording
// running, in the same run.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "audio_sink/stream_audio_sink_cache.h"
#include "recorder/ffmpeg_recorder.h"
#include "ffmpeg_handles.h"
#include "video_sink/stream_video_sink_cache_impl.h"
#include "video_sink/stream_video_sink_sw_impl.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// A second of moving pictures: a gradient that shifts every frame, with
// fine detail so that the encoder has work.
const std::vector<AVFramePtr>& Pictures() {
    static std::vector<AVFramePtr> pictures = [] {
        std::vector<AVFramePtr> all;
        for (int n = 0; n < kFps; ++n) {
            AVFramePtr f(av_frame_alloc());
            f->format = AV_PIX_FMT_YUV420P;
            f->width = kWidth;
            f->height = kHeight;
            av_frame_get_buffer(f.get(), 32);
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                    f->data[0][y * f->linesize[0] + x] = static_cast<uint8_t>((x + y + n * 8) ^ ((x * y) >> 7));
            for (int p = 1; p < 3; ++p)
                for (int y = 0; y < kHeight / 2; ++y)
                    memset(f->data[p] + y * f->linesize[p], 128 + p * 10 + n, kWidth / 2);
            all.push_back(std::move(f));
        }
        return all;
    }();
    return pictures;
}

void BM_BareX264Encode1080p30(benchmark::State& state) {
    const auto& pictures = Pictures();
    double cpu = 0;
    int seconds = 0;
    for (auto _ : state) {
        const double before = ProcessCpuSeconds();
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_H264);
        AVCodecContext* c = avcodec_alloc_context3(codec);
        c->bit_rate = 2000000;
        c->width = kWidth;
        c->height = kHeight;
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        c->time_base = AVRational{1, 1000000};
        c->framerate = AVRational{25, 1};
        c->gop_size = 50;
        c->max_b_frames = 0;
        av_opt_set(c->priv_data, "preset", "ultrafast", 0);
        av_opt_set(c->priv_data, "tune", "zerolatency", 0);
        avcodec_open2(c, codec, nullptr);
        AVPacket* packet = av_packet_alloc();
        int64_t pts = 0;
        for (const auto& picture : pictures) {
            picture->pts = pts;
            pts += 1000000 / kFps;
            avcodec_send_frame(c, picture.get());
            while (avcodec_receive_packet(c, packet) == 0) av_packet_unref(packet);
        }
        avcodec_send_frame(c, nullptr);
        while (avcodec_receive_packet(c, packet) == 0) av_packet_unref(packet);
        av_packet_free(&packet);
        avcodec_free_context(&c);
        cpu += ProcessCpuSeconds() - before;
        ++seconds;
    }
    state.counters["cpu_s_per_recorded_s"] = cpu / seconds;
}
BENCHMARK(BM_BareX264Encode1080p30)->Unit(benchmark::kMillisecond)->Iterations(4);

// Feeds caches in real time as the render output and the reader would.
struct LiveFeed {
    std::unique_ptr<StreamVideoSinkCache> video = StreamVideoSinkCacheImpl::Create(2);
    std::unique_ptr<StreamAudioSinkCache> audio =
        StreamAudioSinkCache::Create(48000, 2, 200, StreamAudioSinkCache::kSampleTypeFloat);
    std::atomic<bool> stop{false};
    std::thread videoThread, audioThread;

    void Start() {
        video->enabled = true;
        video->Push(Pictures()[0].get());
        videoThread = std::thread([this] {
            auto next = std::chrono::steady_clock::now();
            for (int n = 0; !stop; ++n) {
                video->Push(Pictures()[n % kFps].get());
                next += std::chrono::microseconds(1000000 / kFps);
                std::this_thread::sleep_until(next);
            }
        });
        audioThread = std::thread([this] {
            std::vector<int16_t> block(1920 * 2, 1000);
            auto next = std::chrono::steady_clock::now();
            while (!stop) {
                audio->OnAudio(reinterpret_cast<const uint8_t*>(block.data()), 1920, 48000, 2);
                next += std::chrono::milliseconds(40);
                std::this_thread::sleep_until(next);
            }
        });
    }
    ~LiveFeed() {
        stop = true;
        if (videoThread.joinable()) videoThread.join();
        if (audioThread.joinable()) audioThread.join();
    }
};

void BM_Recorder1080p30(benchmark::State& state) {
    QTemporaryDir folder;
    double cpu = 0;
    double recorded = 0;
    LiveFeed feed;
    feed.Start();
    for (auto _ : state) {
        // The feeders' own share (a clone per picture, the resampler) is
        // part of the recording's cost too.
        FFmpegRecorder recorder(feed.audio.get(), feed.video.get(), RecorderEvents{});
        const auto start = std::chrono::steady_clock::now();
        const double before = ProcessCpuSeconds();
        recorder.Start(folder.filePath("bench.mp4").toStdString());
        std::this_thread::sleep_for(std::chrono::seconds(1));
        recorder.Stop();
        cpu += ProcessCpuSeconds() - before;
        recorded += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["cpu_s_per_recorded_s"] = cpu / recorded;
}
BENCHMARK(BM_Recorder1080p30)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();

// The live picture: the frame provider's conversion of a 1080p picture,
// while a 1080p30 recording runs (arg 1) or not (arg 0).
void BM_FrameProviderLatency(benchmark::State& state) {
    QTemporaryDir folder;
    LiveFeed feed;
    feed.Start();
    std::unique_ptr<FFmpegRecorder> recorder;
    if (state.range(0) == 1) {
        recorder = std::make_unique<FFmpegRecorder>(feed.audio.get(), feed.video.get(), RecorderEvents{});
        recorder->Start(folder.filePath("live.mp4").toStdString());
    }
    std::unique_ptr<StreamVideoSinkSw> provider = StreamVideoSinkSwImpl::Create();
    provider->enabled = true;
    int n = 0;
    for (auto _ : state) {
        provider->Push(Pictures()[n++ % kFps].get());
        benchmark::DoNotOptimize(provider->GetImage());
    }
    if (recorder) recorder->Stop();
}
BENCHMARK(BM_FrameProviderLatency)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace
