// The real-time video path as the main window wires it, from the phone's
// access units to the camera queue: the H.264 decoder thread with the frame
// provider (YUV -> RGBA), the render device at the phone's frame rate with
// the camera source, its colour correction and the render output (RGBA ->
// YUV420P BT.709), the render output's sinks (the queue writer's render
// device, the screenshot and recorder caches, the driver sink), and
// CameraRawWriter publishing into a shared-memory camera queue. A reader
// thread watches the queue.
//
// The stream is encoded once at start-up with libx264 (main profile, constant
// bit rate, no B-frames), moving texture over the whole picture and the frame
// number written as 16 black/white blocks on the top rows, which the reader
// reads back from the queue's luma plane. Units are pushed at the phone's
// pace (30, 29.97 or 60 frames a second); the network hop of the hub is not
// part of the run (its reactor copies each unit once).
//
// Counters, all measured in the same run:
//   cpu_ratio     process CPU while streaming (the reader and feeder threads
//                 subtracted) over a bare single-thread libavcodec decode of
//                 the same units
//   cpu_s, bare_s those two in seconds
//   p50_ms/p99_ms unit pushed -> its picture first published in the queue
//   published     distinct pictures seen in the queue / units sent
//   decoded       pictures the decoder produced / units sent
//   composed      frames the render device composed per second
//   rss_mb        peak resident set of the process
#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <dirent.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QSize>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "decode/stream_video_decoder_h264.h"
#include "devices/camera_queue/camera_queue_reader.h"
#include "devices/camera_queue/camera_raw_writer.h"
#include "devices/driver_sink/stream_video_sink_driver.h"
#include "devices/driver_sink/v4l2_camera_driver_port.h"
#include "ffmpeg_handles.h"
#include "gs_output_frame.h"
#include "parser/stream_video_packet.h"
#include "ref_counted_object.h"
#include "video_sink/stream_video_sink_cache_impl.h"
#include "video_sink/stream_video_sink_sw_impl.h"
#include "vexo/gs_device.h"
#include "vexo/gs_scene.h"
#include "vexo/gs_steady_clock.h"
#include "zuc_camera_video_source.h"
#include "zuc_frame_arrival_sink.h"
#include "zuc_shaders.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIdBits = 16;
constexpr int kIdBlock = 32;  // pixels per bit block, on the top rows

struct Unit {
    std::vector<uint8_t> bytes;
    bool key = false;
};

struct EncodedStream {
    int width = 0;
    int height = 0;
    std::vector<Unit> units;
};

// frames pictures of moving texture with their number in the top blocks.
EncodedStream Encode(int width, int height, int fps, int frames, int64_t bitRate) {
    EncodedStream stream;
    stream.width = width;
    stream.height = height;
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) return stream;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = {1, fps};
    context->framerate = {fps, 1};
    context->gop_size = fps * 2;
    context->max_b_frames = 0;
    context->bit_rate = bitRate;
    context->rc_max_rate = bitRate;
    context->rc_buffer_size = static_cast<int>(bitRate);
    context->thread_count = 0;
    av_opt_set(context->priv_data, "preset", "superfast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "profile", "main", 0);
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return stream;

    // A noise field twice the picture's width, scrolled a little each frame,
    // over a slow gradient: something like what a camera costs the decoder.
    std::mt19937 random(7);
    const int fieldWidth = width * 2;
    std::vector<uint8_t> field(static_cast<size_t>(fieldWidth) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < fieldWidth; ++x) {
            const int smooth = ((x / 8) * 5 + (y / 8) * 3) % 160;
            field[static_cast<size_t>(y) * fieldWidth + x] = static_cast<uint8_t>(40 + smooth + random() % 24);
        }
    }
    AVFramePtr picture(av_frame_alloc());
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width;
    picture->height = height;
    av_frame_get_buffer(picture.get(), 0);
    PacketPtr packet(av_packet_alloc());
    auto drain = [&] {
        while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
            stream.units.push_back({std::vector<uint8_t>(packet->data, packet->data + packet->size),
                                    (packet->flags & AV_PKT_FLAG_KEY) != 0});
            av_packet_unref(packet.get());
        }
    };
    for (int n = 0; n < frames; ++n) {
        av_frame_make_writable(picture.get());
        const int shift = (n * 6) % width;
        for (int y = 0; y < height; ++y) {
            std::memcpy(picture->data[0] + static_cast<size_t>(y) * picture->linesize[0],
                        field.data() + static_cast<size_t>(y) * fieldWidth + shift, static_cast<size_t>(width));
        }
        for (int y = 0; y < kIdBlock; ++y) {
            uint8_t* row = picture->data[0] + static_cast<size_t>(y) * picture->linesize[0];
            for (int bit = 0; bit < kIdBits; ++bit) {
                std::memset(row + bit * kIdBlock, ((n >> bit) & 1) != 0 ? 235 : 16, kIdBlock);
            }
        }
        for (int plane = 1; plane < 3; ++plane) {
            for (int y = 0; y < height / 2; ++y) {
                std::memset(picture->data[plane] + static_cast<size_t>(y) * picture->linesize[plane],
                            plane == 1 ? 110 + (y * 40) / height : 140, static_cast<size_t>(width / 2));
            }
        }
        picture->pts = n;
        avcodec_send_frame(context.get(), picture.get());
        drain();
    }
    avcodec_send_frame(context.get(), nullptr);
    drain();
    return stream;
}

