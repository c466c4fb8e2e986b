// Peer bytes into the media packet parser, in chunks chosen by the input:
// once with a small buffer, where the size limits are reached quickly, and
// once with the full-size buffer of a real connection.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_chunks.h"
#include "parser/stream_parser.h"

namespace {

// Reads every byte of a packet, so that ASan sees any payload buffer that
// is shorter than its size claims.
uint8_t Touch(const StreamPacket& packet) {
    const uint8_t* bytes = nullptr;
    uint64_t size = 0;
    switch (packet.GetType()) {
        case kStreamPacketKey: {
            const std::string& token = static_cast<const StreamTokenPacket&>(packet).token();
            bytes = reinterpret_cast<const uint8_t*>(token.data());
            size = token.size();
            break;
        }
        case kStreamPacketVideo: {
            const auto& video = static_cast<const StreamVideoPacket&>(packet);
            if (video.capacity() < video.size()) std::abort();
            bytes = video.data();
            size = video.size();
            break;
        }
        case kStreamPacketAudio: {
            const auto& audio = static_cast<const StreamAudioPacket&>(packet);
            if (audio.capacity() < audio.size() || audio.channels() == 0 || audio.sampleRate() == 0) std::abort();
            bytes = audio.data();
            size = audio.size();
            break;
        }
        default:
            std::abort();
    }
    uint8_t sum = 0;
    for (uint64_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
}

void Run(StreamPacketBuffer* buffer, const uint8_t* data, size_t size) {
    buffer->Clear();
    FuzzChunks chunks(data, size);
    std::vector<std::unique_ptr<StreamPacket>> packets;
    const char* chunk = nullptr;
    int length = 0;
    volatile uint8_t sink = 0;
    while (chunks.Next(&chunk, &length)) {
        const bool ok = ParseStreamPackets(buffer, chunk, length, &packets);
        if (buffer->held() > buffer->capacity()) std::abort();
        for (const auto& packet : packets) sink = static_cast<uint8_t>(sink + Touch(*packet));
        packets.clear();
        if (!ok) break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Kept across inputs: the 64 MiB buffer is allocated once, as a
    // connection allocates it once, and Clear() starts each input afresh.
    static StreamPacketBuffer small(1024);
    static StreamPacketBuffer full;
    Run(&small, data, size);
    Run(&full, data, size);
    return 0;
}
