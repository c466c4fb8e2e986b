// The software sink's Push of a 1080p YUV420P picture (conversion to RGBA
// and the hand-over to GetImage) against a bare memcpy of the RGBA picture
// it produces, 1920 * 1080 * 4 bytes, measured in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "ffmpeg_handles.h"
#include "video_sink/rgba_conversion.h"
#include "video_sink/stream_video_sink_sw_impl.h"
#include "video_sink/yuv420p_to_rgba.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr size_t kRgbaBytes = size_t{kWidth} * kHeight * 4;

// A limited-range BT.709 picture with gradients, as a decoder gives it.
AVFramePtr MakePicture() {
    AVFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = kWidth;
    frame->height = kHeight;
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->colorspace = AVCOL_SPC_BT709;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? kHeight : kHeight / 2;
        for (int row = 0; row < rows; ++row) {
            for (int x = 0; x < frame->linesize[plane]; ++x) {
                frame->data[plane][row * frame->linesize[plane] + x] = static_cast<uint8_t>(16 + (x + row) % 220);
            }
        }
    }
    return frame;
}

// swscale's context for the picture; none (the benchmark skipped) without one.
RgbaContext SwscaleContextFor(const AVFrame* picture, benchmark::State& state) {
    RgbaContext built = picture != nullptr ? CreateRgbaContext(*picture) : RgbaContext{};
    if (!built.context) state.SkipWithError("no context");
    return built;
}

// Four destination images that conversions take turns writing.
std::vector<QImage> MakeImageRing() {
    std::vector<QImage> ring;
    for (int i = 0; i < 4; ++i) ring.push_back(AllocateRgbaImage(kWidth, kHeight));
    return ring;
}

void CountRgbaBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kRgbaBytes));
}

void BM_SoftwareSinkPush1080p(benchmark::State& state) {
    const AVFramePtr picture = MakePicture();
    if (!picture) {
        state.SkipWithError("no frame");
        return;
    }
    const auto sink = StreamVideoSinkSwImpl::Create();
    sink->enabled = true;
    for (auto _ : state) {
        sink->Push(picture.get());
        // A reader takes every picture, as the preview does.
        benchmark::DoNotOptimize(sink->GetImage().constBits());
    }
    CountRgbaBytes(state);
}
BENCHMARK(BM_SoftwareSinkPush1080p)->Unit(benchmark::kMillisecond);

// The same, with the reader holding each picture until it takes the next, as
// the render device's texture does: the sink cannot write into an image a
// reader still holds.
void BM_SoftwareSinkPush1080pHeld(benchmark::State& state) {
    const AVFramePtr picture = MakePicture();
    if (!picture) {
        state.SkipWithError("no frame");
        return;
    }
    const auto sink = StreamVideoSinkSwImpl::Create();
    sink->enabled = true;
    QImage held;
    for (auto _ : state) {
        sink->Push(picture.get());
        held = sink->GetImage();
        benchmark::DoNotOptimize(held.constBits());
    }
    CountRgbaBytes(state);
}
BENCHMARK(BM_SoftwareSinkPush1080pHeld)->Unit(benchmark::kMillisecond);

// swscale alone into a fresh image every time (what a sink whose images are
// all held does), and into a ring of four reused images.
void BM_SwscaleFreshImage1080p(benchmark::State& state) {
    const AVFramePtr picture = MakePicture();
    RgbaContext built = SwscaleContextFor(picture.get(), state);
    if (!built.context) return;
    for (auto _ : state) {
        QImage image = AllocateRgbaImage(kWidth, kHeight);
        benchmark::DoNotOptimize(ScaleToRgba(built.context.get(), *picture, &image));
        benchmark::DoNotOptimize(image.constBits());
    }
    CountRgbaBytes(state);
}
BENCHMARK(BM_SwscaleFreshImage1080p)->Unit(benchmark::kMillisecond);

void BM_SwscaleImageRing1080p(benchmark::State& state) {
    const AVFramePtr picture = MakePicture();
    RgbaContext built = SwscaleContextFor(picture.get(), state);
    if (!built.context) return;
    std::vector<QImage> ring = MakeImageRing();
    size_t next = 0;
    for (auto _ : state) {
        QImage& image = ring[next];
        next = (next + 1) % ring.size();
        benchmark::DoNotOptimize(ScaleToRgba(built.context.get(), *picture, &image));
        benchmark::DoNotOptimize(image.constBits());
    }
    CountRgbaBytes(state);
}
BENCHMARK(BM_SwscaleImageRing1080p)->Unit(benchmark::kMillisecond);

