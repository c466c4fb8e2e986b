#include "packet_bytes.h"

#include "parser/stream_parser.h"

namespace parser_test {

std::string BigEndian32(uint32_t value) {
    std::string bytes(4, '\0');
    bytes[0] = static_cast<char>(value >> 24);
    bytes[1] = static_cast<char>(value >> 16);
    bytes[2] = static_cast<char>(value >> 8);
    bytes[3] = static_cast<char>(value);
    return bytes;
}

std::string RawPacket(uint32_t type, const std::vector<uint32_t>& expandWords, const std::string& payload) {
    std::string bytes = BigEndian32(type) + BigEndian32(static_cast<uint32_t>(4 * expandWords.size()));
    for (const uint32_t word : expandWords) bytes += BigEndian32(word);
    return bytes + BigEndian32(static_cast<uint32_t>(payload.size())) + payload;
}

std::string PacketHeader(uint32_t type, uint32_t expandLen, uint32_t payloadLen) {
    return BigEndian32(type) + BigEndian32(expandLen) + std::string(expandLen, '\0') + BigEndian32(payloadLen);
}

std::string KeyPacket(const std::string& token, const std::vector<uint32_t>& expandWords) {
    return RawPacket(kStreamPacketKey, expandWords, token);
}

std::string VideoPacket(uint32_t keyFrame, const std::string& payload) {
    return RawPacket(kStreamPacketVideo, {kStreamPacketVideo, keyFrame}, payload);
}

std::string AudioPacket(uint32_t sampleRate, uint32_t channels, uint32_t bits, const std::string& payload) {
    return RawPacket(kStreamPacketAudio, {kStreamPacketAudio, sampleRate, channels, bits}, payload);
}

std::string Payload(size_t n, int seed) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 31 + static_cast<size_t>(seed) * 7) & 0xff);
    return bytes;
}

std::string CommandFrame(const std::string& json) { return BigEndian32(static_cast<uint32_t>(json.size())) + json; }

}  // namespace parser_test

std::string Describe(const StreamPacket& packet) {
    switch (packet.GetType()) {
        case kStreamPacketKey:
            return "key:" + static_cast<const StreamTokenPacket&>(packet).token();
        case kStreamPacketVideo: {
            const auto& video = static_cast<const StreamVideoPacket&>(packet);
            return "video:" + std::to_string(video.keyFrame()) + ":" +
                   std::string(reinterpret_cast<const char*>(video.data()), video.size());
        }
        case kStreamPacketAudio: {
            const auto& audio = static_cast<const StreamAudioPacket&>(packet);
            return "audio:" + std::to_string(audio.sampleRate()) + ":" + std::to_string(audio.channels()) + ":" +
                   std::string(reinterpret_cast<const char*>(audio.data()), audio.size());
        }
        default:
            return "type " + std::to_string(packet.GetType());
    }
}
