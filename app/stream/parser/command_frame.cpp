#include "parser/command_frame.h"

#include <cstdio>
#include <cstring>

#include "core/tether/tq_log.h"
#include "parser/big_endian.h"

namespace {
constexpr int kLengthFieldSize = 4;
}

bool ParseCommandFrames(CommandFrameBuffer* buffer, const char* data, int length, std::vector<std::string>* out) {
    if (length < 0) return false;
    int held = buffer->held();
    // The whole read is taken in before any frame is cut out of it, so a read
    // that would overfill the buffer fails even if it holds small frames.
    if (length > CommandFrameBuffer::kCapacity - held) {
        LOG_E("command buffer overflow: %d bytes held, %d more\n", held, length);
        return false;
    }
    char* const bytes = buffer->bytes();
    if (length > 0) std::memcpy(bytes + held, data, static_cast<size_t>(length));
    held += length;
    buffer->setHeld(held);

    int pos = 0;
    while (held - pos >= kLengthFieldSize) {
        const uint32_t payloadLen = ReadBigEndian32(reinterpret_cast<const uint8_t*>(bytes + pos));
        if (payloadLen > CommandFrameBuffer::kMaxPayload) {
            LOG_E("packet is too long\n");
            std::fprintf(stderr, "[packet]packet is too long\n");
            return false;
        }
        const int frameSize = kLengthFieldSize + static_cast<int>(payloadLen);
        if (frameSize > held - pos) break;
        out->emplace_back(bytes + pos + kLengthFieldSize, payloadLen);
        pos += frameSize;
    }

    if (pos > 0) {
        std::memmove(bytes, bytes + pos, static_cast<size_t>(held - pos));
        buffer->setHeld(held - pos);
    }
    return true;
}

std::string MakeCommandFrame(const std::string& json) {
    std::string frame(kLengthFieldSize, '\0');
    WriteBigEndian32(static_cast<uint32_t>(json.size()), reinterpret_cast<uint8_t*>(&frame[0]));
    frame += json;
    return frame;
}
