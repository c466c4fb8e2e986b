// Peer bytes into the command frame reader, in chunks chosen by the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_chunks.h"
#include "parser/command_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CommandFrameBuffer buffer;
    FuzzChunks chunks(data, size);
    std::vector<std::string> frames;
    const char* chunk = nullptr;
    int length = 0;
    while (chunks.Next(&chunk, &length)) {
        if (!ParseCommandFrames(&buffer, chunk, length, &frames)) break;
        // The reader's own invariants: nothing over its limits is ever kept.
        if (buffer.held() < 0 || buffer.held() > CommandFrameBuffer::kCapacity) std::abort();
        for (const std::string& frame : frames) {
            if (frame.size() > CommandFrameBuffer::kMaxPayload) std::abort();
        }
        frames.clear();
    }
    return 0;
}
