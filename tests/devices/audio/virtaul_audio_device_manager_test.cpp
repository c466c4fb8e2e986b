// The virtual microphone driven by hand (no output stream): what reaches the
// device link and the speakers, the level, the backlog bound, and Create's
// clean failures.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstring>
#include <vector>

#include "audio_sink/stream_audio_sink_cache.h"
#include "devices/audio/virtaul_audio_device_manager.h"
#include "devices/audio/virtual_mic_audio_cache.h"
#include "fifo_reader.h"

namespace {

constexpr unsigned kPeriod = VirtaulAudioDeviceManager::kPeriodFrames;

std::vector<int16_t> Ramp(int samples, int first) {
    std::vector<int16_t> pcm(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i) pcm[static_cast<size_t>(i)] = static_cast<int16_t>((first + i) * 3 - 20000);
    return pcm;
}

void Feed(StreamAudioSinkCache& cache, const std::vector<int16_t>& pcm) {
    cache.OnAudio(reinterpret_cast<const uint8_t*>(pcm.data()), static_cast<int>(pcm.size()), 48000, 1);
}

std::vector<int16_t> AsSamples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

class VirtaulAudioDeviceManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        cache_ = StreamAudioSinkCache::Create(48000, 1, 500, 0);
        ASSERT_TRUE(fifo_.made());
        ASSERT_TRUE(fifo_.OpenReader());
    }

    std::shared_ptr<VirtaulAudioDeviceManager> Make(bool playThrough) {
        VirtaulAudioDeviceManager::Options options;
        options.cache = cache_.get();
        options.linkPath = fifo_.path();
        options.playThrough = playThrough;
        options.runStream = false;
        options.levelReport = [this](int level) { reported_.push_back(level); };
        options.reportIntervalMs = 5;
        return VirtaulAudioDeviceManager::Create(std::move(options));
    }

    std::unique_ptr<StreamAudioSinkCache> cache_;
    FifoReader fifo_;
    std::vector<int> reported_;
};

}  // namespace

TEST(VirtaulAudioDeviceManagerLevel, FollowsThePeakInDecibels) {
    struct Case {
        int peak, level;
    };
    // 33 is about -60 dB, 328 -40 dB, 3277 -20 dB.
    const Case cases[] = {{0, 0},    {1, 0},    {33, 0},      {328, 3},     {3277, 6},
                          {16384, 8}, {32767, 10}, {-32768, 10}, {-3277, 6}};
    for (const Case& c : cases) EXPECT_EQ(VirtaulAudioDeviceManager::LevelOfPeak(c.peak), c.level) << c.peak;
    std::vector<int16_t> block(kPeriod, 10);
    block[777] = -32768;
    EXPECT_EQ(VirtaulAudioDeviceManager::LevelOf(block.data(), kPeriod), 10);
    EXPECT_EQ(VirtaulAudioDeviceManager::LevelOf(block.data(), 0), 0);
}

TEST_F(VirtaulAudioDeviceManagerTest, WritesExactPeriodsToTheLinkAndSilencesTheSpeakersUnlessPlayThrough) {
    for (const bool playThrough : {false, true}) {
        const auto manager = Make(playThrough);
        ASSERT_NE(manager, nullptr);
        const auto pcm = Ramp(2 * kPeriod, 0);
        Feed(*cache_, pcm);
        std::vector<int16_t> speakers(kPeriod, 1234);
        for (unsigned period = 0; period < 2; ++period) {
            ASSERT_EQ(manager->OnAudioCallback(speakers.data(), kPeriod), 0);
            const std::vector<int16_t> link = AsSamples(fifo_.ReadExactly(2 * kPeriod, 2000));
            const std::vector<int16_t> expected(pcm.begin() + period * kPeriod, pcm.begin() + (period + 1) * kPeriod);
            ASSERT_EQ(link, expected) << "period " << period;
            if (playThrough) {
                EXPECT_EQ(speakers, expected);
            } else {
                EXPECT_TRUE(std::all_of(speakers.begin(), speakers.end(), [](int16_t s) { return s == 0; }));
            }
        }
        // An empty cache gives a period of silence on the link and level 0.
        std::fill(speakers.begin(), speakers.end(), int16_t{99});
        manager->OnAudioCallback(speakers.data(), kPeriod);
        const std::vector<int16_t> silence = AsSamples(fifo_.ReadExactly(2 * kPeriod, 2000));
        EXPECT_EQ(silence, std::vector<int16_t>(kPeriod, 0));
        EXPECT_EQ(speakers, std::vector<int16_t>(kPeriod, 0));
        EXPECT_EQ(manager->lastLevel(), 0);
    }
}

