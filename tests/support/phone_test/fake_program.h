// The program's side of a Wi-Fi session, faked for the stand-in's tests:
// listeners for the command, video and audio ports, and the opening moves
// (accept, read hello, answer, accept the media connections) on a thread of
// its own. The test then drives the accepted connections directly.
#pragma once

#include <json/value.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "support/phone_test/fake_peer.h"
#include "support/phone_test/loopback_listener.h"

namespace zucam::phone::test {

class FakeProgram {
public:
    static constexpr const char* kKey = "{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}";

    FakeProgram() = default;
    ~FakeProgram();  // joins the opening thread
    FakeProgram(const FakeProgram&) = delete;
    FakeProgram& operator=(const FakeProgram&) = delete;

    bool valid() const { return command_.valid() && video_.valid() && audio_.valid(); }
    uint16_t commandPort() const { return command_.port(); }

    // The canned answer to hello: the video port, the key, and the audio
    // port when withAudio.
    std::string helloReply(bool withAudio) const;

    // Starts the opening on its thread: answers hello with reply (the canned
    // one unless given) and accepts the media connections it names.
    void open(bool withAudio, std::optional<std::string> reply = std::nullopt);
    // Waits for the opening to end; call before touching the peers.
    void finishOpening();

    std::optional<Json::Value>& hello() { return hello_; }
    std::optional<FakePeer>& command() { return commandPeer_; }
    std::optional<FakePeer>& video() { return videoPeer_; }
    std::optional<FakePeer>& audio() { return audioPeer_; }
    LoopbackListener& audioListener() { return audio_; }
    LoopbackListener& videoListener() { return video_; }

private:
    LoopbackListener command_;
    LoopbackListener video_;
    LoopbackListener audio_;
    std::thread opening_;
    // Written by the opening thread only, read after finishOpening().
    std::optional<Json::Value> hello_;
    std::optional<FakePeer> commandPeer_;
    std::optional<FakePeer> videoPeer_;
    std::optional<FakePeer> audioPeer_;
};

}  // namespace zucam::phone::test
