// Framing of the command channel: a 4-byte unsigned big-endian length N,
// then N bytes of payload (UTF-8 JSON). encode() builds one frame; feed() and
// next() take a byte stream in pieces of any size and give back whole
// payloads in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zucam::phone {

class FrameCodec {
public:
    static constexpr std::size_t kHeaderSize = 4;

    static std::string encode(std::string_view payload);
    // The 4 header bytes alone for a declared length (for hostile frames).
    static std::string header(uint32_t declaredLength);

    void feed(std::string_view bytes);
    // The next complete payload, removed from the buffer; nullopt while the
    // frame is still incomplete.
    std::optional<std::string> next();
    // Bytes received but not yet returned as a frame.
    std::size_t pendingBytes() const { return buffer_.size(); }

private:
    std::string buffer_;
};

}  // namespace zucam::phone
