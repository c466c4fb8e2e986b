// Wire form of the packets on the video and audio connections, every integer
// a u32 big-endian: type, expand length E in bytes, E/4 expand words,
// payload length P, P payload bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zucam::phone {

class MediaPacket {
public:
    static constexpr uint32_t kKey = 0;
    static constexpr uint32_t kVideo = 1;
    static constexpr uint32_t kAudio = 2;

    static std::string encode(uint32_t type, const std::vector<uint32_t>& expandWords,
                              std::string_view payload);
    // type 0, no expand words, payload the key text.
    static std::string key(std::string_view keyText);
    // type 1, words {1, key-frame flag}, payload one Annex-B access unit.
    static std::string video(std::string_view accessUnit, bool keyFrame);
    // type 2, words {2, rate, channels, 16}, payload interleaved s16le PCM.
    static std::string audio(const std::vector<int16_t>& interleaved, uint32_t sampleRate,
                             uint32_t channels);
    static std::string pcmLittleEndian(const std::vector<int16_t>& samples);
    static void appendU32(std::string& out, uint32_t value);
};

}  // namespace zucam::phone