// Our own converter (swscale's arithmetic) into the same ring, by
// instruction set (0 scalar, 1 SSE2, 2 AVX2) and stores (0 cached, 1
// streaming).
void BM_OwnConverterImageRing1080p(benchmark::State& state) {
    const AVFramePtr picture = MakePicture();
    if (!picture) {
        state.SkipWithError("no frame");
        return;
    }
    const auto isa = static_cast<RgbaIsa>(state.range(0));
    const RgbaStores stores = state.range(1) != 0 ? RgbaStores::kStreaming : RgbaStores::kCached;
    const Yuv420pToRgbaTable table = MakeYuv420pToRgbaTable(SwsCoefficientsOf(*picture), SwsRangeOf(*picture));
    std::vector<QImage> ring = MakeImageRing();
    size_t next = 0;
    for (auto _ : state) {
        QImage& image = ring[next];
        next = (next + 1) % ring.size();
        if (!ConvertYuv420pToRgbaWith(isa, table, *picture, image.bits(), static_cast<int>(image.bytesPerLine()),
                                      stores)) {
            state.SkipWithError("instruction set missing");
            return;
        }
        benchmark::DoNotOptimize(image.constBits());
    }
    CountRgbaBytes(state);
}
BENCHMARK(BM_OwnConverterImageRing1080p)
    ->ArgNames({"isa", "stream"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond);

// What the pipeline sees: the picture was just written by another thread
// (the decoder's frame threads), the destination just read by another (the
// render device), and the converter reads and writes memory that is not in
// its core's caches. A helper thread rewrites the planes and reads the last
// destination before each conversion; only the conversion is timed.
// converter: 0 swscale, 1 own cached stores, 2 own streaming stores.
class ColdMemory {
public:
    explicit ColdMemory(AVFrame* picture) : picture_(picture), worker_([this] { Run(); }) {}
    ~ColdMemory() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    ColdMemory(const ColdMemory&) = delete;
    ColdMemory& operator=(const ColdMemory&) = delete;
    // Has the helper rewrite the planes and read image, and waits for it.
    void Touch(const QImage* image) {
        std::unique_lock<std::mutex> lock(mutex_);
        image_ = image;
        ++requested_;
        wake_.notify_all();
        wake_.wait(lock, [this] { return done_ == requested_; });
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || done_ != requested_; });
            if (stop_) return;
            ++round_;
            for (int plane = 0; plane < 3; ++plane) {
                const int rows = plane == 0 ? kHeight : kHeight / 2;
                uint8_t* const data = picture_->data[plane];
                const size_t bytes = static_cast<size_t>(rows) * static_cast<size_t>(picture_->linesize[plane]);
                for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(16 + (i + round_) % 220);
            }
            if (image_ != nullptr) {
                const uint8_t* const bits = image_->constBits();
                const size_t bytes = static_cast<size_t>(image_->sizeInBytes());
                uint64_t sum = 0;
                for (size_t i = 0; i < bytes; i += 64) sum += bits[i];
                benchmark::DoNotOptimize(sum);
            }
            done_ = requested_;
            wake_.notify_all();
        }
    }

    AVFrame* const picture_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    uint64_t requested_ = 0;
    uint64_t done_ = 0;
    size_t round_ = 0;
    const QImage* image_ = nullptr;
    std::thread worker_;
};

void BM_ConvertColdMemory1080p(benchmark::State& state) {
    const AVFramePtr picture = MakePicture();
    RgbaContext built = SwscaleContextFor(picture.get(), state);
    if (!built.context) return;
    const Yuv420pToRgbaTable table = MakeYuv420pToRgbaTable(SwsCoefficientsOf(*picture), SwsRangeOf(*picture));
    const int64_t converter = state.range(0);
    std::vector<QImage> ring;
    for (int i = 0; i < 3; ++i) ring.push_back(AllocateRgbaImage(kWidth, kHeight));
    size_t next = 0;
    ColdMemory cold(picture.get());
    for (auto _ : state) {
        QImage& image = ring[next];
        next = (next + 1) % ring.size();
        cold.Touch(&image);
        const auto start = std::chrono::steady_clock::now();
        if (converter == 0) {
            benchmark::DoNotOptimize(ScaleToRgba(built.context.get(), *picture, &image));
        } else {
            ConvertYuv420pToRgba(table, *picture, image.bits(), static_cast<int>(image.bytesPerLine()),
                                 converter == 2 ? RgbaStores::kStreaming : RgbaStores::kCached);
        }
        benchmark::DoNotOptimize(image.constBits());
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    CountRgbaBytes(state);
}
BENCHMARK(BM_ConvertColdMemory1080p)
    ->ArgName("converter")
    ->DenseRange(0, 2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_MemcpyRgba1080p(benchmark::State& state) {
    std::vector<uint8_t> source(kRgbaBytes, 0x5A);
    std::vector<uint8_t> destination(kRgbaBytes);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), kRgbaBytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    CountRgbaBytes(state);
}
BENCHMARK(BM_MemcpyRgba1080p)->Unit(benchmark::kMillisecond);

}  // namespace
