// PacketPayload: the owned copy of one media packet's payload.
//
// The buffer's capacity is the payload length rounded up to a multiple of
// 4096 (a length that already is one is kept as it is, so an empty payload
// has capacity 0). data() is never null, even for an empty payload, so
// consumers may pass it to memcpy and friends without a special case.
#pragma once

#include <cstdint>
#include <memory>

class PacketPayload {
public:
    static constexpr uint64_t kGranule = 4096;

    // Copies size bytes from bytes (which may be null only when size is 0).
    PacketPayload(const uint8_t* bytes, uint64_t size);

    PacketPayload(const PacketPayload&) = delete;
    PacketPayload& operator=(const PacketPayload&) = delete;
    PacketPayload(PacketPayload&&) noexcept = default;
    PacketPayload& operator=(PacketPayload&&) noexcept = default;

    const uint8_t* data() const { return bytes_.get(); }
    uint8_t* data() { return bytes_.get(); }
    uint64_t size() const { return size_; }
    uint64_t capacity() const { return capacity_; }

    // The capacity a payload of size bytes is given.
    static constexpr uint64_t RoundedCapacity(uint64_t size) {
        return (size + (kGranule - 1)) / kGranule * kGranule;
    }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    uint64_t size_;
    uint64_t capacity_;
};