TEST_F(VirtaulAudioDeviceManagerTest, ReportsTheLevelOfEachPeriodOnTheOwnersThread) {
    const auto manager = Make(false);
    ASSERT_NE(manager, nullptr);
    struct Case {
        int16_t peak;
        int level;
    };
    const Case cases[] = {{0, 0}, {328, 3}, {32767, 10}};
    std::vector<int16_t> speakers(kPeriod);
    for (const Case& c : cases) {
        std::vector<int16_t> block(kPeriod, 0);
        block[100] = c.peak;
        Feed(*cache_, block);
        reported_.clear();
        manager->OnAudioCallback(speakers.data(), kPeriod);
        fifo_.ReadAvailable();
        EXPECT_EQ(manager->lastLevel(), c.level) << c.peak;
        QElapsedTimer waited;
        waited.start();
        while (reported_.empty() && waited.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_EQ(reported_.size(), 1u) << c.peak;
        EXPECT_EQ(reported_.front(), c.level) << c.peak;
    }
}

TEST_F(VirtaulAudioDeviceManagerTest, KeepsTheBacklogNearOnePeriod) {
    const auto manager = Make(false);
    ASSERT_NE(manager, nullptr);
    // 400 ms queued, as after a stall: the next read skips to the newest.
    const auto pcm = Ramp(10 * kPeriod, 0);
    Feed(*cache_, pcm);
    std::vector<int16_t> speakers(kPeriod);
    manager->OnAudioCallback(speakers.data(), kPeriod);
    const std::vector<int16_t> link = AsSamples(fifo_.ReadExactly(2 * kPeriod, 2000));
    const std::vector<int16_t> expected(pcm.begin() + 8 * kPeriod, pcm.begin() + 9 * kPeriod);
    EXPECT_EQ(link, expected);
    EXPECT_EQ(cache_->QueuedSamples(), static_cast<int>(kPeriod));
    EXPECT_EQ(manager->droppedSamples(), 8u * kPeriod);
    // Up to three periods are a normal backlog and are not touched.
    Feed(*cache_, Ramp(2 * kPeriod, 0));
    manager->OnAudioCallback(speakers.data(), kPeriod);
    EXPECT_EQ(cache_->QueuedSamples(), static_cast<int>(2 * kPeriod));
    EXPECT_EQ(manager->droppedSamples(), 8u * kPeriod);
}

TEST_F(VirtaulAudioDeviceManagerTest, AFullPipeDropsThePeriodAndCountsItPending) {
    const auto manager = Make(false);
    ASSERT_NE(manager, nullptr);
    std::vector<int16_t> speakers(kPeriod);
    for (int i = 0; i < 1000 && manager->pendingWrites() == 0; ++i) manager->OnAudioCallback(speakers.data(), kPeriod);
    EXPECT_GT(manager->pendingWrites(), 0u);
    EXPECT_EQ(fifo_.ReadAvailable().size() % (2 * kPeriod), 0u);
}

TEST(VirtaulAudioDeviceManagerCreate, FailsCleanlyWithoutADriver) {
    FifoReader fifo;
    ASSERT_TRUE(fifo.made());
    const auto cache = StreamAudioSinkCache::Create(48000, 1, 500, 0);
    VirtaulAudioDeviceManager::Options options;
    options.cache = cache.get();
    options.runStream = false;

    options.linkPath = fifo.path();  // a FIFO nobody reads
    EXPECT_EQ(VirtaulAudioDeviceManager::Create(options), nullptr);
    options.linkPath = fifo.path() + ".missing";
    EXPECT_EQ(VirtaulAudioDeviceManager::Create(options), nullptr);

    // A cache in another format would be read wrongly.
    const auto stereo = StreamAudioSinkCache::Create(48000, 2, 500, 0);
    ASSERT_TRUE(fifo.OpenReader());
    options.linkPath = fifo.path();
    options.cache = stereo.get();
    EXPECT_EQ(VirtaulAudioDeviceManager::Create(options), nullptr);
    options.cache = cache.get();
    EXPECT_NE(VirtaulAudioDeviceManager::Create(options), nullptr);
}

TEST(VirtualMicAudioCache, IsTheProcessWideMonoCache) {
    StreamAudioSinkCache* const cache = GetVirtualMicAudioCache();
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache, GetVirtualMicAudioCache());
    EXPECT_EQ(cache->GetSampleRate(), 48000);
    EXPECT_EQ(cache->GetChannels(), 1);
    EXPECT_EQ(cache->GetSampleType(), 0);
}
