// Writes the generated seed corpus of the fuzz targets: what the phone
// stand-in really sends, at real sizes, so that libFuzzer starts from the
// reassembly of packets far larger than one read (IDR access units of 8 to
// 30 kB, 40 ms audio blocks of 7.7 kB) instead of
// growing such inputs by chance. Run at build time (tests/fuzz/CMakeLists.txt)
// into build/fuzz/tests/fuzz/seeds/<target>/; scripts/fuzz.sh adds them to the
// checked-in corpus.
//   fuzz_seed_writer <output folder>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "support/phone/media_packet.h"
#include "support/phone/pcm_generator.h"
#include "support/phone/test_pattern_encoder.h"

namespace {

using zucam::phone::AccessUnit;
using zucam::phone::EncoderSettings;
using zucam::phone::MediaPacket;
using zucam::phone::PcmGenerator;
using zucam::phone::PcmSettings;
using zucam::phone::TestPatternEncoder;

// The key the hub hands out: a braced UUID.
constexpr char kKey[] = "{8c1e5a7e-3f0b-4d6a-9c2e-5b7f1d0a4e63}";

bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

bool Write(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "fuzz_seed_writer: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("  %s: %zu bytes\n", path.c_str(), bytes.size());
    return true;
}

// The fuzz targets' input format (fuzz_chunks.h): a length byte before each
// chunk, 255 for "the whole rest".
std::string OneChunk(const std::string& bytes) { return std::string(1, '\xff') + bytes; }

// Cut in pieces of the given sizes in turn (each 1..254), as a socket might
// deliver the stream.
std::string InPieces(const std::string& bytes, const std::vector<int>& sizes) {
    std::string out;
    size_t pos = 0;
    for (size_t turn = 0; pos < bytes.size(); ++turn) {
        const size_t size = std::min<size_t>(static_cast<size_t>(sizes[turn % sizes.size()]), bytes.size() - pos);
        out += static_cast<char>(size);
        out.append(bytes, pos, size);
        pos += size;
    }
    return out;
}

bool Encode(const EncoderSettings& settings, int frames, std::vector<AccessUnit>* units) {
    TestPatternEncoder encoder(settings);
    for (int n = 0; n < frames; ++n) {
        auto unit = encoder.nextAccessUnit();
        if (!unit) {
            std::fprintf(stderr, "fuzz_seed_writer: encoder: %s\n", encoder.lastError().c_str());
            return false;
        }
        units->push_back(std::move(*unit));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const std::string packets = root + "/fuzz_stream_packets";
    const std::string annexb = root + "/fuzz_h264_annexb";
    if (!MakeFolder(root) || !MakeFolder(packets) || !MakeFolder(annexb)) {
        std::fprintf(stderr, "fuzz_seed_writer: cannot make the folders under %s\n", root.c_str());
        return 1;
    }

    // 1080p at the phone's settings: an IDR of about 8 kB (the test pattern
    // is plain), then P frames of a few kilobytes.
    EncoderSettings video;
    video.width = 1920;
    video.height = 1080;
    video.fps = 30;
    video.gop = 30;
    std::vector<AccessUnit> units;
    if (!Encode(video, 4, &units)) return 1;

    PcmGenerator stereo;  // 48 kHz stereo: 7680 bytes per 40 ms block
    PcmSettings monoSettings;
    monoSettings.sampleRate = 16000;
    monoSettings.channels = 1;
    monoSettings.waveform = zucam::phone::Waveform::Ramp;
    PcmGenerator mono(monoSettings);
    const int stereoSamples = stereo.samplesFor(std::chrono::milliseconds(40));
    const int monoSamples = mono.samplesFor(std::chrono::milliseconds(40));

    // A video connection: the key, the IDR, the P frames.
    std::string videoStream = MediaPacket::key(kKey);
    for (const AccessUnit& unit : units) videoStream += MediaPacket::video(unit.bytes, unit.keyFrame);
    // An audio connection: the key and 40 ms blocks.
    std::string audioStream = MediaPacket::key(kKey);
    for (int n = 0; n < 3; ++n) audioStream += MediaPacket::audio(stereo.nextBlock(stereoSamples), 48000, 2);
    std::string monoStream = MediaPacket::key(kKey);
    for (int n = 0; n < 2; ++n) monoStream += MediaPacket::audio(mono.nextBlock(monoSamples), 16000, 1);

    bool ok = true;
    ok &= Write(packets + "/phone_video_1080p", OneChunk(videoStream));
    ok &= Write(packets + "/phone_video_1080p_in_reads", InPieces(videoStream, {254, 254, 137, 1, 254, 60}));
    ok &= Write(packets + "/phone_audio_48k_stereo", OneChunk(audioStream));
    ok &= Write(packets + "/phone_audio_16k_mono_in_reads", InPieces(monoStream, {200, 3, 254}));
    // A 2160p IDR alone, without the key packet (a stream that starts at
    // once): the largest access unit the stand-in's pattern makes.
    EncoderSettings large = video;
    large.width = 3840;
    large.height = 2160;
    std::vector<AccessUnit> largeUnits;
    if (!Encode(large, 1, &largeUnits)) return 1;
    ok &= Write(packets + "/phone_idr_2160p_without_key", OneChunk(MediaPacket::video(largeUnits[0].bytes, true)));

    // The splitter gets access units: the IDR with its parameter sets, then
    // the whole group as one input.
    ok &= Write(annexb + "/phone_idr_1080p", OneChunk(units[0].bytes));
    std::string group;
    for (const AccessUnit& unit : units) group += unit.bytes;
    ok &= Write(annexb + "/phone_group_1080p", OneChunk(group));
    return ok ? 0 : 1;
}
