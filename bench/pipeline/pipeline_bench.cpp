// The real-time video path as the main window wires it, from the phone's
// access units to the camera queue: the H.264 decoder thread with the frame
// provider (YUV -> RGBA), the render device at the phone's frame rate with
// the camera source, its colour correction and the render output (RGBA ->
// YUV420P BT.709), the render output's sinks (the queue writer's render
// device, the screenshot and recorder caches, the driver sink), and
// CameraRawWriter publishing into a shared-memory camera queue. A reader
// thread watches the queue, and a sampler thread spins on its header.
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
//   pictures      distinct pictures written into the queue (a count; of
//                 units sent, 600 for 10 s at 60 a second)
//   margin_min_ms the readers' margin as a reader sees it: from a slot's
//                 publication (the sample that first saw readyIndex name it,
//                 by a write or an announcement) to the first sign of the
//                 next write into that slot (frameCounter one past
//                 readyIndex, naming it), the least over the run; measured
//                 conservatively (publication at the end of the sample that
//                 saw it, the write's start at the beginning of the sample
//                 before the one that saw it)
//   margin_min_hi_ms  the least margin's upper bound (the other way round)
//   under_40ms    writes whose margin was surely under 40 ms, even by its
//                 upper bound (must be 0)
//   unsure_40ms   writes whose bounds straddle 40 ms: the sampler was
//                 descheduled around them (a loaded machine)
//   sample_max_us the longest time between two header samples
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
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
#include <utility>
#include <vector>

#include "decode/stream_video_decoder_h264.h"
#include "devices/camera_queue/camera_queue_layout.h"
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

// Spins on the queue's header as a reader would see it, to time the
// readers' margin of every write (see margin_min_ms above). Loads readyIndex
// before frameCounter, so that the counter read is never behind the index.
class MarginSampler {
public:
    explicit MarginSampler(std::string name) : name_(std::move(name)) {}
    ~MarginSampler() {
        if (view_ != nullptr) munmap(const_cast<uint8_t*>(view_), size_);
    }

    void Run(const std::atomic<bool>& stop) {
        while (!stop.load(std::memory_order_relaxed)) {
            if (view_ == nullptr && !Open()) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            Sample();
            // Samples a fraction of a microsecond apart, leaving the core's
            // other hardware thread its share.
            for (int i = 0; i < 8; ++i) __builtin_ia32_pause();
        }
    }

    double minMarginMs = 1e9;      // the least margin's lower bound
    double minMarginHighMs = 1e9;  // the least upper bound
    int under40 = 0;               // writes with a margin surely under 40 ms
    int unsure40 = 0;              // writes whose bounds straddle 40 ms (samples far apart)
    int writes = 0;
    int announcements = 0;
    int writesUnseen = 0;  // writes whose start no sample caught (margin not counted)
    double maxSampleGapUs = 0.0;
    std::vector<int> writtenIds;

private:
    static int64_t NowNs() {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    }

    bool Open() {
        const int fd = shm_open(name_.c_str(), O_RDONLY | O_CLOEXEC, 0);
        if (fd < 0) return false;
        struct stat status {};
        if (fstat(fd, &status) != 0 || status.st_size < 64) {
            close(fd);
            return false;
        }
        void* const view = mmap(nullptr, static_cast<size_t>(status.st_size), PROT_READ, MAP_SHARED, fd, 0);
        close(fd);
        if (view == MAP_FAILED) return false;
        view_ = static_cast<const uint8_t*>(view);
        size_ = static_cast<size_t>(status.st_size);
        header_ = reinterpret_cast<const CameraQueueHeader*>(view_);
        lastReady_ = CameraQueueLoadAcquire(&header_->readyIndex);
        lastCounter_ = CameraQueueLoadAcquire(&header_->frameCounter);
        started_ = lastCounter_;
        previousBefore_ = NowNs();
        return true;
    }

    void Sample() {
        const int64_t before = NowNs();
        const uint32_t ready = CameraQueueLoadAcquire(&header_->readyIndex);
        const uint32_t counter = CameraQueueLoadAcquire(&header_->frameCounter);
        const int64_t after = NowNs();
        maxSampleGapUs = std::max(maxSampleGapUs, static_cast<double>(before - previousBefore_) / 1000.0);
        if (counter != lastCounter_ && counter - ready == 1 && counter != started_) {
            // A write into slot counter % 3 began after the previous sample's loads.
            started_ = counter;
            TakeMargin(static_cast<int>(counter % kCameraQueueSlots), after);
        }
        if (ready != lastReady_) {
            const int slot = static_cast<int>(ready % kCameraQueueSlots);
            if ((ready - lastReady_) % kCameraQueueSlots != 0) {
                ++writes;
                if (started_ != ready) {
                    // Begun and ended between two samples.
                    ++writesUnseen;
                    TakeMargin(slot, after);
                }
                started_ = ready;
                ReadWrittenId(slot);
            } else {
                ++announcements;
            }
            published_[slot] = true;
            publishedAt_[slot] = after;
            publishedAfter_[slot] = previousBefore_;
            lastReady_ = ready;
        }
        lastCounter_ = counter;
        previousBefore_ = before;
    }

