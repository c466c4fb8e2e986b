// One composed 1080p frame on the CPU back end (prepare and upload, colour
// correction, draw, read-back, YUV420P conversion) against a memcpy of the
// RGBA frame, the correction pass alone with and without row threads, and
// the CPU use of the running render path at 1080p30.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QMutex>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "gs_output_frame.h"
#include "scaler/rgba_to_yuv420p.h"
#include "scaler/rgba_to_yuv420p_kernels.h"
#include "ref_counted_object.h"
#include "video_sink/stream_video_sink_sw.h"
#include "vexo/gs_context_default.h"
#include "vexo/gs_device.h"
#include "vexo/gs_manual_clock.h"
#include "vexo/gs_scene.h"
#include "vexo/gs_steady_clock.h"
#include "vexo/gs_texture.h"
#include "zuc_camera_video_source.h"
#include "zuc_color_correction_filter.h"
#include "zuc_shaders.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

class FixedPicture final : public StreamVideoSinkSw {
public:
    FixedPicture() : image_(kWidth, kHeight, QImage::Format_RGBA8888) { image_.fill(QColor(180, 90, 40)); }
    void Push(AVFrame*) override {}
    void ShowBlack() override {}
    void SetFrame(AVFrame*) override {}
    QImage GetImage() override { return image_; }

private:
    QImage image_;
};

class NullSink final : public StreamVideoSink {
public:
    void Push(AVFrame*) override {}
    void ShowBlack() override {}
    void SetFrame(AVFrame*) override {}
};

// The program's composition of one camera picture: source, scene, output.
struct Composition {
    explicit Composition(bool runThread) {
        if (runThread) {
            GsDevice::CreateDefaultDevice(std::make_unique<GsSteadyClock>(), true);
        } else {
            GsDevice::CreateDefaultDevice(std::make_unique<GsManualClock>(), false);
        }
        RegisterZucShaders(GsDevice::DefaultDevice());
        source = new RefCountedObject<ZucCameraVideoSource>(QSize(kWidth, kHeight), &picture);
        source->AddRef();
        source->CreateItem();
        auto* scene = new RefCountedObject<GsScene>(kWidth, kHeight, GsDevice::DefaultDevice());
        scene->AddRef();
        scene->AddItem(source->item());
        output = std::make_unique<GsOutputFrame>(scene, kWidth, kHeight, kGsOutputRgba,
                                                 std::vector<StreamVideoSink*>{&sink});
        scene->Release();
        output->Start();
    }
    ~Composition() {
        output.reset();
        source->Release();
        GsDevice::DestroyDefaultDevice();
    }
    FixedPicture picture;
    NullSink sink;
    ZucCameraVideoSource* source = nullptr;
    std::unique_ptr<GsOutputFrame> output;
};

void BM_MemcpyRgba1080p(benchmark::State& state) {
    std::vector<uint8_t> from(static_cast<size_t>(kWidth) * kHeight * 4, 7);
    std::vector<uint8_t> to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(from.size()));
}
BENCHMARK(BM_MemcpyRgba1080p)->Unit(benchmark::kMillisecond);

// Without Tether the UI values are 0: the correction pass is a plain copy.
void BM_ComposedFrame1080p(benchmark::State& state) {
    GsContextDefault::SetMaxPassThreads(static_cast<int>(state.range(0)));
    Composition composition(false);
    uint64_t timestamp = 0;
    for (auto _ : state) GsDevice::DefaultDevice()->ComposeFrame(timestamp += 33'333'333);
    GsContextDefault::SetMaxPassThreads(8);
}
BENCHMARK(BM_ComposedFrame1080p)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->ArgName("threads");

// The correction pass alone; saturation 0 and brightness 0 take the copy
// path, anything else the per-pixel matrix.
void BM_CorrectionPass1080p(benchmark::State& state) {
    GsContextDefault::SetMaxPassThreads(static_cast<int>(state.range(1)));
    GsDevice::CreateDefaultDevice(std::make_unique<GsManualClock>(), false);
    RegisterZucShaders(GsDevice::DefaultDevice());
    std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 4, 100);
    {
        GsTexture input(pixels.data(), kWidth * 4, kGsTextureRgba, kWidth, kHeight, GsDevice::DefaultDevice());
        ZucColorCorrectionFilter filter(kWidth, kHeight);
        filter.saturation = static_cast<int>(state.range(0));
        filter.brightness = static_cast<int>(state.range(0)) / 5;
        filter.SetInput(&input);
        // A 1x1 scene with an output makes the device run the pass.
        class Null final : public GsOutputRaw {
        public:
            using GsOutputRaw::GsOutputRaw;
            ~Null() override { Stop(); }
            void OnRawFrame(const gs_raw_frame&) override {}
        };
        auto* scene = new RefCountedObject<GsScene>(1, 1, GsDevice::DefaultDevice());
        Null output(scene, 1, 1, kGsOutputRgba, GsDevice::DefaultDevice());
        output.Start();
        filter.Attach();
        for (auto _ : state) GsDevice::DefaultDevice()->ComposeFrame(0);
    }
    GsDevice::DestroyDefaultDevice();
    GsContextDefault::SetMaxPassThreads(8);
}
BENCHMARK(BM_CorrectionPass1080p)
    ->Args({0, 1})
    ->Args({50, 1})
    ->Args({50, 8})
    ->ArgNames({"saturation", "threads"})
    ->Unit(benchmark::kMillisecond);

