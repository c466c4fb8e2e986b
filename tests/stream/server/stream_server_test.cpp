// The Wi-Fi transport driven directly (as the hub's thread would): media
// ports probed above the base port, a repeated hello keeping the servers
// with the new key, events before any server, and Close.
#include <gtest/gtest.h>

#include <cstdio>

#include "server/stream_server.h"
#include "server_test_util.h"
#include "stream_manager.h"

using namespace servertest;

namespace {

class StreamServerTest : public testing::Test {
protected:
    void SetUp() override {
        hub_ = MakeHub();
        // The base and the ports the cases look at above it.
        base_ = FindFreePortRange(6);
        ASSERT_NE(base_, 0);
        server_ = std::make_unique<StreamServer>(base_, hub_->reactor(), hub_.get());
    }
    void TearDown() override {
        server_.reset();
        hub_.reset();
    }

    bool OpenVideo(const std::string& key, uint16_t port = 0) {
        return server_->OpenVideoReceiver(false, port, key, std::string(), {}, {&videoSink_});
    }

    // Sends a key and a video packet to the video port and activates as the
    // hub would, until the decoder has the frame (or the time runs out).
    bool StreamReachesDecoder(TestClient* client, const std::string& key, const std::string& frame,
                              milliseconds timeout = kWait) {
        if (!client->SendAll(KeyPacket(key) + VideoPacket(frame))) return false;
        return WaitUntil(
            [&] {
            server_->HandleEvent(kStreamEventStreamConnected);
            const std::vector<std::string> pushes = decoders_.log().Pushes();
            return !pushes.empty() && pushes.back() == frame;
            },
            timeout);
    }

