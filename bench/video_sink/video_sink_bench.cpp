// The software sink's Push of a 1080p YUV420P picture (conversion to RGBA
// and the hand-over to GetImage) against a bare memcpy of the RGBA picture
// it produces, 1920 * 1080 * 4 bytes, measured in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "ffmpeg_handles.h"
#include "video_sink/stream_video_sink_sw_impl.h"

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
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kRgbaBytes));
}
BENCHMARK(BM_SoftwareSinkPush1080p)->Unit(benchmark::kMillisecond);

void BM_MemcpyRgba1080p(benchmark::State& state) {
    std::vector<uint8_t> source(kRgbaBytes, 0x5A);
    std::vector<uint8_t> destination(kRgbaBytes);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), kRgbaBytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kRgbaBytes));
}
BENCHMARK(BM_MemcpyRgba1080p)->Unit(benchmark::kMillisecond);

}  // namespace
