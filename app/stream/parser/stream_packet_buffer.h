// StreamPacketBuffer: the reassembly state of one media connection.
//
// One buffer, allocated whole (and not zero-filled) when the state is
// created and never grown, plus the count of bytes held. Owned by the media
// connection and used only on the thread that reads it (the socket reactor's
// or the P2P library's callback thread); not thread-safe.
#pragma once

#include <cstdint>
#include <memory>

class StreamPacketBuffer {
public:
    static constexpr uint64_t kDefaultCapacity = 64ull * 1024 * 1024;
    // How much of the buffer a payload may never reach: a payload length of
    // capacity() - kPayloadReserve or more is refused.
    static constexpr uint64_t kPayloadReserve = 256;

    explicit StreamPacketBuffer(uint64_t capacity = kDefaultCapacity);

    StreamPacketBuffer(const StreamPacketBuffer&) = delete;
    StreamPacketBuffer& operator=(const StreamPacketBuffer&) = delete;

    uint64_t capacity() const { return capacity_; }
    // Payload lengths at or above this are refused.
    uint64_t payloadLimit() const { return capacity_ > kPayloadReserve ? capacity_ - kPayloadReserve : 0; }
    uint64_t held() const { return held_; }
    // Forgets the bytes held; keeps the allocation.
    void Clear() { held_ = 0; }

    // The raw storage and fill level, for ParseStreamPackets.
    uint8_t* bytes() { return bytes_.get(); }
    const uint8_t* bytes() const { return bytes_.get(); }
    void setHeld(uint64_t held) { held_ = held; }

private:
    const uint64_t capacity_;
    std::unique_ptr<uint8_t[]> bytes_;
    uint64_t held_ = 0;
};
