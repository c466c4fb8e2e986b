// The audio sink cache: exact pass-through, newest-wins bounding, Read's
// partial fill, resampler rebuilds on format changes, refused input and the
// callback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio_sink/stream_audio_sink_cache.h"
#include "audio_sink/stream_audio_sink_cache_impl.h"
#include "pcm_fixtures.h"

using namespace pcm_fixtures;

namespace {

std::unique_ptr<StreamAudioSinkCacheImpl> MicCache() {
    return std::make_unique<StreamAudioSinkCacheImpl>(48000, 1, 500, StreamAudioSinkCache::kSampleTypeS16);
}

std::vector<int16_t> ReadAll(StreamAudioSinkCache& cache) {
    std::vector<int16_t> out(static_cast<size_t>(cache.QueuedSamples()) * cache.GetChannels());
    const int got = cache.Read(reinterpret_cast<uint8_t*>(out.data()), static_cast<int>(out.size() * 2));
    out.resize(static_cast<size_t>(got) * cache.GetChannels());
    return out;
}

class CountingCallback : public StreamAudioSinkCache::Callback {
public:
    void OnAudioSamples(int samples) override { calls.push_back(samples); }
    std::vector<int> calls;
};

}  // namespace

TEST(StreamAudioSinkCacheCreate, RefusesFormatsOutOfRangeAndKeepsTheTwoThatTheSystemUses) {
    struct Case {
        int rate, channels, ms, type;
        bool made;
    };
    const Case cases[] = {
        {48000, 1, 500, 0, true},  {48000, 2, 200, 1, true},  {0, 1, 500, 0, false},     {-48000, 1, 500, 0, false},
        {48000, 0, 500, 0, false}, {48000, 9, 500, 0, false}, {48000, 1, 0, 0, false},   {48000, 1, -5, 0, false},
        {400000, 1, 500, 0, false}, {48000, 1, 20000, 0, false},
    };
    for (const Case& c : cases) {
        const auto cache = StreamAudioSinkCache::Create(c.rate, c.channels, c.ms, c.type);
        EXPECT_EQ(cache != nullptr, c.made) << c.rate << " Hz " << c.channels << " ch " << c.ms << " ms";
    }
    const auto mic = StreamAudioSinkCache::Create(48000, 1, 500, 0);
    EXPECT_EQ(mic->GetSampleType(), 0);
    EXPECT_EQ(static_cast<StreamAudioSinkCacheImpl&>(*mic).capacity(), 24000);
    const auto recorder = StreamAudioSinkCache::Create(48000, 2, 200, 1);
    EXPECT_EQ(recorder->GetSampleType(), 1);
    EXPECT_EQ(recorder->GetChannels(), 2);
    EXPECT_EQ(static_cast<StreamAudioSinkCacheImpl&>(*recorder).capacity(), 9600);
    // Any type but 1 means 16-bit.
    EXPECT_EQ(StreamAudioSinkCache::Create(48000, 1, 500, 7)->GetSampleType(), 0);
}

TEST(StreamAudioSinkCache, SameFormatPassesThroughExactlyInOrder) {
    const auto cache = MicCache();
    for (int block = 0; block < 5; ++block) {
        const auto pcm = Ramp(1, 1920, block * 1920);
        cache->OnAudio(Bytes(pcm), 1920, 48000, 1);
    }
    const std::vector<int16_t> out = ReadAll(*cache);
    ASSERT_EQ(out.size(), 5u * 1920);
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], RampValue(static_cast<int64_t>(i), 0)) << i;
}

TEST(StreamAudioSinkCache, OneSecondKeepsOnlyTheNewestHalfSecond) {
    // In 40 ms blocks, and as one block longer than the whole cache.
    for (const int blockSamples : {1920, 48000}) {
        const auto cache = MicCache();
        for (int first = 0; first < 48000; first += blockSamples) {
            const auto pcm = Ramp(1, blockSamples, first);
            cache->OnAudio(Bytes(pcm), blockSamples, 48000, 1);
        }
        ASSERT_EQ(cache->QueuedSamples(), 24000);
        const std::vector<int16_t> out = ReadAll(*cache);
        ASSERT_EQ(out.size(), 24000u);
        EXPECT_EQ(out.front(), RampValue(24000, 0)) << blockSamples;
        EXPECT_EQ(out.back(), RampValue(47999, 0)) << blockSamples;
    }
}

