// Deterministic interleaved signed 16-bit PCM for the audio connection. Each
// channel differs (sine: channel c plays (c+1) times the base frequency;
// ramp: channel c starts c*kRampChannelOffset higher) so a swapped or
// dropped channel shows. Blocks follow on without a seam: two blocks of N
// equal one block of 2N.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace zucam::phone {

enum class Waveform { Sine, Ramp };

struct PcmSettings {
    int sampleRate = 48000;
    int channels = 2;
    Waveform waveform = Waveform::Sine;
    double frequencyHz = 440.0;  // sine only
    int amplitude = 8000;        // sine only, peak value
};

class PcmGenerator {
public:
    static constexpr int kRampStep = 64;             // per sample, wrapping in int16
    static constexpr int kRampChannelOffset = 8192;

    explicit PcmGenerator(const PcmSettings& settings = {});

    // samplesPerChannel frames, channels interleaved.
    std::vector<int16_t> nextBlock(int samplesPerChannel);
    // Samples per channel in duration at this rate (40 ms at 48 kHz: 1920).
    int samplesFor(std::chrono::milliseconds duration) const;

    const PcmSettings& settings() const { return settings_; }
    int64_t position() const { return position_; }  // samples per channel so far

    // Sample sampleIndex of channel, as nextBlock produces it.
    static int16_t SampleAt(const PcmSettings& settings, int64_t sampleIndex, int channel);

private:
    const PcmSettings settings_;
    int64_t position_ = 0;
};

}  // namespace zucam::phone