    ScopedRecordingDecoders decoders_;
    NullVideoSink videoSink_;
    std::unique_ptr<StreamManager> hub_;
    uint16_t base_ = 0;
    std::unique_ptr<StreamServer> server_;
};

TEST_F(StreamServerTest, MediaServersTakeTheFirstFreePortsAboveTheBase) {
    PortBlocker videoTaken(static_cast<uint16_t>(base_ + 1));
    PortBlocker audioTaken(static_cast<uint16_t>(base_ + 3));
    ASSERT_TRUE(videoTaken.held() && audioTaken.held());

    EXPECT_FALSE(server_->OpenAudioReceiver(false, 0, "k", {})) << "no audio server without a video server";
    ASSERT_TRUE(OpenVideo("k"));
    EXPECT_EQ(server_->GetVideoPort(), base_ + 2);
    ASSERT_TRUE(server_->OpenAudioReceiver(false, 0, "k", {}));
    EXPECT_EQ(server_->GetAudioPort(), base_ + 4) << "the audio port is probed above the video port";
}

TEST_F(StreamServerTest, GivenPortIsTriedOnceOnly) {
    PortBlocker taken(static_cast<uint16_t>(base_ + 1));
    ASSERT_TRUE(taken.held());
    EXPECT_FALSE(OpenVideo("k", static_cast<uint16_t>(base_ + 1)));
    EXPECT_EQ(server_->GetVideoPort(), 0);
    ASSERT_TRUE(OpenVideo("k", static_cast<uint16_t>(base_ + 4)));
    EXPECT_EQ(server_->GetVideoPort(), base_ + 4);
    EXPECT_FALSE(server_->OpenAudioReceiver(false, static_cast<uint16_t>(base_ + 1), "k", {}));
    EXPECT_EQ(server_->GetAudioPort(), 0);
    ASSERT_TRUE(server_->OpenAudioReceiver(false, static_cast<uint16_t>(base_ + 5), "k", {}));
    EXPECT_EQ(server_->GetAudioPort(), base_ + 5);
}

TEST_F(StreamServerTest, P2pMediaAnnounceTheLibrarysPortAndNoAudio) {
    ASSERT_TRUE(server_->OpenVideoReceiver(true, 40000, "k", std::string(), {}, {}));
    EXPECT_NE(server_->GetVideoPort(), 0);
    EXPECT_NE(server_->GetVideoPort(), 40000) << "the phone's port is not the library's";
    EXPECT_FALSE(server_->OpenAudioReceiver(false, 0, "k", {}));
    server_->Close();
    EXPECT_EQ(server_->GetVideoPort(), 0);
}

TEST_F(StreamServerTest, RepeatedHelloKeepsTheServersAndTakesTheNewKey) {
    ASSERT_TRUE(OpenVideo("{first}"));
    ASSERT_TRUE(server_->OpenAudioReceiver(false, 0, "{first}", {}));
    const uint16_t videoPort = server_->GetVideoPort();
    const uint16_t audioPort = server_->GetAudioPort();

    ASSERT_TRUE(OpenVideo("{second}"));
    ASSERT_TRUE(server_->OpenAudioReceiver(false, 0, "{second}", {}));
    EXPECT_EQ(server_->GetVideoPort(), videoPort);
    EXPECT_EQ(server_->GetAudioPort(), audioPort);
    EXPECT_EQ(decoders_.log().decodersMade, 1) << "the first video server is kept, not remade";

    // The phone connects with the key of the latest answer.
    TestClient video(videoPort);
    ASSERT_TRUE(video.connected());
    EXPECT_TRUE(StreamReachesDecoder(&video, "{second}", "frame"));
}

TEST_F(StreamServerTest, StaleKeyIsRefusedAfterARepeatedHello) {
    ASSERT_TRUE(OpenVideo("{first}"));
    ASSERT_TRUE(OpenVideo("{second}"));
    TestClient video(server_->GetVideoPort());
    ASSERT_TRUE(video.connected());
    EXPECT_FALSE(StreamReachesDecoder(&video, "{first}", "frame", milliseconds(300)));
}

TEST_F(StreamServerTest, EventsForServersThatDoNotExistDoNothing) {
    for (const int event : std::vector<int>{kStreamEventCommandConnected, kStreamEventStreamConnected,
                                            kStreamEventAudioConnected, kStreamEventReceiverClosed, 0, 99}) {
        server_->HandleEvent(event);
    }
    EXPECT_EQ(server_->GetVideoPort(), 0);
    EXPECT_EQ(server_->GetAudioPort(), 0);
    // Still fully usable.
    ASSERT_TRUE(server_->Start());
    ASSERT_TRUE(OpenVideo("k"));
}

// A reply the hub sends while no phone holds the command port (between
// sessions, or before the accept is handled) closes nothing.
TEST_F(StreamServerTest, ReplyWithoutCommandClientKeepsTheMediaServers) {
    ASSERT_TRUE(server_->Start());
    ASSERT_TRUE(OpenVideo("k"));
    const uint16_t videoPort = server_->GetVideoPort();
    server_->SendCommand("{}");
    EXPECT_EQ(server_->GetVideoPort(), videoPort);
    TestClient video(videoPort);
    EXPECT_TRUE(video.connected());
}

TEST_F(StreamServerTest, CloseDropsTheMediaServersAndKeepsTheCommandPort) {
    ASSERT_TRUE(server_->Start());
    ASSERT_TRUE(OpenVideo("k"));
    ASSERT_TRUE(server_->OpenAudioReceiver(false, 0, "k", {}));
    const uint16_t videoPort = server_->GetVideoPort();
    const uint16_t audioPort = server_->GetAudioPort();
    auto command = ConnectWhenListening(base_);
    ASSERT_TRUE(command->connected());
    ASSERT_TRUE(WaitUntil([&] {
        server_->HandleEvent(kStreamEventCommandConnected);
        server_->SendCommand("{}");
        return command->ReadFrame(milliseconds(20)).has_value();
    }));

    testing::internal::CaptureStderr();
    server_->HandleEvent(kStreamEventConnectionLost);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("close all connection\n"), std::string::npos);
    EXPECT_TRUE(command->WaitForClose());
    EXPECT_EQ(server_->GetVideoPort(), 0);
    EXPECT_EQ(server_->GetAudioPort(), 0);
    EXPECT_TRUE(PortIsFree(videoPort));
    EXPECT_TRUE(PortIsFree(audioPort));

    // The next phone gets the command port at once.
    TestClient next(base_);
    ASSERT_TRUE(next.connected());
    EXPECT_TRUE(WaitUntil([&] {
        server_->HandleEvent(kStreamEventCommandConnected);
        server_->SendCommand(R"({"again":true})");
        return next.ReadFrame(milliseconds(20)) == std::optional<std::string>(R"({"again":true})");
    }));
}

// The reactor may be inside poll() with the old listener when it is closed;
// the port must be free for the new one all the same (a restarted transport
// binds the same command port at once).
TEST_F(StreamServerTest, RestartRebindsTheCommandPortAtOnce) {
    for (int restart = 0; restart < 50; ++restart) {
        ASSERT_TRUE(server_->Start()) << "restart " << restart;
    }
    TestClient client(base_);
    EXPECT_TRUE(client.connected());
}

}  // namespace
