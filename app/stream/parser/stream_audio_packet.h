// StreamAudioPacket: one block of interleaved signed 16-bit little-endian
// PCM. The parser guarantees a non-zero sample rate and channel count but
// passes their values on as the phone sent them; consumers check ranges.
#pragma once

#include <cstdint>

#include "parser/packet_payload.h"
#include "parser/stream_packet.h"

class StreamAudioPacket final : public StreamPacket {
public:
    // Copies length bytes from payload.
    StreamAudioPacket(const uint8_t* payload, uint64_t length, uint32_t sampleRate, uint32_t channels);

    int GetType() const override { return kStreamPacketAudio; }
    const uint8_t* data() const { return payload_.data(); }
    // In bytes.
    uint64_t size() const { return payload_.size(); }
    uint64_t capacity() const { return payload_.capacity(); }
    uint32_t sampleRate() const { return sampleRate_; }
    uint32_t channels() const { return channels_; }

private:
    PacketPayload payload_;
    uint32_t sampleRate_;
    uint32_t channels_;
};
