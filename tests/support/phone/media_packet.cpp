#include "support/phone/media_packet.h"

namespace zucam::phone {

void MediaPacket::appendU32(std::string& out, uint32_t value) {
    out.push_back(static_cast<char>((value >> 24) & 0xffu));
    out.push_back(static_cast<char>((value >> 16) & 0xffu));
    out.push_back(static_cast<char>((value >> 8) & 0xffu));
    out.push_back(static_cast<char>(value & 0xffu));
}

std::string MediaPacket::encode(uint32_t type, const std::vector<uint32_t>& expandWords, std::string_view payload) {
    std::string packet;
    packet.reserve(12 + 4 * expandWords.size() + payload.size());
    appendU32(packet, type);
    appendU32(packet, static_cast<uint32_t>(4 * expandWords.size()));
    for (const uint32_t word : expandWords) appendU32(packet, word);
    appendU32(packet, static_cast<uint32_t>(payload.size()));
    packet.append(payload);
    return packet;
}

std::string MediaPacket::key(std::string_view keyText) { return encode(kKey, {}, keyText); }

std::string MediaPacket::video(std::string_view accessUnit, bool keyFrame) {
    return encode(kVideo, {1u, keyFrame ? 1u : 0u}, accessUnit);
}

std::string MediaPacket::audio(const std::vector<int16_t>& interleaved, uint32_t sampleRate, uint32_t channels) {
    return encode(kAudio, {2u, sampleRate, channels, 16u}, pcmLittleEndian(interleaved));
}

std::string MediaPacket::pcmLittleEndian(const std::vector<int16_t>& samples) {
    std::string bytes;
    bytes.reserve(2 * samples.size());
    for (const int16_t sample : samples) {
        const auto bits = static_cast<uint16_t>(sample);
        bytes.push_back(static_cast<char>(bits & 0xffu));
        bytes.push_back(static_cast<char>(bits >> 8));
    }
    return bytes;
}

}  // namespace zucam::phone
