#include "support/phone/pcm_generator.h"

#include <algorithm>
#include <cmath>

namespace zucam::phone {

namespace {
constexpr double kPi = 3.14159265358979323846;
}  // namespace

PcmGenerator::PcmGenerator(const PcmSettings& settings) : settings_(settings) {}

int16_t PcmGenerator::SampleAt(const PcmSettings& settings, int64_t sampleIndex, int channel) {
    switch (settings.waveform) {
    case Waveform::Sine: {
        const double frequency = settings.frequencyHz * (channel + 1);
        // The phase is reduced per whole cycle so long runs keep their precision.
        const double cycles = std::fmod(frequency * static_cast<double>(sampleIndex) / settings.sampleRate, 1.0);
        const long value = std::lround(settings.amplitude * std::sin(2.0 * kPi * cycles));
        return static_cast<int16_t>(std::clamp(value, -32768L, 32767L));
    }
    case Waveform::Ramp: {
        const uint64_t bits = static_cast<uint64_t>(sampleIndex) * kRampStep +
                              static_cast<uint64_t>(channel) * kRampChannelOffset;
        return static_cast<int16_t>(static_cast<uint16_t>(bits & 0xffffu));
    }
    }
    return 0;
}

std::vector<int16_t> PcmGenerator::nextBlock(int samplesPerChannel) {
    std::vector<int16_t> block;
    if (samplesPerChannel <= 0 || settings_.channels <= 0) return block;
    block.reserve(static_cast<std::size_t>(samplesPerChannel) * static_cast<std::size_t>(settings_.channels));
    for (int i = 0; i < samplesPerChannel; ++i)
        for (int channel = 0; channel < settings_.channels; ++channel)
            block.push_back(SampleAt(settings_, position_ + i, channel));
    position_ += samplesPerChannel;
    return block;
}

int PcmGenerator::samplesFor(std::chrono::milliseconds duration) const {
    return static_cast<int>(static_cast<int64_t>(settings_.sampleRate) * duration.count() / 1000);
}

}  // namespace zucam::phone
