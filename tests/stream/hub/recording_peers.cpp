#include "recording_peers.h"

#include <chrono>

#include "parser/stream_video_packet.h"

namespace zucam::test {
namespace {

class RecordingDecoder : public StreamVideoDecoder {
public:
    explicit RecordingDecoder(std::shared_ptr<DecoderLog> log) : log_(std::move(log)) {}

    void PushPacket(std::unique_ptr<StreamPacket> packet) override {
        DecoderLog::Unit unit;
        if (!packet) {
            unit.reset = true;
        } else if (packet->GetType() == kStreamPacketVideo) {
            const auto* video = static_cast<const StreamVideoPacket*>(packet.get());
            unit.bytes.assign(reinterpret_cast<const char*>(video->data()), video->size());
            unit.keyFrame = video->isKeyFrame();
        }
        std::lock_guard<std::mutex> lock(log_->mutex);
        log_->units.push_back(std::move(unit));
        log_->changed.notify_all();
    }

private:
    std::shared_ptr<DecoderLog> log_;
};

}  // namespace

bool DecoderLog::waitUnits(size_t n, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return units.size() >= n; });
}

std::vector<DecoderLog::Unit> DecoderLog::snapshot() {
    std::lock_guard<std::mutex> lock(mutex);
    return units;
}

std::vector<std::string> DecoderLog::names() {
    std::lock_guard<std::mutex> lock(mutex);
    return hardwareNames;
}

RecordingDecoders::RecordingDecoders() : log_(std::make_shared<DecoderLog>()) {
    std::shared_ptr<DecoderLog> log = log_;
    SetStreamVideoDecoderFactoryForTesting(
        [log](const std::string& hwDecoder, StreamManager*, const std::vector<StreamVideoSink*>&) {
            {
                std::lock_guard<std::mutex> lock(log->mutex);
                log->hardwareNames.push_back(hwDecoder);
            }
            return std::make_unique<RecordingDecoder>(log);
        });
}

RecordingDecoders::~RecordingDecoders() { SetStreamVideoDecoderFactoryForTesting(nullptr); }

void RecordingAudioSink::OnAudio(const uint8_t* pcm, int samplesPerChannel, int sampleRate, int channels) {
    Block block{{}, samplesPerChannel, sampleRate, channels};
    block.pcm.assign(pcm, pcm + static_cast<size_t>(samplesPerChannel) * static_cast<size_t>(channels) * 2);
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_.push_back(std::move(block));
    changed_.notify_all();
}

bool RecordingAudioSink::waitBlocks(size_t n, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return blocks_.size() >= n; });
}

std::vector<RecordingAudioSink::Block> RecordingAudioSink::snapshot() {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_;
}

}  // namespace zucam::test
