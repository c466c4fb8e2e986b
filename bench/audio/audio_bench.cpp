// The audio path's costs: one 40 ms block written to and read from each
// cache against a memcpy of the same bytes, and the virtual microphone's
// steady-state latency from the phone's write to the bytes in the FIFO
// (needs a PulseAudio server: source scripts/start-audio.sh).
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "audio_sink/stream_audio_sink_cache.h"
#include "devices/audio/virtaul_audio_device_manager.h"

namespace {

constexpr int kBlock = 1920;  // 40 ms at 48,000 Hz

void BM_Memcpy40ms(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
// The microphone's 16-bit mono block and the recorder's float stereo block.
BENCHMARK(BM_Memcpy40ms)->Arg(kBlock * 2)->Arg(kBlock * 2 * 4);

// args: cache channels, cache type, phone channels.
void BM_CacheWriteRead40ms(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const int type = static_cast<int>(state.range(1));
    const int phoneChannels = static_cast<int>(state.range(2));
    const auto cache = StreamAudioSinkCache::Create(48000, channels, channels == 1 ? 500 : 200, type);
    std::vector<int16_t> pcm(static_cast<size_t>(kBlock) * phoneChannels);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(i * 13);
    const int readBytes = kBlock * channels * (type == 1 ? 4 : 2);
    std::vector<uint8_t> out(static_cast<size_t>(readBytes));
    for (auto _ : state) {
        cache->OnAudio(reinterpret_cast<const uint8_t*>(pcm.data()), kBlock, 48000, phoneChannels);
        benchmark::DoNotOptimize(cache->Read(out.data(), readBytes));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * readBytes);
}
BENCHMARK(BM_CacheWriteRead40ms)
    ->ArgNames({"ch", "float", "phone_ch"})
    ->Args({1, 0, 1})   // virtual microphone, phone mono
    ->Args({1, 0, 2})   // virtual microphone, phone stereo (down-mix)
    ->Args({2, 1, 2});  // recorder

// Block k carries the value k + 1 in every sample (48,000 Hz mono passes the
// cache unchanged), so the reader knows which write it is looking at.
void BM_MicLatency(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string link = dir.filePath("ZuAudioDeviceLink").toStdString();
    if (::mkfifo(link.c_str(), 0600) != 0) {
        state.SkipWithError("mkfifo failed");
        return;
    }
    const int reader = ::open(link.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const auto cache = StreamAudioSinkCache::Create(48000, 1, 500, 0);
    VirtaulAudioDeviceManager::Options options;
    options.cache = cache.get();
    options.linkPath = link;
    options.levelReport = [](int) {};
    auto manager = VirtaulAudioDeviceManager::Create(std::move(options));
    if (!manager) {
        ::close(reader);
        state.SkipWithError("no output stream (is a PulseAudio server running?)");
        return;
    }
    using Clock = std::chrono::steady_clock;
    constexpr int kBlocks = 150;  // 6 s
    std::vector<Clock::time_point> written(kBlocks + 1);
    std::atomic<int> writtenCount{0};
    std::vector<double> latencies;
    for (auto _ : state) {
        std::thread phone([&] {
            std::vector<int16_t> block(kBlock);
            auto next = Clock::now();
            for (int k = 0; k < kBlocks; ++k) {
                std::fill(block.begin(), block.end(), static_cast<int16_t>(k + 1));
                written[static_cast<size_t>(k) + 1] = Clock::now();
                writtenCount.store(k + 1, std::memory_order_release);
                cache->OnAudio(reinterpret_cast<const uint8_t*>(block.data()), kBlock, 48000, 1);
                next += std::chrono::milliseconds(40);
                std::this_thread::sleep_until(next);
            }
        });
        int seen = 0;
        const auto end = Clock::now() + std::chrono::milliseconds(40 * kBlocks + 500);
        std::vector<int16_t> chunk(kBlock);
        while (Clock::now() < end) {
            pollfd p{reader, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t got = ::read(reader, chunk.data(), chunk.size() * 2);
            const auto now = Clock::now();
            for (ssize_t i = 0; i < got / 2; ++i) {
                const int id = chunk[static_cast<size_t>(i)];
                if (id > seen && id <= writtenCount.load(std::memory_order_acquire)) {
                    // Blocks skipped by the backlog bound never arrive.
                    seen = id;
                    if (id > 25) latencies.push_back(std::chrono::duration<double, std::milli>(now - written[id]).count());
                }
            }
        }
        phone.join();
    }
    manager.reset();
    ::close(reader);
    if (latencies.empty()) {
        state.SkipWithError("no block reached the FIFO");
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["p50_ms"] = latencies[latencies.size() / 2];
    state.counters["p99_ms"] = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    state.counters["blocks"] = static_cast<double>(latencies.size());
}
BENCHMARK(BM_MicLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
