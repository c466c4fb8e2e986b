// The message reassembly of the P2P stand-in: fragments in, complete
// messages out in message order. Pure logic, used on the receive thread only.
//
// Limits (every count and byte from the peer is bounded):
// - a message has at most kMaxFragments fragments and kMaxMessageBytes bytes;
// - messages more than kWindow ahead of the next expected one push the
//   window forward, and the messages that fall out of it are lost;
// - at most kMaxPendingBytes are held for incomplete or waiting messages; a
//   fragment that would pass that is refused;
// - when kMaxWaiting complete messages wait behind a missing one, the
//   missing one is given up, so a lost datagram delays the stream by a few
//   messages only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zu {

class Reassembler {
public:
    static constexpr uint16_t kMaxFragments = 1024;
    static constexpr uint64_t kMaxMessageBytes = 16ull * 1024 * 1024;
    static constexpr uint64_t kMaxPendingBytes = 32ull * 1024 * 1024;
    static constexpr uint32_t kWindow = 256;
    static constexpr size_t kMaxWaiting = 8;

    using Deliver = std::function<void(uint32_t messageNumber, const std::string& bytes)>;

    // maxPendingBytes below kMaxPendingBytes holds a sender on probation
    // (not yet the peer) to less.
    explicit Reassembler(uint64_t maxPendingBytes = kMaxPendingBytes) : maxPendingBytes_(maxPendingBytes) {}

    // Whether a fragment header could ever be taken (checked before any
    // state is made for a sender).
    static bool Plausible(uint16_t index, uint16_t count, size_t length) {
        return count != 0 && count <= kMaxFragments && index < count && length != 0;
    }

    // What became of one fragment.
    enum class Outcome { Taken, Duplicate, Refused };

    // Delivers every message that became deliverable, in order, through
    // deliver (before returning).
    Outcome Add(uint32_t messageNumber, uint16_t index, uint16_t count, const char* data, size_t length,
                const Deliver& deliver);

    // Lifts a probation limit to the full one.
    void LiftPendingLimit() { maxPendingBytes_ = kMaxPendingBytes; }

    // Messages given up since the last call.
    int TakeLostCount();
    uint64_t pendingBytes() const { return pendingBytes_; }

private:
    struct Message {
        uint16_t count = 0;
        uint16_t received = 0;
        uint64_t bytes = 0;
        std::vector<std::string> fragments;
        std::vector<bool> have;
        bool complete() const { return received == count; }
    };

    // Signed distance from next_ in serial-number arithmetic.
    int64_t Ahead(uint32_t messageNumber) const;
    void Flush(const Deliver& deliver);
    void GiveUpNext();

    uint64_t maxPendingBytes_;
    uint32_t next_ = 0;  // the next message to deliver; a peer numbers its messages from 0
    std::map<uint32_t, Message> pending_;  // by message number, all within the window
    uint64_t pendingBytes_ = 0;
    int lost_ = 0;
};

}  // namespace zu
