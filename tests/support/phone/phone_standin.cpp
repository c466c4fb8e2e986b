#include "support/phone/phone_standin.h"

#include <thread>

namespace zucam::phone {

PhoneStandIn::PhoneStandIn(const StandInOptions& options) : options_(options), pcm_(options.audio) {}

PhoneStandIn::~PhoneStandIn() = default;

bool PhoneStandIn::fail(const std::string& what) {
    const std::lock_guard<std::mutex> lock(errorMutex_);
    lastError_ = what;
    return false;
}

std::string PhoneStandIn::lastError() const {
    const std::lock_guard<std::mutex> lock(errorMutex_);
    return lastError_;
}

bool PhoneStandIn::connectWifi(uint16_t commandPort, const std::string& name, int fps, int width, int height) {
    if (!command_.connect(options_.host, commandPort, options_.timeout))
        return fail("command channel: " + command_.lastError());
    hello_ = command_.hello(name, fps, width, height, options_.timeout);
    if (!hello_) return fail("hello: " + command_.lastError());

    fps_ = fps > 0 ? fps : 30;
    EncoderSettings video;
    video.width = width;
    video.height = height;
    video.fps = fps_;
    video.gop = options_.gop;
    video.fullRange = options_.fullRange;
    // Opened on the first frame, so a session with sizes x264 refuses can
    // still be set up when no video is sent.
    encoder_ = std::make_unique<TestPatternEncoder>(video);

    if (!video_.connect(options_.host, hello_->videoPort, options_.timeout))
        return fail("video connection: " + video_.lastError());
    if (!video_.sendKey(hello_->key, options_.timeout)) return fail("video key: " + video_.lastError());

    if (hello_->audioPort) {
        auto audio = std::make_unique<MediaSender>();
        if (!audio->connect(options_.host, *hello_->audioPort, options_.timeout))
            return fail("audio connection: " + audio->lastError());
        audio_ = std::move(audio);
        if (!audio_->sendKey(hello_->key, options_.timeout)) return fail("audio key: " + audio_->lastError());
    }
    return true;
}

bool PhoneStandIn::streamVideo(int frames) {
    if (!encoder_ || !video_.isOpen()) return fail("video: not connected");
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        if (options_.paced)
            std::this_thread::sleep_until(start + std::chrono::microseconds(1'000'000LL * i / fps_));
        const std::optional<AccessUnit> unit = encoder_->nextAccessUnit();
        if (!unit) return fail("encoder: " + encoder_->lastError());
        if (!video_.sendVideo(unit->bytes, unit->keyFrame, options_.timeout))
            return fail("video frame " + std::to_string(framesSent_) + ": " + video_.lastError());
        ++framesSent_;
    }
    return true;
}

bool PhoneStandIn::streamAudio(int blocks) {
    if (!audio_) return fail("audio: the program offered no audio port");
    const int samples = pcm_.samplesFor(options_.audioBlock);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < blocks; ++i) {
        if (options_.paced) std::this_thread::sleep_until(start + i * options_.audioBlock);
        const std::vector<int16_t> block = pcm_.nextBlock(samples);
        if (!audio_->sendAudio(block, pcm_.settings().sampleRate, pcm_.settings().channels, options_.timeout))
            return fail("audio block " + std::to_string(audioBlocksSent_) + ": " + audio_->lastError());
        ++audioBlocksSent_;
    }
    return true;
}

bool PhoneStandIn::disconnect() {
    if (!command_.sendCommand(CommandType::Disconnect, Json::Value(Json::nullValue), options_.timeout))
        return fail("disconnect: " + command_.lastError());
    disconnectReply_ = command_.readMessage(options_.timeout);
    if (!disconnectReply_) return fail("disconnect reply: " + command_.lastError());
    if (!(*disconnectReply_)["type"].isInt() || (*disconnectReply_)["type"].asInt() != 0)
        return fail("disconnect reply is not type 0: " + CompactJson(*disconnectReply_));
    if (!command_.waitClosed(options_.timeout)) return fail("the program kept the channel open after disconnect");
    return true;
}

}  // namespace zucam::phone