    // A write into slot began between the previous sample's loads and now.
    // Its margin lies between low (the write as early, the publication as
    // late as the samples allow) and high (the other way round).
    void TakeMargin(const int slot, const int64_t now) {
        if (!published_[slot]) return;
        const double low = static_cast<double>(previousBefore_ - publishedAt_[slot]) / 1e6;
        const double high = static_cast<double>(now - publishedAfter_[slot]) / 1e6;
        minMarginMs = std::min(minMarginMs, low);
        minMarginHighMs = std::min(minMarginHighMs, high);
        if (high < 40.0) {
            ++under40;
        } else if (low < 40.0) {
            ++unsure40;
        }
    }

    void ReadWrittenId(const int slot) {
        const uint32_t record = CameraQueueLoadRelaxed(&header_->recordOffset[slot]);
        const uint32_t data = CameraQueueLoadRelaxed(&header_->dataOffset[slot]);
        if (record + sizeof(CameraQueueSlotRecord) > size_ || data >= size_) return;
        CameraQueueSlotRecord fields{};
        std::memcpy(&fields, view_ + record, sizeof(fields));
        if (fields.height < static_cast<uint32_t>(kIdBlock) || fields.lineY < kIdBits * kIdBlock ||
            data + static_cast<uint64_t>(kIdBlock) * fields.lineY > size_) {
            return;
        }
        writtenIds.push_back(ReadId(view_ + data, fields.lineY));
    }

    const std::string name_;
    const uint8_t* view_ = nullptr;
    size_t size_ = 0;
    const CameraQueueHeader* header_ = nullptr;
    uint32_t lastReady_ = 0;
    uint32_t lastCounter_ = 0;
    uint32_t started_ = 0;  // the counter of the last write whose start was seen
    int64_t previousBefore_ = 0;
    bool published_[kCameraQueueSlots] = {};
    int64_t publishedAt_[kCameraQueueSlots] = {};     // by then readers could see the slot published
    int64_t publishedAfter_[kCameraQueueSlots] = {};  // not before then
};

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

            MarginSampler sampler(queueName);
            double samplerCpu = 0.0;
            // ZUCAM_BENCH_NO_SAMPLER=1: without it (what its spinning costs the rest).
            const bool sampling = std::getenv("ZUCAM_BENCH_NO_SAMPLER") == nullptr;
            std::thread samplerThread([&] {
                const double cpuStart = ThreadCpuSeconds();
                if (sampling) sampler.Run(stop);
                samplerCpu = ThreadCpuSeconds() - cpuStart;
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
            samplerThread.join();
            const double cpu = ProcessCpuSeconds() - cpuStart - readerCpu - feederCpu - samplerCpu;
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
            {
                // Each write's picture matched to its send in order (the
                // stream's numbers repeat after four seconds' worth).
                const int period = static_cast<int>(stream.units.size());
                int cursor = 0;
                int pictures = 0;
                int previous = -1;
                for (const int id : sampler.writtenIds) {
                    // A repeat frame of the cadence writes the same picture again.
                    if (id == std::exchange(previous, id)) continue;
                    for (int index = cursor; index < total; ++index) {
                        if (index % period == id) {
                            ++pictures;
                            cursor = index + 1;
                            break;
                        }
                    }
                }
                state.counters["pictures"] = pictures;
                if (std::getenv("ZUCAM_BENCH_WRITTEN") != nullptr) {
                    for (const int id : sampler.writtenIds) std::fprintf(stderr, "%d ", id);
                    std::fprintf(stderr, "\n");
                }
            }
            state.counters["total"] = total;
            state.counters["margin_min_ms"] = sampler.minMarginMs;
            state.counters["margin_min_hi_ms"] = sampler.minMarginHighMs;
            state.counters["under_40ms"] = sampler.under40;
            state.counters["unsure_40ms"] = sampler.unsure40;
            state.counters["writes"] = sampler.writes;
            state.counters["announcements"] = sampler.announcements;
            state.counters["writes_unseen"] = sampler.writesUnseen;
            state.counters["sample_max_us"] = sampler.maxSampleGapUs;
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
