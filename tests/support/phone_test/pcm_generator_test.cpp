// PCM blocks: seamless across block boundaries, interleaved in channel order,
// and the waveform the settings describe.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/phone/pcm_generator.h"

namespace zucam::phone {
namespace {

using namespace std::chrono_literals;

TEST(PhoneStandInPcm, BlocksJoinWithoutASeamAndMatchSampleAt) {
    for (const Waveform waveform : {Waveform::Sine, Waveform::Ramp}) {
        for (const int channels : {1, 2, 6}) {
            PcmSettings settings;
            settings.waveform = waveform;
            settings.channels = channels;
            settings.sampleRate = 44100;
            PcmGenerator pieces(settings);
            std::vector<int16_t> joined;
            for (const int size : {1, 7, 1764, 3}) {
                const std::vector<int16_t> block = pieces.nextBlock(size);
                ASSERT_EQ(block.size(), static_cast<std::size_t>(size * channels));
                joined.insert(joined.end(), block.begin(), block.end());
            }
            EXPECT_EQ(pieces.position(), 1775);
            EXPECT_EQ(PcmGenerator(settings).nextBlock(1775), joined) << channels << " channels";
            for (std::size_t i = 0; i < joined.size(); ++i) {
                const auto frame = static_cast<int64_t>(i / static_cast<std::size_t>(channels));
                const int channel = static_cast<int>(i % static_cast<std::size_t>(channels));
                ASSERT_EQ(joined[i], PcmGenerator::SampleAt(settings, frame, channel)) << i;
            }
        }
    }
}

TEST(PhoneStandInPcm, SineChannelsPlayMultiplesOfTheBaseFrequency) {
    PcmSettings settings;
    settings.frequencyHz = 1000.0;
    settings.amplitude = 12000;
    const std::vector<int16_t> block = PcmGenerator(settings).nextBlock(480);
    for (int k = 0; k < 480; ++k) {
        for (int channel = 0; channel < 2; ++channel) {
            const double expected = 12000 * std::sin(2 * 3.141592653589793 * 1000.0 * (channel + 1) * k / 48000);
            ASSERT_NEAR(block[static_cast<std::size_t>(2 * k + channel)], expected, 1.0) << k << "/" << channel;
        }
    }
}

TEST(PhoneStandInPcm, RampStepsAndWrapsPerChannel) {
    PcmSettings settings;
    settings.waveform = Waveform::Ramp;
    const std::vector<int16_t> block = PcmGenerator(settings).nextBlock(2000);  // wraps after 1024
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[1], PcmGenerator::kRampChannelOffset);
    for (std::size_t i = 2; i < block.size(); ++i) {
        const auto step = static_cast<uint16_t>(static_cast<uint16_t>(block[i]) - static_cast<uint16_t>(block[i - 2]));
        ASSERT_EQ(step, PcmGenerator::kRampStep) << i;
    }
}

TEST(PhoneStandInPcm, SamplesForADuration) {
    EXPECT_EQ(PcmGenerator(PcmSettings{48000, 2, Waveform::Sine, 440.0, 8000}).samplesFor(40ms), 1920);
    EXPECT_EQ(PcmGenerator(PcmSettings{44100, 1, Waveform::Sine, 440.0, 8000}).samplesFor(40ms), 1764);
    EXPECT_TRUE(PcmGenerator().nextBlock(0).empty());
}

}  // namespace
}  // namespace zucam::phone
