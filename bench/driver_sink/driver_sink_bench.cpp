// The driver sink's cost per 1080p frame: packing it into the driver's
// layout against a plain memcpy of the same plane bytes, and the age of a
// frame when the port receives it (render push to Write), p50 and p99.
#include <benchmark/benchmark.h>

#include <QMutex>
#include <QWaitCondition>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "devices/driver_sink/driver_frame_packer.h"
#include "devices/driver_sink/stream_video_sink_driver.h"
#include "ffmpeg_handles.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A decoder-like frame: lines padded to FFmpeg's usual alignment.
AVFramePtr Make1080pFrame() {
    AVFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = kWidth;
    frame->height = kHeight;
    if (av_frame_get_buffer(frame.get(), 64) < 0) return nullptr;
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? kHeight : kHeight / 2;
        std::memset(frame->data[plane], 0x40 + plane, static_cast<size_t>(frame->linesize[plane]) * rows);
    }
    return frame;
}

void BM_PackFrame1080p(benchmark::State& state) {
    const AVFramePtr frame = Make1080pFrame();
    DriverFramePacker packer;
    for (auto _ : state) {
        const DriverFramePacker::Result result = packer.Pack(*frame);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(packer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(packer.size()));
}
BENCHMARK(BM_PackFrame1080p);

// The baseline: the same plane bytes copied with one memcpy per plane into
// a buffer of the packed size.
void BM_MemcpyPlanes1080p(benchmark::State& state) {
    const AVFramePtr frame = Make1080pFrame();
    const size_t lumaBytes = static_cast<size_t>(kWidth) * kHeight;
    std::vector<uint8_t> out(64 + lumaBytes * 3 / 2);
    for (auto _ : state) {
        std::memcpy(out.data() + 64, frame->data[0], lumaBytes);
        std::memcpy(out.data() + 64 + lumaBytes, frame->data[1], lumaBytes / 4);
        std::memcpy(out.data() + 64 + lumaBytes + lumaBytes / 4, frame->data[2], lumaBytes / 4);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(out.size()));
}
BENCHMARK(BM_MemcpyPlanes1080p);

// Tells the pusher when a write arrives; takes every frame at once.
class TimingPort final : public CameraDriverPort {
public:
    bool Open() override { return true; }
    void Close() override {}
    bool Write(const uint8_t* frame, size_t length) override {
        benchmark::DoNotOptimize(frame);
        benchmark::DoNotOptimize(length);
        const auto now = std::chrono::steady_clock::now();
        QMutexLocker lock(&mutex_);
        lastWrite_ = now;
        ++writes_;
        written_.wakeAll();
        return true;
    }
    // Waits for write number count and returns when it arrived.
    std::chrono::steady_clock::time_point WaitForWrite(uint64_t count) {
        QMutexLocker lock(&mutex_);
        while (writes_ < count) written_.wait(&mutex_);
        return lastWrite_;
    }

private:
    QMutex mutex_;  // guards lastWrite_ and writes_
    QWaitCondition written_;
    std::chrono::steady_clock::time_point lastWrite_;
    uint64_t writes_ = 0;
};

void BM_FrameAgeAtTheDriver1080p(benchmark::State& state) {
    const AVFramePtr frame = Make1080pFrame();
    auto port = std::make_unique<TimingPort>();
    TimingPort* const timing = port.get();
    StreamVideoSinkDriver sink(std::move(port));
    if (!sink.OpenCamera()) {
        state.SkipWithError("port did not open");
        return;
    }
    std::vector<double> agesUs;
    uint64_t count = 0;
    for (auto _ : state) {
        const auto pushed = std::chrono::steady_clock::now();
        sink.Push(frame.get());
        const auto arrived = timing->WaitForWrite(++count);
        agesUs.push_back(std::chrono::duration<double, std::micro>(arrived - pushed).count());
    }
    sink.Stop();
    std::sort(agesUs.begin(), agesUs.end());
    if (!agesUs.empty()) {
        state.counters["age_p50_us"] = agesUs[agesUs.size() / 2];
        state.counters["age_p99_us"] = agesUs[std::min(agesUs.size() - 1, agesUs.size() * 99 / 100)];
    }
}
BENCHMARK(BM_FrameAgeAtTheDriver1080p)->UseRealTime();

}  // namespace
