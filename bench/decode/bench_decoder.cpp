// The H.264 decoder thread on 1080p video, next to a bare libavcodec decode
// loop over the same access units with the same threading, in the same run.
//
//   Bare/...      one access unit sent and its picture received per iteration
//   Decoder/...   one access unit pushed per iteration (at most a few ahead
//                 of the sink), re-packed, decoded, converted and pushed to a
//                 counting sink by the decoder thread
//   Latency/...   access units pushed at the phone's 30 frames a second;
//                 counters p50_ms and p99_ms give the time from pushing a
//                 unit to its picture reaching the sink
//   Convert/...   the conversion alone on a 1080p picture (NV12 is what a
//                 hardware decoder hands back), next to a copy of its bytes
//
// Streams: one slice per picture (what phones send) and four slices (where
// slice threads have something to share out); a 4:2:2 stream adds the
// swscale conversion to YUV420P. 60 pictures each, encoded once at start-up
// with libx264 ultrafast.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ffmpeg_handles.h"
#include "decode/stream_video_decoder_h264.h"
#include "decode/yuv420p_converter.h"
#include "h264_test_stream.h"
#include "parser/stream_video_packet.h"
#include "recording_sink.h"

namespace {

using zucam::test::H264TestAccessUnit;
using zucam::test::RecordingSink;
using Threading = H264DecoderTuning::Threading;

constexpr int kFrames = 60;
constexpr int kThreads = 4;
// Units pushed ahead of the sink: well below the key-frame flush threshold.
constexpr int kAhead = 6;

enum StreamKind { kOneSlice, kFourSlices, kChroma422 };

const std::vector<H264TestAccessUnit>& Stream(StreamKind kind) {
    static std::map<StreamKind, std::vector<H264TestAccessUnit>> streams;
    auto found = streams.find(kind);
    if (found != streams.end()) return found->second;
    zucam::test::H264TestStreamSettings settings;
    settings.width = 1920;
    settings.height = 1080;
    settings.frames = kFrames;
    settings.gop = kFrames;  // the stream can be replayed from its IDR
    settings.textured = true;
    settings.crf = 23;
    settings.encoderThreads = 0;
    settings.slices = kind == kFourSlices ? 4 : 1;
    if (kind == kChroma422) settings.format = AV_PIX_FMT_YUV422P;
    av_log_set_level(AV_LOG_QUIET);
    return streams.emplace(kind, zucam::test::EncodeH264TestStream(settings)).first->second;
}

H264DecoderTuning TuningFor(Threading threading, int threads) {
    H264DecoderTuning tuning;
    tuning.threading = threading;
    tuning.threadCount = threads;
    return tuning;
}

// Pictures a decoder holds back in steady state: one per extra frame thread.
int HeldBack(const H264DecoderTuning& tuning) {
    return tuning.threading == Threading::kFrames ? tuning.threadCount - 1 : 0;
}

void Push(StreamVideoDecoderH264* decoder, const H264TestAccessUnit& unit) {
    decoder->PushPacket(std::make_unique<StreamVideoPacket>(unit.bytes.data(), unit.bytes.size(), unit.keyFrame));
}

void SetStreamLabel(benchmark::State& state, const std::vector<H264TestAccessUnit>& units) {
    size_t bytes = 0;
    for (const H264TestAccessUnit& unit : units) bytes += unit.bytes.size();
    state.counters["kB_per_unit"] = static_cast<double>(bytes) / static_cast<double>(units.size()) / 1000.0;
}

void BareDecode(benchmark::State& state, StreamKind kind, Threading threading, int threads) {
    const std::vector<H264TestAccessUnit>& units = Stream(kind);
    if (units.empty()) {
        state.SkipWithError("no libx264");
        return;
    }
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    CodecContextPtr context(avcodec_alloc_context3(codec));
    // As the decoder sets it up.
    if (threading == Threading::kFrames) {
        context->thread_type = FF_THREAD_FRAME;
    } else {
        context->flags |= AV_CODEC_FLAG_LOW_DELAY;
        context->thread_type = FF_THREAD_SLICE;
    }
    context->thread_count = threads;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        state.SkipWithError("avcodec_open2 failed");
        return;
    }
    PacketPtr packet(av_packet_alloc());
    AVFramePtr picture(av_frame_alloc());
    size_t next = 0;
    int64_t pictures = 0;
    for (auto _ : state) {
        const H264TestAccessUnit& unit = units[next];
        next = (next + 1) % units.size();
        av_new_packet(packet.get(), static_cast<int>(unit.bytes.size()));
        std::copy(unit.bytes.begin(), unit.bytes.end(), packet->data);
        avcodec_send_packet(context.get(), packet.get());
        av_packet_unref(packet.get());
        while (avcodec_receive_frame(context.get(), picture.get()) == 0) {
            ++pictures;
            av_frame_unref(picture.get());
        }
    }
    state.SetItemsProcessed(pictures);
    SetStreamLabel(state, units);
}

void DecoderThread(benchmark::State& state, StreamKind kind, Threading threading, int threads) {
    const std::vector<H264TestAccessUnit>& units = Stream(kind);
    if (units.empty()) {
        state.SkipWithError("no libx264");
        return;
    }
    const H264DecoderTuning tuning = TuningFor(threading, threads);
    RecordingSink sink;
    sink.set_countOnly(true);
    StreamVideoDecoderH264 decoder("", nullptr, {&sink}, {}, tuning);
    size_t next = 0;
    size_t pushed = 0;
    const size_t heldBack = static_cast<size_t>(HeldBack(tuning));
    for (auto _ : state) {
        Push(&decoder, units[next]);
        next = (next + 1) % units.size();
        ++pushed;
        if (pushed > kAhead + heldBack) sink.WaitForCount(pushed - kAhead - heldBack);
    }
    if (pushed > heldBack) sink.WaitForCount(pushed - heldBack);
    state.SetItemsProcessed(static_cast<int64_t>(sink.count()));
    SetStreamLabel(state, units);
}