const EncodedStream& StreamOf(int width, int height, int fps, int frames, int64_t bitRate) {
    static std::map<std::string, EncodedStream> streams;
    const std::string key = std::to_string(width) + "x" + std::to_string(height) + "@" + std::to_string(fps);
    auto found = streams.find(key);
    if (found == streams.end()) found = streams.emplace(key, Encode(width, height, fps, frames, bitRate)).first;
    return found->second;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU seconds of a bare libavcodec decode of units on one thread.
double BareDecodeSeconds(const std::vector<Unit>& units, int count) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->thread_count = 1;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    avcodec_open2(context.get(), codec, nullptr);
    PacketPtr packet(av_packet_alloc());
    AVFramePtr frame(av_frame_alloc());
    const double start = ThreadCpuSeconds();
    for (int i = 0; i < count; ++i) {
        const Unit& unit = units[static_cast<size_t>(i) % units.size()];
        av_new_packet(packet.get(), static_cast<int>(unit.bytes.size()));
        std::memcpy(packet->data, unit.bytes.data(), unit.bytes.size());
        avcodec_send_packet(context.get(), packet.get());
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) av_frame_unref(frame.get());
    }
    return ThreadCpuSeconds() - start;
}

// Counts the decoder's pictures (the decoder's sink list has the frame
// provider first, as in the program).
class CountingSink final : public StreamVideoSink {
public:
    void Push(AVFrame*) override { ++count; }
    void ShowBlack() override {}
    void SetFrame(AVFrame*) override {}
    std::atomic<int> count{0};
};

int ReadId(const uint8_t* luma, uint32_t line);

// The render output's frames as they leave it: the first time each picture
// number is seen (drawing thread).
class ComposedSink final : public StreamVideoSink {
public:
    void Push(AVFrame* frame) override {
        if (frame == nullptr || frame->height < 32) return;
        const int id = ReadId(frame->data[0], static_cast<uint32_t>(frame->linesize[0]));
        if (id == lastId_) return;
        lastId_ = id;
        const std::lock_guard<std::mutex> lock(mutex);
        firstSeen.emplace_back(id, Clock::now());
        stamps.push_back(frame->pts);
    }
    void ShowBlack() override {}
    void SetFrame(AVFrame*) override {}
    std::mutex mutex;
    std::vector<std::pair<int, Clock::time_point>> firstSeen;
    std::vector<int64_t> stamps;  // the frames' pts (microseconds of the render device's clock)

private:
    int lastId_ = -1;
};

int ReadId(const uint8_t* luma, uint32_t line) {
    int id = 0;
    const uint8_t* row = luma + static_cast<size_t>(kIdBlock / 2) * line;
    for (int bit = 0; bit < kIdBits; ++bit) {
        if (row[bit * kIdBlock + kIdBlock / 2] > 128) id |= 1 << bit;
    }
    return id;
}

struct ReaderState {
    int id = -1;
};

void OnQueueFrame(const uint8_t* const planes[3], const uint32_t lines[3], uint32_t /*width*/, uint32_t height,
                  void* user) {
    auto* state = static_cast<ReaderState*>(user);
    state->id = height >= kIdBlock ? ReadId(planes[0], lines[0]) : -1;
}

