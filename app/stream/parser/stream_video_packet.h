// StreamVideoPacket: one H.264 access unit in Annex-B form, with the phone's
// key-frame flag. The packet owns a copy of the bytes (see PacketPayload).
#pragma once

#include <cstdint>

#include "parser/packet_payload.h"
#include "parser/stream_packet.h"

class StreamVideoPacket final : public StreamPacket {
public:
    // Copies length bytes from payload.
    StreamVideoPacket(const uint8_t* payload, uint64_t length, uint32_t keyFrame);

    int GetType() const override { return kStreamPacketVideo; }
    const uint8_t* data() const { return payload_.data(); }
    uint64_t size() const { return payload_.size(); }
    uint64_t capacity() const { return payload_.capacity(); }
    // 1 for a key frame, as the phone sent it.
    uint32_t keyFrame() const { return keyFrame_; }
    bool isKeyFrame() const { return keyFrame_ == 1; }

private:
    PacketPayload payload_;
    uint32_t keyFrame_;
};