TEST(StreamAudioSinkCache, ReadFillsWhatIsQueuedAndLeavesTheRestOfTheBuffer) {
    const auto cache = MicCache();
    const auto pcm = Ramp(1, 100, 1);
    cache->OnAudio(Bytes(pcm), 100, 48000, 1);
    std::vector<uint8_t> buffer(1920, 0x5a);
    EXPECT_EQ(cache->Read(buffer.data(), 1920), 100);
    EXPECT_EQ(std::memcmp(buffer.data(), pcm.data(), 200), 0);
    EXPECT_TRUE(std::all_of(buffer.begin() + 200, buffer.end(), [](uint8_t b) { return b == 0x5a; }));
    EXPECT_EQ(cache->QueuedSamples(), 0);
    EXPECT_EQ(cache->Read(buffer.data(), 1920), 0);
    // Fewer bytes than one sample frame ask for nothing.
    cache->OnAudio(Bytes(pcm), 100, 48000, 1);
    EXPECT_EQ(cache->Read(buffer.data(), 1), 0);
    EXPECT_EQ(cache->QueuedSamples(), 100);
}

TEST(StreamAudioSinkCache, RecorderCacheGivesPlanarFloatPerChannel) {
    const auto cache = StreamAudioSinkCache::Create(48000, 2, 200, StreamAudioSinkCache::kSampleTypeFloat);
    std::vector<int16_t> pcm(2 * 960);
    for (int i = 0; i < 960; ++i) {
        pcm[2 * i] = 16384;       // left: +0.5
        pcm[2 * i + 1] = -8192;   // right: -0.25
    }
    cache->OnAudio(Bytes(pcm), 960, 48000, 2);
    ASSERT_EQ(cache->QueuedSamples(), 960);
    std::vector<float> planes(2 * 960, 9.0f);
    ASSERT_EQ(cache->Read(reinterpret_cast<uint8_t*>(planes.data()), static_cast<int>(planes.size() * 4)), 960);
    for (int i = 0; i < 960; ++i) {
        ASSERT_FLOAT_EQ(planes[i], 0.5f) << i;
        ASSERT_FLOAT_EQ(planes[960 + i], -0.25f) << i;
    }
}

TEST(StreamAudioSinkCache, FormatChangesRebuildTheResamplerAndKeepTheAudioRight) {
    // Each step: the phone's format, whether the resampler must be rebuilt.
    // A stale resampler made for stereo reads twice the mono block (ASan),
    // and one made for 44,100 Hz gets the count wrong.
    struct Step {
        int rate, channels;
        bool rebuilt;
    };
    const Step steps[] = {{48000, 1, true},  {48000, 1, false}, {44100, 2, true}, {44100, 2, false},
                          {48000, 1, true},  {16000, 1, true},  {48000, 2, true}, {48000, 1, true}};
    const auto cache = MicCache();
    int builds = 0;
    for (const Step& step : steps) {
        cache->Read(nullptr, 0);
        std::vector<int16_t> drain(24000);
        cache->Read(reinterpret_cast<uint8_t*>(drain.data()), 48000);
        // 100 ms of a 500 Hz sine at half scale.
        const int samples = step.rate / 10;
        const auto pcm = Sine(step.rate, step.channels, samples, 500.0, 0.5);
        cache->OnAudio(Bytes(pcm), samples, step.rate, step.channels);
        if (step.rebuilt) ++builds;
        EXPECT_EQ(cache->resamplerBuilds(), builds) << step.rate << "/" << step.channels;
        // 4,800 samples at 48,000 Hz, less what a fresh resampler holds back.
        const std::vector<int16_t> out = ReadAll(*cache);
        EXPECT_GE(out.size(), step.rate == 48000 ? 4800u : 4600u) << step.rate << "/" << step.channels;
        EXPECT_LE(out.size(), 4800u + 64u) << step.rate << "/" << step.channels;
        // Still a half-scale sine: the peak stays near 16,384 (down-mixing
        // two equal channels keeps the level within a few dB).
        int peak = 0;
        for (const int16_t s : out) peak = std::max(peak, std::abs(static_cast<int>(s)));
        EXPECT_GT(peak, 9000) << step.rate << "/" << step.channels;
        EXPECT_LT(peak, 24000) << step.rate << "/" << step.channels;
    }
}

