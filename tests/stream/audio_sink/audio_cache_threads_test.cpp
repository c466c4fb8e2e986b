// Two producers (the two hubs, a P2P thread) against one consumer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "audio_sink/stream_audio_sink_cache.h"
#include "audio_sink/stream_audio_sink_cache_impl.h"
#include "pcm_fixtures.h"

using namespace pcm_fixtures;

TEST(StreamAudioSinkCacheThreads, TwoWritersOneReaderLoseNoSampleAndMixNone) {
    // Pass-through format, so every sample read must be one a writer wrote;
    // 10 s hold all that is written, so nothing may be lost either.
    StreamAudioSinkCacheImpl cache(48000, 1, 10000, StreamAudioSinkCache::kSampleTypeS16);
    constexpr int kBlocks = 300;
    constexpr int kBlock = 480;
    std::atomic<int> writersLeft{2};
    auto writer = [&](int16_t value) {
        const std::vector<int16_t> pcm(kBlock, value);
        for (int i = 0; i < kBlocks; ++i) cache.OnAudio(Bytes(pcm), kBlock, 48000, 1);
        writersLeft.fetch_sub(1);
    };
    int64_t read = 0;
    bool foreign = false;
    std::thread a(writer, int16_t{1111});
    std::thread b(writer, int16_t{-2222});
    std::vector<int16_t> buffer(960);
    for (;;) {
        const bool last = writersLeft.load() == 0;
        const int got = cache.Read(reinterpret_cast<uint8_t*>(buffer.data()), 1920);
        for (int i = 0; i < got; ++i) foreign = foreign || (buffer[i] != 1111 && buffer[i] != -2222);
        read += got;
        if (last && got == 0) break;
        if (got == 0) std::this_thread::yield();
    }
    a.join();
    b.join();
    EXPECT_FALSE(foreign);
    EXPECT_EQ(read, 2 * kBlocks * kBlock);
}

TEST(StreamAudioSinkCacheThreads, WritersInDifferentFormatsShareTheResamplerSafely) {
    // Every block forces a rebuild; unguarded this frees a resampler that the
    // other thread is converting with (ASan).
    StreamAudioSinkCacheImpl cache(48000, 1, 500, StreamAudioSinkCache::kSampleTypeS16);
    auto writer = [&](int rate, int channels) {
        const auto pcm = Sine(rate, channels, rate / 25, 440.0, 0.5);
        for (int i = 0; i < 150; ++i) cache.OnAudio(Bytes(pcm), rate / 25, rate, channels);
    };
    std::thread a(writer, 48000, 1);
    std::thread b(writer, 44100, 2);
    std::vector<int16_t> buffer(1920);
    int peak = 0;
    for (int i = 0; i < 200; ++i) {
        const int got = cache.Read(reinterpret_cast<uint8_t*>(buffer.data()), 3840);
        for (int k = 0; k < got; ++k) peak = std::max(peak, std::abs(static_cast<int>(buffer[k])));
    }
    a.join();
    b.join();
    EXPECT_LE(cache.QueuedSamples(), cache.capacity());
    EXPECT_GT(cache.resamplerBuilds(), 1);
    EXPECT_GT(peak + cache.QueuedSamples(), 0);
}