// The output's conversion of one RGBA read-back to YUV420P.
void BM_OutputConversion1080p(benchmark::State& state) {
    GsDevice::CreateDefaultDevice(std::make_unique<GsManualClock>(), false);
    std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 4, 100);
    {
        auto* scene = new RefCountedObject<GsScene>(kWidth, kHeight, GsDevice::DefaultDevice());
        NullSink sink;
        GsOutputFrame output(scene, kWidth, kHeight, kGsOutputRgba, {&sink});
        gs_raw_frame raw;
        raw.width = kWidth;
        raw.height = kHeight;
        raw.data[0] = pixels.data();
        raw.linesize[0] = kWidth * 4;
        for (auto _ : state) output.OnRawFrame(raw);
    }
    GsDevice::DestroyDefaultDevice();
}
BENCHMARK(BM_OutputConversion1080p)->Unit(benchmark::kMillisecond);

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The drawing thread at 30 frames per second for two seconds: the CPU time
// of the process in percent of one core.
void BM_RenderPathCpu1080p30(benchmark::State& state) {
    for (auto _ : state) {
        Composition composition(true);
        GsDevice::DefaultDevice()->SetFrameRate(30);
        const double cpuBefore = ProcessCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double cpu = ProcessCpuSeconds() - cpuBefore;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / wall;
        state.counters["frames"] = static_cast<double>(GsDevice::DefaultDevice()->FramesComposed());
    }
}
BENCHMARK(BM_RenderPathCpu1080p30)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

// A 1080p RGBA picture of noise and the planes of its conversion.
struct ConversionPicture {
    ConversionPicture() : rgba(static_cast<size_t>(kWidth) * kHeight * 4), y(static_cast<size_t>(kWidth) * kHeight),
                          u(y.size() / 4), v(y.size() / 4) {
        uint32_t seed = 1;
        for (uint8_t& byte : rgba) byte = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    }
    std::vector<uint8_t> rgba;
    std::vector<uint8_t> y;
    std::vector<uint8_t> u;
    std::vector<uint8_t> v;
    uint8_t* const planes[3] = {y.data(), u.data(), v.data()};
    const int lines[3] = {kWidth, kWidth / 2, kWidth / 2};

    void ConvertWith(RgbaToYuv420pKernels kernels) {
        ConvertRgbaToYuv420pBt709RowsWith(kernels, rgba.data(), kWidth * 4, kWidth, kHeight, planes, lines, 0,
                                          kHeight / 2);
        benchmark::DoNotOptimize(y.data());
    }
};

// The render output's conversion alone, one thread, on a 1080p picture of
// noise, next to BM_MemcpyRgba1080p above.
void BM_ConvertRgbaToYuv420p1080p(benchmark::State& state) {
    ConversionPicture picture;
    const std::vector<uint8_t>& rgba = picture.rgba;
    const std::vector<uint8_t>& y = picture.y;
    uint8_t* const* planes = picture.planes;
    const int* lines = picture.lines;
    for (auto _ : state) {
        ConvertRgbaToYuv420pBt709(rgba.data(), kWidth * 4, kWidth, kHeight, planes, lines);
        benchmark::DoNotOptimize(y.data());
    }
}
BENCHMARK(BM_ConvertRgbaToYuv420p1080p)->Unit(benchmark::kMillisecond);

// The same with each set of row kernels: 0 the plain loops, 1 SSE2, 2 AVX2.
void BM_ConvertRgbaToYuv420p1080pKernels(benchmark::State& state) {
    const auto kernels = static_cast<RgbaToYuv420pKernels>(state.range(0));
    if (!RgbaToYuv420pKernelsAvailable(kernels)) {
        state.SkipWithError("not available on this processor");
        return;
    }
    ConversionPicture picture;
    for (auto _ : state) {
        picture.ConvertWith(kernels);
    }
}
BENCHMARK(BM_ConvertRgbaToYuv420p1080pKernels)->DenseRange(0, 2)->ArgName("kernels")->Unit(benchmark::kMillisecond);

#if defined(__x86_64__)
// The same on a picture that is in no cache, as the render output's
// pictures are (the whole-path benchmark's luma pass waited on memory for
// most of its time): the picture's lines are flushed before each conversion.
void BM_ConvertRgbaToYuv420p1080pFromMemory(benchmark::State& state) {
    const auto kernels = static_cast<RgbaToYuv420pKernels>(state.range(0));
    if (!RgbaToYuv420pKernelsAvailable(kernels)) {
        state.SkipWithError("not available on this processor");
        return;
    }
    ConversionPicture picture;
    for (auto _ : state) {
        state.PauseTiming();
        for (size_t i = 0; i < picture.rgba.size(); i += 64) _mm_clflush(picture.rgba.data() + i);
        _mm_mfence();
        state.ResumeTiming();
        picture.ConvertWith(kernels);
    }
}
BENCHMARK(BM_ConvertRgbaToYuv420p1080pFromMemory)
    ->DenseRange(0, 2)
    ->ArgName("kernels")
    ->Unit(benchmark::kMillisecond);
#endif
