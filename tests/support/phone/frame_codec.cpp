#include "support/phone/frame_codec.h"

namespace zucam::phone {

std::string FrameCodec::header(uint32_t declaredLength) {
    std::string bytes(kHeaderSize, '\0');
    for (std::size_t i = 0; i < kHeaderSize; ++i)
        bytes[i] = static_cast<char>((declaredLength >> (8 * (kHeaderSize - 1 - i))) & 0xffu);
    return bytes;
}

std::string FrameCodec::encode(std::string_view payload) {
    std::string frame = header(static_cast<uint32_t>(payload.size()));
    frame.append(payload);
    return frame;
}

void FrameCodec::feed(std::string_view bytes) { buffer_.append(bytes); }

std::optional<std::string> FrameCodec::next() {
    if (buffer_.size() < kHeaderSize) return std::nullopt;
    uint64_t length = 0;
    for (std::size_t i = 0; i < kHeaderSize; ++i) length = (length << 8) | static_cast<unsigned char>(buffer_[i]);
    if (buffer_.size() - kHeaderSize < length) return std::nullopt;
    std::string payload = buffer_.substr(kHeaderSize, static_cast<std::size_t>(length));
    buffer_.erase(0, kHeaderSize + static_cast<std::size_t>(length));
    return payload;
}

}  // namespace zucam::phone
