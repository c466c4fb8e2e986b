// The camera queue: one 1080p WriteFrame against a memcpy of the same three
// planes in the same run, and the age of a published picture, from its push
// into CameraRawWriter's render device until a reader finds it behind a new
// readyIndex (p50 and p99 as counters, in milliseconds).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "devices/camera_queue/camera_queue_layout.h"
#include "devices/camera_queue/camera_raw_writer.h"
#include "devices/camera_queue/shared_memory_camera_queue.h"
#include "ffmpeg_handles.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr size_t kPlaneBytes[3] = {size_t{kWidth} * kHeight, size_t{kWidth / 2} * (kHeight / 2),
                                   size_t{kWidth / 2} * (kHeight / 2)};
constexpr size_t kFrameBytes = kPlaneBytes[0] + kPlaneBytes[1] + kPlaneBytes[2];

std::string BenchName(const char* what) { return "/ZuCamBench-" + std::string(what) + "-" + std::to_string(::getpid()); }

void BM_WriteFrame1080p(benchmark::State& state) {
    const auto queue = SharedMemoryCameraQueue::CreateWriter(BenchName("write"), kCameraQueueFrameCapacity);
    if (!queue) {
        state.SkipWithError("no queue");
        return;
    }
    std::vector<uint8_t> planes[3];
    for (int plane = 0; plane < 3; ++plane) planes[plane].assign(kPlaneBytes[plane], static_cast<uint8_t>(plane + 1));
    const uint8_t* const data[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
    const int strides[3] = {kWidth, kWidth / 2, kWidth / 2};
    for (auto _ : state) {
        queue->WriteFrame(data, strides, kWidth, kHeight);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}
BENCHMARK(BM_WriteFrame1080p)->Unit(benchmark::kMicrosecond);

void BM_MemcpyPlanes1080p(benchmark::State& state) {
    std::vector<uint8_t> planes[3];
    for (int plane = 0; plane < 3; ++plane) planes[plane].assign(kPlaneBytes[plane], static_cast<uint8_t>(plane + 1));
    // Three destinations, as the three slots: each copy goes to fresh cache lines.
    std::vector<uint8_t> targets[3];
    for (auto& slot : targets) slot.assign(kFrameBytes, 0);
    int next = 0;
    for (auto _ : state) {
        uint8_t* destination = targets[next].data();
        next = (next + 1) % 3;
        for (int plane = 0; plane < 3; ++plane) {
            std::memcpy(destination, planes[plane].data(), kPlaneBytes[plane]);
            destination += kPlaneBytes[plane];
        }
        benchmark::DoNotOptimize(destination);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}
BENCHMARK(BM_MemcpyPlanes1080p)->Unit(benchmark::kMicrosecond);

AVFramePtr MakeStampedPicture(const uint32_t stamp) {
    AVFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = kWidth;
    frame->height = kHeight;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? kHeight : kHeight / 2;
        std::memset(frame->data[plane], 128, static_cast<size_t>(frame->linesize[plane]) * rows);
    }
    std::memcpy(frame->data[0], &stamp, sizeof(stamp));
    return frame;
}

void BM_PublishedFrameAge(benchmark::State& state) {
    const std::string name = BenchName("age");
    CameraRawWriter writer(name);
    if (!writer.hasQueue()) {
        state.SkipWithError("no queue");
        return;
    }
    const int fd = ::shm_open(name.c_str(), O_RDONLY, 0);
    const CameraQueueLayout layout = CameraQueueLayout::ForCapacity(kCameraQueueFrameCapacity);
    void* const view = ::mmap(nullptr, layout.totalBytes, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (view == MAP_FAILED) {
        state.SkipWithError("no view");
        return;
    }
    const auto* const header = static_cast<const CameraQueueHeader*>(view);
    const auto* const bytes = static_cast<const uint8_t*>(view);
    writer.EnableOutput();

    std::vector<double> ages;
    uint32_t stamp = 0;
    // Pictures arrive at any phase of the writer's period, not just after a
    // write (where the loop would otherwise push each time).
    std::minstd_rand phase(12345);
    std::uniform_int_distribution<int> phaseUs(0, CameraRawWriter::kPeriodMs * 1000 - 1);
    for (auto _ : state) {
        const AVFramePtr picture = MakeStampedPicture(++stamp);
        std::this_thread::sleep_for(std::chrono::microseconds(phaseUs(phase)));
        const uint32_t before = CameraQueueLoadAcquire(&header->readyIndex);
        const auto pushed = std::chrono::steady_clock::now();
        writer.renderDevice->Push(picture.get());
        for (;;) {
            const uint32_t ready = CameraQueueLoadAcquire(&header->readyIndex);
            uint32_t seen = 0;
            if (ready != before) std::memcpy(&seen, bytes + layout.dataOffset[ready % kCameraQueueSlots], sizeof(seen));
            if (seen == stamp) break;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        const std::chrono::duration<double> age = std::chrono::steady_clock::now() - pushed;
        state.SetIterationTime(age.count());
        ages.push_back(age.count() * 1000.0);
    }
    ::munmap(view, layout.totalBytes);
    std::sort(ages.begin(), ages.end());
    if (!ages.empty()) {
        state.counters["p50_ms"] = ages[ages.size() / 2];
        state.counters["p99_ms"] = ages[std::min(ages.size() - 1, ages.size() * 99 / 100)];
    }
}
BENCHMARK(BM_PublishedFrameAge)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace
