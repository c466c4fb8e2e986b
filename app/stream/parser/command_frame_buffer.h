// CommandFrameBuffer: the reassembly state of one command connection: a
// fixed 4096-byte buffer (allocated once) and the count of bytes held.
// Owned by the command server and used on its socket reactor thread only.
#pragma once

#include <cstdint>
#include <memory>

class CommandFrameBuffer {
public:
    // Bytes held at most, length field included.
    static constexpr int kCapacity = 4096;
    // Largest JSON text a frame may carry.
    static constexpr uint32_t kMaxPayload = kCapacity - 4;

    CommandFrameBuffer();

    CommandFrameBuffer(const CommandFrameBuffer&) = delete;
    CommandFrameBuffer& operator=(const CommandFrameBuffer&) = delete;

    int held() const { return held_; }
    // Forgets the bytes held (a new connection was accepted).
    void Clear() { held_ = 0; }

    // The raw storage and fill level, for ParseCommandFrames.
    char* bytes() { return bytes_.get(); }
    const char* bytes() const { return bytes_.get(); }
    void setHeld(int held) { held_ = held; }

private:
    std::unique_ptr<char[]> bytes_;
    int held_ = 0;
};