void Latency(benchmark::State& state, StreamKind kind, Threading threading, int threads) {
    const std::vector<H264TestAccessUnit>& units = Stream(kind);
    if (units.empty()) {
        state.SkipWithError("no libx264");
        return;
    }
    const H264DecoderTuning tuning = TuningFor(threading, threads);
    const auto interval = std::chrono::microseconds(1000000 / 30);
    std::vector<double> latenciesMs;
    for (auto _ : state) {
        RecordingSink sink;
        sink.set_countOnly(true);
        StreamVideoDecoderH264 decoder("", nullptr, {&sink}, {}, tuning);
        // Time for the codec to open before the first unit arrives.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        // Extra units at the end bring out the pictures frame threads hold.
        const size_t total = units.size() + static_cast<size_t>(HeldBack(tuning));
        std::vector<std::chrono::steady_clock::time_point> pushedAt;
        const auto start = std::chrono::steady_clock::now();
        for (size_t n = 0; n < total; ++n) {
            std::this_thread::sleep_until(start + interval * static_cast<int>(n));
            pushedAt.push_back(std::chrono::steady_clock::now());
            Push(&decoder, units[n % units.size()]);
        }
        sink.WaitForCount(units.size());
        const std::vector<zucam::test::RecordedFrame> frames = sink.frames();
        for (size_t n = 0; n < units.size(); ++n) {
            latenciesMs.push_back(std::chrono::duration<double, std::milli>(frames[n].pushedAt - pushedAt[n]).count());
        }
    }
    std::sort(latenciesMs.begin(), latenciesMs.end());
    const auto percentile = [&](double p) {
        return latenciesMs[std::min(latenciesMs.size() - 1, static_cast<size_t>(p * latenciesMs.size()))];
    };
    state.counters["p50_ms"] = percentile(0.50);
    state.counters["p99_ms"] = percentile(0.99);
    SetStreamLabel(state, units);
}

AVFramePtr GreyPicture(AVPixelFormat format) {
    AVFramePtr picture(av_frame_alloc());
    picture->format = format;
    picture->width = 1920;
    picture->height = 1080;
    av_frame_get_buffer(picture.get(), 0);
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && picture->buf[plane] != nullptr; ++plane) {
        std::memset(picture->buf[plane]->data, 128, picture->buf[plane]->size);
    }
    return picture;
}

void Convert(benchmark::State& state, AVPixelFormat format) {
    const AVFramePtr picture = GreyPicture(format);
    Yuv420pConverter converter;
    if (!converter.Convert(*picture)) {
        state.SkipWithError("conversion failed");
        return;
    }
    for (auto _ : state) {
        AVFramePtr converted = converter.Convert(*picture);
        benchmark::DoNotOptimize(converted.get());
    }
}

// The same bytes copied plane by plane into a fresh YUV420P frame.
void CopyBaseline(benchmark::State& state, AVPixelFormat format) {
    const AVFramePtr picture = GreyPicture(format);
    for (auto _ : state) {
        AVFramePtr copy(av_frame_alloc());
        copy->format = AV_PIX_FMT_YUV420P;
        copy->width = picture->width;
        copy->height = picture->height;
        av_frame_get_buffer(copy.get(), 0);
        for (int plane = 0; plane < 3 && picture->buf[plane] != nullptr; ++plane) {
            std::memcpy(copy->buf[plane]->data, picture->buf[plane]->data,
                        std::min(copy->buf[plane]->size, picture->buf[plane]->size));
        }
        benchmark::DoNotOptimize(copy.get());
    }
}

struct Variant {
    const char* name;
    StreamKind kind;
    Threading threading;
    int threads;
};

const Variant kVariants[] = {
    {"1slice/slice_threads", kOneSlice, Threading::kSlices, kThreads},
    {"1slice/frame_threads", kOneSlice, Threading::kFrames, kThreads},
    {"1slice/one_thread", kOneSlice, Threading::kSlices, 1},
    {"4slices/slice_threads", kFourSlices, Threading::kSlices, kThreads},
    {"4slices/frame_threads", kFourSlices, Threading::kFrames, kThreads},
    {"4slices/one_thread", kFourSlices, Threading::kSlices, 1},
    {"422_swscale/slice_threads", kChroma422, Threading::kSlices, kThreads},
};

const bool s_registered = [] {
    for (const Variant& v : kVariants) {
        benchmark::RegisterBenchmark((std::string("Bare/") + v.name).c_str(), BareDecode, v.kind, v.threading,
                                     v.threads)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("Decoder/") + v.name).c_str(), DecoderThread, v.kind, v.threading,
                                     v.threads)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    for (const Variant& v : kVariants) {
        benchmark::RegisterBenchmark((std::string("Latency/") + v.name).c_str(), Latency, v.kind, v.threading,
                                     v.threads)
            ->Iterations(2)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("Convert/NV12", Convert, AV_PIX_FMT_NV12)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Copy/NV12", CopyBaseline, AV_PIX_FMT_NV12)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Convert/YUV422P", Convert, AV_PIX_FMT_YUV422P)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Copy/YUV422P", CopyBaseline, AV_PIX_FMT_YUV422P)->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
