// PCM fixtures for the audio cache tests: interleaved 16-bit blocks held in
// vectors of the exact size, so that reading past a block is an ASan error.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace pcm_fixtures {

// A sine of frequency hz at amplitude (of 32767) on every channel.
inline std::vector<int16_t> Sine(int rate, int channels, int samples, double hz, double amplitude,
                                 int64_t firstSample = 0) {
    std::vector<int16_t> pcm(static_cast<size_t>(samples) * channels);
    for (int i = 0; i < samples; ++i) {
        const double t = static_cast<double>(firstSample + i) / rate;
        const auto value = static_cast<int16_t>(std::lround(amplitude * 32767.0 * std::sin(2.0 * M_PI * hz * t)));
        for (int c = 0; c < channels; ++c) pcm[static_cast<size_t>(i) * channels + c] = value;
    }
    return pcm;
}

// Sample i of channel c is (first + i) * (c + 1), wrapped to 16 bits: every
// position is recognisable after a pass-through conversion.
inline int16_t RampValue(int64_t index, int channel) {
    return static_cast<int16_t>(static_cast<uint16_t>((index * (channel + 1)) & 0xffff));
}

inline std::vector<int16_t> Ramp(int channels, int samples, int64_t first = 0) {
    std::vector<int16_t> pcm(static_cast<size_t>(samples) * channels);
    for (int i = 0; i < samples; ++i) {
        for (int c = 0; c < channels; ++c) pcm[static_cast<size_t>(i) * channels + c] = RampValue(first + i, c);
    }
    return pcm;
}

inline const uint8_t* Bytes(const std::vector<int16_t>& pcm) { return reinterpret_cast<const uint8_t*>(pcm.data()); }

}  // namespace pcm_fixtures
