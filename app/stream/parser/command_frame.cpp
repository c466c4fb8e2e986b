#include "parser/command_frame.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/tether/tq_log.h"
#include "parser/big_endian.h"

namespace {
constexpr int kLengthFieldSize = 4;
}

bool ParseCommandFrames(CommandFrameBuffer* buffer, const char* data, int length, std::vector<std::string>* out) {
    if (length < 0) return false;
    char* const bytes = buffer->bytes();
    int held = buffer->held();
    // The read is taken in as far as the buffer has room, the whole frames
    // are cut out, and so on: how the stream is cut into reads never breaks
    // the channel, and no more than the buffer's capacity is ever held.
    int taken = 0;
    do {
        const int piece = std::min(length - taken, CommandFrameBuffer::kCapacity - held);
        if (piece > 0) std::memcpy(bytes + held, data + taken, static_cast<size_t>(piece));
        held += piece;
        taken += piece;

        int pos = 0;
        while (held - pos >= kLengthFieldSize) {
            const uint32_t payloadLen = ReadBigEndian32(reinterpret_cast<const uint8_t*>(bytes + pos));
            if (payloadLen > CommandFrameBuffer::kMaxPayload) {
                buffer->setHeld(held);
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
            held -= pos;
        } else if (held == CommandFrameBuffer::kCapacity) {
            // A full buffer always holds a whole frame of the largest size.
            buffer->setHeld(held);
            LOG_E("command buffer overflow: %d bytes held, %d more\n", held, length - taken);
            return false;
        }
    } while (taken < length);
    buffer->setHeld(held);
    return true;
}

std::string MakeCommandFrame(const std::string& json) {
    std::string frame(kLengthFieldSize, '\0');
    WriteBigEndian32(static_cast<uint32_t>(json.size()), reinterpret_cast<uint8_t*>(&frame[0]));
    frame += json;
    return frame;
}
