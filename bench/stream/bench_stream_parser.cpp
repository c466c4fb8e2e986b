// Throughput of the wire-format parsers on the socket reactor's thread.
// A phone's media stream (H.264 access units of 30 KB with 20 ms audio blocks
// in between) is fed in 256 KiB reads, as a busy socket delivers it, and
// compared with a bare memcpy of the same bytes in the same reads: the
// parser copies each byte into its reassembly buffer and once more into the
// packet (and allocates that), so half of memcpy's rate is about its ceiling.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "parser/command_frame.h"
#include "parser/stream_parser.h"

namespace {

constexpr size_t kReadSize = 256 * 1024;
constexpr int kVideoPackets = 64;
constexpr size_t kVideoPayload = 30 * 1024;
constexpr size_t kAudioPayload = 3840;  // 20 ms of 48 kHz stereo, 16 bits
constexpr int kAudioPerVideo = 2;       // 30 fps video, 50 blocks/s audio, roughly

void AppendBigEndian32(std::string* out, uint32_t value) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    out->append(bytes, 4);
}

void AppendPacket(std::string* out, uint32_t type, const std::vector<uint32_t>& words, size_t payloadSize) {
    AppendBigEndian32(out, type);
    AppendBigEndian32(out, static_cast<uint32_t>(4 * words.size()));
    for (const uint32_t word : words) AppendBigEndian32(out, word);
    AppendBigEndian32(out, static_cast<uint32_t>(payloadSize));
    for (size_t i = 0; i < payloadSize; ++i) out->push_back(static_cast<char>(i * 13));
}

const std::string& MediaStream() {
    static const std::string stream = [] {
        std::string bytes;
        AppendPacket(&bytes, kStreamPacketKey, {}, 32);
        for (int i = 0; i < kVideoPackets; ++i) {
            AppendPacket(&bytes, kStreamPacketVideo, {kStreamPacketVideo, i % 30 == 0 ? 1u : 0u}, kVideoPayload);
            for (int a = 0; a < kAudioPerVideo; ++a) {
                AppendPacket(&bytes, kStreamPacketAudio, {kStreamPacketAudio, 48000, 2, 16}, kAudioPayload);
            }
        }
        return bytes;
    }();
    return stream;
}

void BM_ParseStreamPackets(benchmark::State& state) {
    const std::string& stream = MediaStream();
    StreamPacketBuffer buffer;  // one per connection, as a receiver has it
    std::vector<std::unique_ptr<StreamPacket>> packets;
    packets.reserve(256);
    size_t delivered = 0;
    for (auto _ : state) {
        for (size_t pos = 0; pos < stream.size(); pos += kReadSize) {
            const size_t length = std::min(kReadSize, stream.size() - pos);
            if (!ParseStreamPackets(&buffer, stream.data() + pos, static_cast<int>(length), &packets)) {
                state.SkipWithError("parser refused the stream");
                return;
            }
            delivered += packets.size();
            packets.clear();  // the receiver hands them on and releases them
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["packets"] = benchmark::Counter(static_cast<double>(delivered), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParseStreamPackets);

// The baseline: the same bytes, the same reads, one memcpy each.
void BM_MemcpyStreamBaseline(benchmark::State& state) {
    const std::string& stream = MediaStream();
    std::unique_ptr<char[]> target(new char[kReadSize]);
    for (auto _ : state) {
        for (size_t pos = 0; pos < stream.size(); pos += kReadSize) {
            const size_t length = std::min(kReadSize, stream.size() - pos);
            std::memcpy(target.get(), stream.data() + pos, length);
            benchmark::DoNotOptimize(target.get());
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_MemcpyStreamBaseline);

// Command frames of typical size (about 200 bytes of JSON), the argument
// giving how many arrive in one read.
std::string CommandFrames(int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        std::string json = R"({"version":"1.0","type":7,"data":{"state":1,"name":"Pixel 7 Pro","key":")" +
                           std::to_string(100000 + i) + R"(","width":1920,"height":1080,"fps":30,"bitrate":8000000,)";
        json += R"("codec":"h264","udp":false,"pad":")";
        json.append(200 - json.size() - 3, 'p');
        json += "\"}}";
        bytes += MakeCommandFrame(json);
    }
    return bytes;
}

void BM_ParseCommandFrames(benchmark::State& state) {
    const int framesPerRead = static_cast<int>(state.range(0));
    const std::string read = CommandFrames(framesPerRead);
    CommandFrameBuffer buffer;
    std::vector<std::string> texts;
    texts.reserve(static_cast<size_t>(framesPerRead));
    for (auto _ : state) {
        if (!ParseCommandFrames(&buffer, read.data(), static_cast<int>(read.size()), &texts)) {
            state.SkipWithError("reader refused the frames");
            return;
        }
        benchmark::DoNotOptimize(texts.data());
        texts.clear();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * read.size()));
    state.SetItemsProcessed(state.iterations() * framesPerRead);
}
BENCHMARK(BM_ParseCommandFrames)->Arg(1)->Arg(16);

void BM_MemcpyCommandBaseline(benchmark::State& state) {
    const std::string read = CommandFrames(static_cast<int>(state.range(0)));
    std::unique_ptr<char[]> target(new char[read.size()]);
    for (auto _ : state) {
        std::memcpy(target.get(), read.data(), read.size());
        benchmark::DoNotOptimize(target.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * read.size()));
}
BENCHMARK(BM_MemcpyCommandBaseline)->Arg(1)->Arg(16);

}  // namespace
