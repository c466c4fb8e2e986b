// A stand-in for the phone app in tests: it speaks the phone's side of the
// protocol over real sockets, independent of the program's own code. The
// building blocks can be used alone (BeaconListener, CommandClient,
// MediaSender, TestPatternEncoder, PcmGenerator); PhoneStandIn strings them
// into a Wi-Fi session: hello on the command channel, then the video and
// (when offered) audio connections, each opened with the key packet.
//
//   PhoneStandIn phone;
//   ASSERT_TRUE(phone.connectWifi(commandPort, "Pixel", 30, 320, 240)) << phone.lastError();
//   ASSERT_TRUE(phone.streamVideo(10));  // frame n's test region has luma
//                                        // TestPatternEncoder::TestRegionLuma(n)
//   ASSERT_TRUE(phone.disconnect());
//
// streamVideo() and streamAudio() may run at the same time on two threads:
// each touches only its own connection and generator. Everything else is for
// one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "support/phone/beacon_listener.h"
#include "support/phone/command_client.h"
#include "support/phone/frame_codec.h"
#include "support/phone/media_packet.h"
#include "support/phone/media_sender.h"
#include "support/phone/pcm_generator.h"
#include "support/phone/tcp_stream.h"
#include "support/phone/test_pattern_encoder.h"

namespace zucam::phone {

struct StandInOptions {
    std::string host = "127.0.0.1";
    Millis timeout{3000};          // for each connect, send and reply
    int gop = 30;                  // frames per IDR of the test pattern
    bool fullRange = false;
    PcmSettings audio;             // 48 kHz stereo sine unless changed
    std::chrono::milliseconds audioBlock{40};
    bool paced = false;            // send frames at fps and blocks at their duration
};

class PhoneStandIn {
public:
    explicit PhoneStandIn(const StandInOptions& options = {});
    ~PhoneStandIn();
    PhoneStandIn(const PhoneStandIn&) = delete;
    PhoneStandIn& operator=(const PhoneStandIn&) = delete;

    // hello, then the media connections with their key packets. False (reason
    // in lastError) when any step fails; the connections made so far stay.
    bool connectWifi(uint16_t commandPort, const std::string& name, int fps, int width, int height);

    // frames access units of the test pattern on the video connection.
    bool streamVideo(int frames);
    // blocks PCM blocks of options.audioBlock each on the audio connection;
    // false when the program offered no audio port.
    bool streamAudio(int blocks);

    // Sends disconnect, reads the reply and waits for the program to close
    // the channel. The reply, when one came, is kept in disconnectReply().
    bool disconnect();

    CommandClient& command() { return command_; }
    MediaSender& video() { return video_; }
    MediaSender* audio() { return audio_.get(); }  // null without an audio port
    const std::optional<HelloReply>& helloReply() const { return hello_; }
    const std::optional<Json::Value>& disconnectReply() const { return disconnectReply_; }
    TestPatternEncoder* encoder() { return encoder_.get(); }  // after connectWifi
    PcmGenerator& pcm() { return pcm_; }
    int framesSent() const { return framesSent_; }
    int audioBlocksSent() const { return audioBlocksSent_; }
    std::string lastError() const;

private:
    bool fail(const std::string& what);

    const StandInOptions options_;
    CommandClient command_;
    MediaSender video_;
    std::unique_ptr<MediaSender> audio_;
    std::unique_ptr<TestPatternEncoder> encoder_;
    PcmGenerator pcm_;
    std::optional<HelloReply> hello_;
    std::optional<Json::Value> disconnectReply_;
    int fps_ = 30;
    int framesSent_ = 0;       // written by the thread in streamVideo
    int audioBlocksSent_ = 0;  // written by the thread in streamAudio

    mutable std::mutex errorMutex_;  // guards lastError_ (both stream threads may fail)
    std::string lastError_;
};

}  // namespace zucam::phone
