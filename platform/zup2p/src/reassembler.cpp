#include "reassembler.h"

#include <algorithm>
#include <limits>

namespace zu {

int64_t Reassembler::Ahead(uint32_t messageNumber) const {
    return static_cast<int32_t>(messageNumber - next_);
}

int Reassembler::TakeLostCount() {
    const int lost = lost_;
    lost_ = 0;
    return lost;
}

void Reassembler::GiveUpNext() {
    const auto found = pending_.find(next_);
    if (found != pending_.end()) {
        pendingBytes_ -= found->second.bytes;
        pending_.erase(found);
    }
    if (lost_ < std::numeric_limits<int>::max()) ++lost_;
    ++next_;
}

void Reassembler::Flush(const Deliver& deliver) {
    for (;;) {
        auto found = pending_.find(next_);
        if (found != pending_.end() && found->second.complete()) {
            std::string bytes;
            bytes.reserve(found->second.bytes);
            for (const std::string& fragment : found->second.fragments) bytes += fragment;
            pendingBytes_ -= found->second.bytes;
            pending_.erase(found);
            const uint32_t number = next_++;
            deliver(number, bytes);
            continue;
        }
        const size_t waiting = static_cast<size_t>(std::count_if(
            pending_.begin(), pending_.end(), [](const auto& entry) { return entry.second.complete(); }));
        if (waiting < kMaxWaiting) return;
        // Enough of the stream is held back by one missing message.
        GiveUpNext();
    }
}

Reassembler::Outcome Reassembler::Add(uint32_t messageNumber, uint16_t index, uint16_t count, const char* data,
                                      size_t length, const Deliver& deliver) {
    if (!Plausible(index, count, length)) return Outcome::Refused;
    if (Ahead(messageNumber) < 0) return Outcome::Duplicate;  // delivered or given up already
    while (Ahead(messageNumber) >= kWindow) {
        if (pending_.empty()) {
            // Nothing held: jump, counting the skipped numbers as lost.
            const int64_t skipped = Ahead(messageNumber) - (kWindow - 1);
            lost_ = static_cast<int>(std::min<int64_t>(std::numeric_limits<int>::max(), lost_ + skipped));
            next_ = messageNumber - (kWindow - 1);
            break;
        }
        GiveUpNext();
        Flush(deliver);
    }

    Message& message = pending_[messageNumber];
    if (message.count == 0) {
        message.count = count;
        message.fragments.resize(count);
        message.have.assign(count, false);
    }
    if (message.count != count) return Outcome::Refused;  // the peer contradicts itself
    if (message.have[index]) return Outcome::Duplicate;
    if (message.bytes + length > kMaxMessageBytes || pendingBytes_ + length > maxPendingBytes_) {
        if (message.received == 0) pending_.erase(messageNumber);
        return Outcome::Refused;
    }
    message.fragments[index].assign(data, length);
    message.have[index] = true;
    ++message.received;
    message.bytes += length;
    pendingBytes_ += length;
    Flush(deliver);
    return Outcome::Taken;
}

}  // namespace zu