TEST(StreamAudioSinkCache, RefusesNonsenseFromThePhoneAndWorksAfterwards) {
    struct Case {
        int samples, rate, channels;
        bool nullPcm;
    };
    const Case cases[] = {
        {960, 0, 1, false},       {960, -48000, 1, false}, {960, 2000000000, 1, false}, {960, 48000, 0, false},
        {960, 48000, -2, false},  {960, 48000, 64, false}, {-1, 48000, 1, false},       {960, 48000, 1, true},
        {2000000000, 48000, 1, false}, {960, 999, 1, false},
    };
    const auto cache = MicCache();
    const auto pcm = Ramp(8, 960);
    for (const Case& c : cases) {
        cache->OnAudio(c.nullPcm ? nullptr : Bytes(pcm), c.samples, c.rate, c.channels);
        EXPECT_EQ(cache->QueuedSamples(), 0) << c.samples << " " << c.rate << " " << c.channels;
    }
    const auto good = Ramp(1, 960);
    cache->OnAudio(Bytes(good), 960, 48000, 1);
    EXPECT_EQ(cache->QueuedSamples(), 960);
}

TEST(StreamAudioSinkCache, CallbackHearsEveryBlockAlsoEmptyOnesAndMayRead) {
    const auto cache = MicCache();
    // The recorder reads from inside its callback.
    class ReadingCallback : public StreamAudioSinkCache::Callback {
    public:
        explicit ReadingCallback(StreamAudioSinkCache* c) : cache(c) {}
        void OnAudioSamples(int samples) override {
            calls.push_back(samples);
            std::vector<int16_t> buffer(static_cast<size_t>(std::max(samples, 1)));
            read += cache->Read(reinterpret_cast<uint8_t*>(buffer.data()), static_cast<int>(buffer.size() * 2));
        }
        StreamAudioSinkCache* cache;
        std::vector<int> calls;
        int read = 0;
    } callback(cache.get());
    cache->SetCallback(&callback);
    const auto pcm = Ramp(1, 480);
    cache->OnAudio(Bytes(pcm), 480, 48000, 1);
    cache->OnAudio(nullptr, 0, 48000, 1);
    cache->OnAudio(Bytes(pcm), 0, 48000, 1);
    cache->OnAudio(Bytes(pcm), 480, 48000, 1);
    EXPECT_EQ(callback.calls, (std::vector<int>{480, 0, 0, 480}));
    EXPECT_EQ(callback.read, 960);
    EXPECT_EQ(cache->QueuedSamples(), 0);

    cache->ClearCallback();
    cache->OnAudio(Bytes(pcm), 480, 48000, 1);
    EXPECT_EQ(callback.calls.size(), 4u);
    EXPECT_EQ(cache->QueuedSamples(), 480);
}

TEST(StreamAudioSinkCache, DropOldestKeepsTheNewestWhenOverTheLimit) {
    const auto cache = MicCache();
    const auto pcm = Ramp(1, 10000);
    cache->OnAudio(Bytes(pcm), 10000, 48000, 1);
    EXPECT_EQ(cache->DropOldest(10000, 100), 0);  // not over the limit
    EXPECT_EQ(cache->DropOldest(5760, 3840), 10000 - 3840);
    const std::vector<int16_t> out = ReadAll(*cache);
    ASSERT_EQ(out.size(), 3840u);
    EXPECT_EQ(out.front(), RampValue(10000 - 3840, 0));
}