// CPU seconds of every thread of the process by thread, to standard error
// (ZUCAM_BENCH_THREADS=1): where the time goes.
void PrintThreadCpu() {
    if (std::getenv("ZUCAM_BENCH_THREADS") == nullptr) return;
    const long ticks = sysconf(_SC_CLK_TCK);
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        const std::string base = std::string("/proc/self/task/") + entry->d_name;
        std::FILE* stat = std::fopen((base + "/stat").c_str(), "r");
        if (stat == nullptr) continue;
        char line[1024] = {};
        const size_t got = std::fread(line, 1, sizeof line - 1, stat);
        std::fclose(stat);
        line[got] = 0;
        const char* close = std::strrchr(line, ')');
        const char* open = std::strchr(line, '(');
        if (close == nullptr || open == nullptr) continue;
        unsigned long user = 0, system = 0;
        // Fields after the name: state, then 10 numbers, then utime, stime.
        if (std::sscanf(close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system) != 2) continue;
        std::fprintf(stderr, "  thread %-6s %-16.*s %6.2f s\n", entry->d_name, static_cast<int>(close - open - 1),
                     open + 1, static_cast<double>(user + system) / static_cast<double>(ticks));
    }
    closedir(tasks);
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
    return values[index];
}

// range(0): picture height (1080 or 1440); range(1): the phone's frames per
// 1000 seconds (30000, 29970, 60000); range(2): seconds streamed.
void BM_WholePath(benchmark::State& state) {
    const int height = static_cast<int>(state.range(0));
    const int width = height == 1440 ? 2560 : 1920;
    const double fps = static_cast<double>(state.range(1)) / 1000.0;
    const int seconds = static_cast<int>(state.range(2));
    const int nominalFps = static_cast<int>(fps + 0.5);
    const int64_t bitRate = height == 1440 ? 16'000'000 : 8'000'000;
    const EncodedStream& stream = StreamOf(width, height, nominalFps, nominalFps * 4, bitRate);
    if (stream.units.empty()) {
        state.SkipWithError("libx264 missing");
        return;
    }
    const int total = static_cast<int>(fps * seconds);

    for (auto _ : state) {
        const double bare = BareDecodeSeconds(stream.units, total);

        GsDevice::CreateDefaultDevice(std::make_unique<GsSteadyClock>(), true);
        GsDevice* const device = GsDevice::DefaultDevice();
        RegisterZucShaders(device);
        device->SetFrameRate(nominalFps);
        const std::string queueName = "/zucam-bench-pipeline-" + std::to_string(getpid());
        {
            auto writer = std::make_unique<CameraRawWriter>(queueName);
            auto screenshotCache = StreamVideoSinkCacheImpl::Create(1);
            auto recorderCache = StreamVideoSinkCacheImpl::Create(2);
            screenshotCache->enabled = true;
            recorderCache->enabled = true;
            auto driverSink = std::make_unique<StreamVideoSinkDriver>(std::make_unique<V4l2CameraDriverPort>());
            auto frameProvider = StreamVideoSinkSwImpl::Create();
            frameProvider->enabled = true;
            CountingSink decoded;
            ZucFrameArrivalSink frameArrival;
            frameArrival.enabled = true;

            auto* source = new RefCountedObject<ZucCameraVideoSource>(QSize(width, height), frameProvider.get());
            source->AddRef();
            source->CreateItem();
            auto* scene = new RefCountedObject<GsScene>(static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                                        device);
            scene->AddRef();
            scene->AddItem(source->item());
            ComposedSink composedSink;
            ComposedSink decodedSink;
            const std::vector<StreamVideoSink*> renderSinks{writer->renderDevice.get(), screenshotCache.get(),
                                                            driverSink.get(), recorderCache.get(), &composedSink};
            auto output = std::make_unique<GsOutputFrame>(scene, static_cast<uint32_t>(width),
                                                          static_cast<uint32_t>(height), kGsOutputRgba, renderSinks);
            scene->Release();
            output->Start();
            writer->EnableOutput();

            StreamVideoDecoderH264::ForgetLastVideoSizeForTesting();
            auto decoder = std::make_unique<StreamVideoDecoderH264>(
                "", nullptr, std::vector<StreamVideoSink*>{frameProvider.get(), &decodedSink, &frameArrival, &decoded}, StreamVideoDecoderH264::SizeObserver(),
                [] { H264DecoderTuning t; if (std::getenv("ZUCAM_BENCH_DECODER_THREADS")) t.threadCount = std::atoi(std::getenv("ZUCAM_BENCH_DECODER_THREADS")); return t; }());

            std::vector<Clock::time_point> sent(static_cast<size_t>(total));
            std::vector<Clock::time_point> seen(static_cast<size_t>(total));
            std::vector<char> wasSeen(static_cast<size_t>(total), 0);
            std::atomic<bool> stop{false};
            std::atomic<int> sentCount{0};
            double readerCpu = 0.0;
            int changes = 0;  // pictures the reader saw change
            std::thread reader([&] {
                const double cpuStart = ThreadCpuSeconds();
                std::unique_ptr<CameraQueueReader> queue;
                ReaderState read;
                int lastId = -1;
                while (!stop.load()) {
                    if (!queue) queue = CameraQueueReader::Open(queueName);
                    if (queue && queue->Refresh() != 0 &&
                        queue->Read(OnQueueFrame, &read) == CameraQueueReader::ReadResult::Frame && read.id != lastId) {
                        lastId = read.id;
                        const auto now = Clock::now();
                        // The newest send of that number (the stream loops).
                        const int sentSoFar = sentCount.load();
                        const int period = static_cast<int>(stream.units.size());
                        ++changes;
                        for (int index = sentSoFar - 1; index >= 0 && index >= sentSoFar - period; --index) {
                            if (index % period == read.id) {
                                if (!wasSeen[static_cast<size_t>(index)]) {
                                    wasSeen[static_cast<size_t>(index)] = 1;
                                    seen[static_cast<size_t>(index)] = now;
                                }
                                break;
                            }
                        }
                    }
                    std::this_thread::sleep_for(std::chrono::microseconds(250));
                }
                readerCpu = ThreadCpuSeconds() - cpuStart;
            });

            rusage before{};
            getrusage(RUSAGE_SELF, &before);
            const double cpuStart = ProcessCpuSeconds();
            const uint64_t composedStart = device->FramesComposed();
            const auto start = Clock::now();
            const double feederStart = ThreadCpuSeconds();
            for (int i = 0; i < total; ++i) {
                const auto due = start + std::chrono::nanoseconds(static_cast<int64_t>(i * 1e9 / fps));
                std::this_thread::sleep_until(due);
                const Unit& unit = stream.units[static_cast<size_t>(i) % stream.units.size()];
                sent[static_cast<size_t>(i)] = Clock::now();
                sentCount.store(i + 1);
                decoder->PushPacket(std::make_unique<StreamVideoPacket>(unit.bytes.data(), unit.bytes.size(),
                                                                        unit.key ? 1 : 0));
            }
            const double feederCpu = ThreadCpuSeconds() - feederStart;
            // The last picture's way through.
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            const uint64_t composed = device->FramesComposed() - composedStart;
            const uint64_t pictureFrames = device->PictureFramesComposed();
            stop.store(true);
            reader.join();
            const double cpu = ProcessCpuSeconds() - cpuStart - readerCpu - feederCpu;
            PrintThreadCpu();

            decoder.reset();
            output.reset();
            source->Release();
            driverSink.reset();
            writer.reset();

            std::vector<double> latencies;
            for (int i = 0; i < total; ++i) {
                if (wasSeen[static_cast<size_t>(i)]) {
                    latencies.push_back(std::chrono::duration<double, std::milli>(seen[static_cast<size_t>(i)] -
                                                                                  sent[static_cast<size_t>(i)])
                                            .count());
                }
            }
            // Unit pushed -> its picture leaving the decoder, the render output.
            const auto LatenciesOf = [&](const ComposedSink& seenAt) {
                std::vector<double> composedLatencies;
                const int period = static_cast<int>(stream.units.size());
                int cursor = 0;
                for (const auto& [id, when] : seenAt.firstSeen) {
                    for (int index = cursor; index < total; ++index) {
                        if (index % period == id) {
                            composedLatencies.push_back(
                                std::chrono::duration<double, std::milli>(when - sent[static_cast<size_t>(index)]).count());
                            cursor = index + 1;
                            break;
                        }
                    }
                }
                return composedLatencies;
            };
            const std::vector<double> composedLatencies = LatenciesOf(composedSink);
            const std::vector<double> decodedLatencies = LatenciesOf(decodedSink);
            // Decoded -> the start of the frame that composed it (the render
            // device's stamp on the steady clock), picture by picture.
            std::vector<double> waits;
            {
                size_t cursor = 0;
                for (size_t i = 0; i < composedSink.firstSeen.size(); ++i) {
                    const int id = composedSink.firstSeen[i].first;
                    for (size_t k = cursor; k < decodedSink.firstSeen.size(); ++k) {
                        if (decodedSink.firstSeen[k].first != id) continue;
                        const Clock::time_point composeStart{std::chrono::microseconds(composedSink.stamps[i])};
                        waits.push_back(
                            std::chrono::duration<double, std::milli>(composeStart - decodedSink.firstSeen[k].second).count());
                        cursor = k + 1;
                        break;
                    }
                }
            }
            rusage after{};
            getrusage(RUSAGE_SELF, &after);
            state.counters["cpu_ratio"] = cpu / bare;
            state.counters["cpu_s"] = cpu;
            state.counters["bare_s"] = bare;
            state.counters["p50_ms"] = Percentile(latencies, 0.50);
            state.counters["p99_ms"] = Percentile(latencies, 0.99);
            state.counters["decoded_p50_ms"] = Percentile(decodedLatencies, 0.50);
            state.counters["decoded_p99_ms"] = Percentile(decodedLatencies, 0.99);
            state.counters["wait_p50_ms"] = Percentile(waits, 0.50);
            // ZUCAM_BENCH_TRACE=N: the times of twelve pictures from the Nth.
            if (const char* trace = std::getenv("ZUCAM_BENCH_TRACE"); trace != nullptr) {
                const size_t first = static_cast<size_t>(std::max(0, std::atoi(trace)));
                for (size_t i = first; i < first + 12 && i < decodedSink.firstSeen.size() && i < composedSink.firstSeen.size(); ++i) {
                    const auto base = decodedSink.firstSeen[first].second;
                    std::fprintf(stderr, "decoded id %d at %.2f | composed id %d stamp %.2f out %.2f\n",
                                 decodedSink.firstSeen[i].first,
                                 std::chrono::duration<double, std::milli>(decodedSink.firstSeen[i].second - base).count(),
                                 composedSink.firstSeen[i].first,
                                 std::chrono::duration<double, std::milli>(Clock::time_point{std::chrono::microseconds(composedSink.stamps[i])} - base).count(),
                                 std::chrono::duration<double, std::milli>(composedSink.firstSeen[i].second - base).count());
                }
            }
            state.counters["picture_frames"] = static_cast<double>(pictureFrames) / total;
            state.counters["composed_p50_ms"] = Percentile(composedLatencies, 0.50);
            state.counters["composed_p99_ms"] = Percentile(composedLatencies, 0.99);
            state.counters["published"] = static_cast<double>(latencies.size()) / total;
            // Of the pictures, those the render output composed (a shortfall
            // here is a picture replaced before its turn, one in "published"
            // alone a picture the queue's reader missed).
            state.counters["composed_pictures"] = static_cast<double>(composedLatencies.size()) / total;
            if (std::getenv("ZUCAM_BENCH_MISSED") != nullptr) {
                for (int i = 0; i < total; ++i) {
                    if (!wasSeen[static_cast<size_t>(i)]) std::fprintf(stderr, "never published: picture %d\n", i);
                }
                std::fprintf(stderr, "decoded %zu pictures (first id %d, last %d), composed %zu (first %d, last %d)\n",
                             decodedSink.firstSeen.size(), decodedSink.firstSeen.empty() ? -1 : decodedSink.firstSeen.front().first,
                             decodedSink.firstSeen.empty() ? -1 : decodedSink.firstSeen.back().first, composedSink.firstSeen.size(),
                             composedSink.firstSeen.empty() ? -1 : composedSink.firstSeen.front().first,
                             composedSink.firstSeen.empty() ? -1 : composedSink.firstSeen.back().first);
                std::vector<char> composedIds(stream.units.size() + 1, 0);
                for (const auto& entry : composedSink.firstSeen) {
                    if (entry.first >= 0 && static_cast<size_t>(entry.first) < composedIds.size()) composedIds[static_cast<size_t>(entry.first)] = 1;
                }
                for (const auto& entry : decodedSink.firstSeen) {
                    if (entry.first >= 0 && static_cast<size_t>(entry.first) < composedIds.size() && !composedIds[static_cast<size_t>(entry.first)]) {
                        std::fprintf(stderr, "never composed: id %d decoded at %.1f ms\n", entry.first,
                                     std::chrono::duration<double, std::milli>(entry.second - start).count());
                    }
                }
            }
            state.counters["changes"] = static_cast<double>(changes) / total;
            state.counters["decoded"] = static_cast<double>(decoded.count.load()) / total;
            state.counters["composed"] = static_cast<double>(composed) / elapsed;
            state.counters["rss_mb"] = static_cast<double>(after.ru_maxrss) / 1024.0;
        }
        GsDevice::DestroyDefaultDevice();
    }
}
BENCHMARK(BM_WholePath)
    ->ArgNames({"height", "mfps", "s"})
    ->Args({1080, 30000, 10})
    ->Args({1080, 29970, 10})
    ->Args({1440, 60000, 10})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
