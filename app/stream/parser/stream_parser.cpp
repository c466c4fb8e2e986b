#include "parser/stream_parser.h"

#include <cstring>

#include "core/tether/tq_log.h"
#include "parser/big_endian.h"

namespace {

enum class PacketResult { kAccepted, kSkipped, kBroken };

// Bits per sample the receivers can play.
constexpr uint32_t kAudioBitsPerSample = 16;

// Expand word index (1-based, as the phone's format counts them).
uint32_t ExpandWord(const uint8_t* expand, int word) { return ReadBigEndian32(expand + 4 * (word - 1)); }

PacketResult ReadVideo(const uint8_t* expand, uint64_t expandLen, const uint8_t* payload, uint64_t payloadLen,
                       std::vector<std::unique_ptr<StreamPacket>>* out) {
    if (expandLen < 4) {
        LOG_E("video packet, expand_len is not enough!");
        return PacketResult::kBroken;
    }
    if (ExpandWord(expand, 1) != kStreamPacketVideo || expandLen < 8) return PacketResult::kSkipped;
    out->push_back(std::make_unique<StreamVideoPacket>(payload, payloadLen, ExpandWord(expand, 2)));
    return PacketResult::kAccepted;
}

PacketResult ReadAudio(const uint8_t* expand, uint64_t expandLen, const uint8_t* payload, uint64_t payloadLen,
                       std::vector<std::unique_ptr<StreamPacket>>* out) {
    if (expandLen < 4) {
        LOG_E("audio packet, expand_len is not enough!");
        return PacketResult::kBroken;
    }
    if (ExpandWord(expand, 1) != kStreamPacketAudio || expandLen < 16) return PacketResult::kSkipped;
    const uint32_t sampleRate = ExpandWord(expand, 2);
    const uint32_t channels = ExpandWord(expand, 3);
    // A block without a rate or channels cannot be played nor divided into
    // samples; it is dropped rather than handed to the sinks.
    if (ExpandWord(expand, 4) != kAudioBitsPerSample || sampleRate == 0 || channels == 0) {
        return PacketResult::kSkipped;
    }
    out->push_back(std::make_unique<StreamAudioPacket>(payload, payloadLen, sampleRate, channels));
    return PacketResult::kAccepted;
}

}  // namespace

bool ParseStreamPackets(StreamPacketBuffer* buffer, const char* data, int length,
                        std::vector<std::unique_ptr<StreamPacket>>* out) {
    if (length < 0) return false;
    const uint64_t capacity = buffer->capacity();
    uint64_t held = buffer->held();
    if (held + static_cast<uint64_t>(length) > capacity) return false;

    uint8_t* const bytes = buffer->bytes();
    if (length > 0) std::memcpy(bytes + held, data, static_cast<size_t>(length));
    held += static_cast<uint64_t>(length);
    buffer->setHeld(held);

    // All sums below are in 64 bits from u32 fields, so none can wrap.
    uint64_t pos = 0;
    while (held - pos >= kStreamPacketFixedSize) {
        const uint8_t* const packet = bytes + pos;
        const uint64_t remaining = held - pos;
        const uint32_t pktType = ReadBigEndian32(packet);
        const uint64_t expandLen = ReadBigEndian32(packet + 4);
        if (kStreamPacketFixedSize + expandLen > capacity) {
            // Could never be held: waiting for it would stall the stream forever.
            LOG_E("stream packet need too long buffer\n");
            return false;
        }
        if (kStreamPacketFixedSize + expandLen > remaining) break;

        const uint64_t payloadLen = ReadBigEndian32(packet + 8 + expandLen);
        const uint64_t packetSize = kStreamPacketFixedSize + expandLen + payloadLen;
        if (payloadLen >= buffer->payloadLimit() || packetSize > capacity) {
            LOG_E("stream packet need too long buffer\n");
            return false;
        }
        if (packetSize > remaining) break;

        const uint8_t* const expand = packet + 8;
        const uint8_t* const payload = packet + 12 + expandLen;
        PacketResult result = PacketResult::kAccepted;
        switch (pktType) {
            case kStreamPacketKey:
                out->push_back(std::make_unique<StreamTokenPacket>(
                    std::string(reinterpret_cast<const char*>(payload), static_cast<size_t>(payloadLen))));
                break;
            case kStreamPacketVideo:
                result = ReadVideo(expand, expandLen, payload, payloadLen, out);
                break;
            case kStreamPacketAudio:
                result = ReadAudio(expand, expandLen, payload, payloadLen, out);
                break;
            default:
                LOG_E("unknown stream pkt_type : %d", static_cast<int>(pktType));
                result = PacketResult::kBroken;
                break;
        }
        if (result == PacketResult::kBroken) return false;
        pos += packetSize;
    }

    if (pos > 0) {
        std::memmove(bytes, bytes + pos, static_cast<size_t>(held - pos));
        buffer->setHeld(held - pos);
    }
    return true;
}
