#include "parser/packet_payload.h"

#include <cstring>

// new uint8_t[0] is a valid, unique, non-null pointer: an empty payload still
// has a data() that memcpy may be given.
PacketPayload::PacketPayload(const uint8_t* bytes, uint64_t size)
    : bytes_(new uint8_t[RoundedCapacity(size)]), size_(size), capacity_(RoundedCapacity(size)) {
    if (size > 0) std::memcpy(bytes_.get(), bytes, size);
}
