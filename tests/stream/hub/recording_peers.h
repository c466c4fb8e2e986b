// Test doubles at the hub's edges: a decoder and an audio sink that record
// what the media connections hand them (from the reactor thread).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio_sink/stream_audio_sink.h"
#include "decode/stream_video_decoder.h"

namespace zucam::test {

struct DecoderLog {
    struct Unit {
        std::string bytes;  // empty for a stream-reset marker
        bool reset = false;
        bool keyFrame = false;
    };

    std::vector<std::string> hardwareNames;  // one per decoder made
    std::vector<Unit> units;

    // Waits until at least n units (markers included) arrived.
    bool waitUnits(size_t n, int timeoutMs);
    std::vector<Unit> snapshot();
    std::vector<std::string> names();

    std::mutex mutex;  // guards everything above
    std::condition_variable changed;
};

// Installs a decoder factory that records into log; undone on destruction.
class RecordingDecoders {
public:
    RecordingDecoders();
    ~RecordingDecoders();
    DecoderLog& log() { return *log_; }

private:
    std::shared_ptr<DecoderLog> log_;
};

class RecordingAudioSink : public StreamAudioSink {
public:
    struct Block {
        std::vector<uint8_t> pcm;
        int samplesPerChannel;
        int sampleRate;
        int channels;
    };

    void OnAudio(const uint8_t* pcm, int samplesPerChannel, int sampleRate, int channels) override;
    bool waitBlocks(size_t n, int timeoutMs);
    std::vector<Block> snapshot();

private:
    std::mutex mutex_;  // guards blocks_
    std::condition_variable changed_;
    std::vector<Block> blocks_;
};

}  // namespace zucam::test
