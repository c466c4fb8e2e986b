// The P2P media connection: datagrams from the phone's side reach the
// decoder and the audio sinks in order despite reordering, losses drop whole
// messages only, a wrong key or a broken stream is reported once and
// nothing after it is delivered, and the connection goes away cleanly while
// the phone floods it.
#include <gtest/gtest.h>


#include <atomic>
#include <cstdlib>
#include <thread>

#include "p2p/zup2p_connection.h"
#include "stream/server/server_test_util.h"
#include "stream_manager.h"
#include "support/phone/p2p_sender.h"

using namespace servertest;
using zucam::phone::HeldUdpPort;
using zucam::phone::P2pSender;

namespace {

const std::string kKey = "{0b0e0e0f-0000-4000-8000-00000000cafe}";

// Reports go to a HubLog; the library stops before the log could be reached
// from a half-destroyed object.
class WatchedP2p : public Zup2pConnection {
public:
    WatchedP2p(HubLog* log, StreamManager* hub, const std::vector<StreamAudioSink*>& audioSinks,
               const std::vector<StreamVideoSink*>& videoSinks)
        : Zup2pConnection(kKey, std::string(), hub, audioSinks, videoSinks), log_(log) {}
    ~WatchedP2p() override { StopLibrary(); }

protected:
    void NotifyHub(int event) override { log_->AddEvent(event); }

private:
    HubLog* const log_;
};

class Zup2pConnectionTest : public testing::Test {
protected:
    void SetUp() override {
        hub_ = MakeHub();
        connection_ = std::make_unique<WatchedP2p>(&log_, hub_.get(), std::vector<StreamAudioSink*>{&sinkA_, &sinkB_},
                                                   std::vector<StreamVideoSink*>{&videoSink_});
        ASSERT_TRUE(connection_->Init(0));
        ASSERT_GT(connection_->BindPort(), 0);
        ASSERT_TRUE(phone_.open(static_cast<uint16_t>(connection_->BindPort()))) << phone_.lastError();
    }
    void TearDown() override {
        connection_.reset();
        hub_.reset();
    }

    ScopedRecordingDecoders decoders_;
    NullVideoSink videoSink_;
    RecordingAudioSink sinkA_{&decoders_.log()};
    RecordingAudioSink sinkB_{&decoders_.log()};
    HubLog log_;
    std::unique_ptr<StreamManager> hub_;
    std::unique_ptr<WatchedP2p> connection_;
    P2pSender phone_;
};

TEST_F(Zup2pConnectionTest, ReorderedDatagramsReachTheDecoderAndEverySinkInArrivalOrder) {
    const std::string bigFrame(20000, 'k');
    auto key = phone_.fragment(KeyPacket(kKey));
    auto frame1 = phone_.fragment(VideoPacket(bigFrame, 1));  // 17 datagrams
    auto audio = phone_.fragment(AudioPacket(std::string(8, 'a'), 48000, 2));
    auto frame2 = phone_.fragment(VideoPacket("frame-2"));
    // The network turns everything around.
    std::vector<std::string> datagrams;
    datagrams.insert(datagrams.end(), frame2.begin(), frame2.end());
    datagrams.insert(datagrams.end(), audio.begin(), audio.end());
    datagrams.insert(datagrams.end(), frame1.rbegin(), frame1.rend());
    datagrams.insert(datagrams.end(), key.begin(), key.end());
    ASSERT_TRUE(phone_.sendDatagrams(datagrams));

    ASSERT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 2 && sinkB_.CallCount() == 1; }));
    EXPECT_EQ(decoders_.log().Pushes(), (std::vector<std::string>{bigFrame, "frame-2"}));
    EXPECT_EQ(decoders_.log().KeyFrames(), (std::vector<bool>{true, false}));
    for (const RecordingAudioSink* sink : {&sinkA_, &sinkB_}) {
        ASSERT_EQ(sink->CallCount(), 1u);
        EXPECT_EQ(sink->Calls()[0].samplesPerChannel, 2);
        EXPECT_EQ(sink->Calls()[0].channels, 2);
    }
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 0);
}

TEST_F(Zup2pConnectionTest, ALostDatagramCostsOneWholeFrameAndTheStreamGoesOn) {
    ASSERT_TRUE(phone_.sendMessage(KeyPacket(kKey)));
    auto lost = phone_.fragment(VideoPacket(std::string(5000, 'x')));
    lost.erase(lost.begin() + 2);  // one fragment never arrives
    ASSERT_TRUE(phone_.sendDatagrams(lost));
    for (int i = 0; i < 12; ++i) ASSERT_TRUE(phone_.sendMessage(VideoPacket("after-" + std::to_string(i))));
    ASSERT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 12; }));
    const std::vector<std::string> pushes = decoders_.log().Pushes();
    EXPECT_EQ(pushes.front(), "after-0");
    EXPECT_EQ(pushes.back(), "after-11");
    Settle(milliseconds(100));
    EXPECT_EQ(decoders_.log().PushCount(), 12u) << "no part of the lost frame is handed on";
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 0) << "the packet stream stayed aligned";
}

struct RefusedStream {
    const char* name;
    std::string firstMessage;
};

class Zup2pRefusalTest : public Zup2pConnectionTest, public testing::WithParamInterface<RefusedStream> {};

TEST_P(Zup2pRefusalTest, IsReportedOnceAndNothingAfterItIsDelivered) {
    ASSERT_TRUE(phone_.sendMessage(KeyPacket(kKey)));  // the phone proves itself first
    ASSERT_TRUE(phone_.sendMessage(GetParam().firstMessage));
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventConnectionLost) == 1; }));
    // The phone (or whoever holds its address) keeps sending, also the right key.
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(phone_.sendMessage(KeyPacket(kKey) + VideoPacket("late") +
                                       AudioPacket(std::string(4, 'a'), 48000, 1)));
    }
    Settle(milliseconds(200));
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 1);
    EXPECT_EQ(decoders_.log().PushCount(), 0u);
    EXPECT_EQ(sinkA_.CallCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Zup2pRefusalTest,
    testing::Values(RefusedStream{"WrongKey", KeyPacket("{another-connection}") + VideoPacket("v")},
                    RefusedStream{"NotAPacket", std::string("ZP2P-forged-datagram")},
                    RefusedStream{"UnknownPacketType", std::string("\0\0\0\3\0\0\0\0\0\0\0\0", 12)},
                    RefusedStream{"PayloadTooLong", std::string("\0\0\0\1\0\0\0\0\x04\0\0\0", 12)}),
    [](const testing::TestParamInfo<RefusedStream>& param) { return std::string(param.param.name); });

// A stranger who found the port before the phone's first datagram: what it
// sends first does not make it the phone, ends nothing, and the phone's
// stream that follows is delivered whole.
TEST_P(Zup2pRefusalTest, FromAStrangerBeforeThePhoneEndsNothing) {
    P2pSender stranger;
    ASSERT_TRUE(stranger.open(static_cast<uint16_t>(connection_->BindPort())));
    ASSERT_TRUE(stranger.sendMessage(GetParam().firstMessage));
    ASSERT_TRUE(stranger.sendMessage(VideoPacket("stranger's")));  // a refused sender stays refused
    ASSERT_TRUE(phone_.sendMessage(KeyPacket(kKey)));
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(phone_.sendMessage(VideoPacket("frame-" + std::to_string(i))));
        if (i % 20 == 19) {
            ASSERT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == static_cast<size_t>(i + 1); }));
        }
    }
    ASSERT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 200; }));
    const std::vector<std::string> pushes = decoders_.log().Pushes();
    EXPECT_EQ(pushes.front(), "frame-0");
    EXPECT_EQ(pushes.back(), "frame-199");
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 0);
}

TEST_F(Zup2pConnectionTest, AudioWithImpossibleChannelCountsIsDropped) {
    ASSERT_TRUE(phone_.sendMessage(KeyPacket(kKey) + AudioPacket(std::string(8, 'a'), 48000, 0) +
                                   AudioPacket(std::string(18, 'b'), 48000, 9) +
                                   AudioPacket(std::string(6, 'c'), 48000, 2) +  // not whole frames
                                   AudioPacket(std::string(4, 'd'), 48000, 1)));
    ASSERT_TRUE(WaitUntil([&] { return sinkA_.CallCount() == 1; }));
    Settle(milliseconds(50));
    ASSERT_EQ(sinkA_.CallCount(), 1u);
    EXPECT_EQ(sinkA_.Calls()[0].pcm, std::string(4, 'd'));
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 0);
}

TEST_F(Zup2pConnectionTest, GoesAwayWhileThePhoneFloodsIt) {
    std::atomic<bool> flooding{true};
    const uint16_t port = static_cast<uint16_t>(connection_->BindPort());
    std::thread flood([&] {
        P2pSender phone;
        if (!phone.open(port)) return;
        // Not the first peer: these are refused; the fixture's phone feeds.
        while (flooding.load()) phone.sendMessage(VideoPacket(std::string(3000, 'z')));
    });
    ASSERT_TRUE(phone_.sendMessage(KeyPacket(kKey)));
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(phone_.sendMessage(VideoPacket(std::string(3000, 'v')) +
                                       AudioPacket(std::string(400, 'a'), 48000, 2)));
    }
    ASSERT_TRUE(WaitUntil([&] { return sinkA_.CallCount() > 10; }));
    connection_.reset();  // the library stops, then the decoder goes
    flooding.store(false);
    flood.join();
    EXPECT_EQ(decoders_.log().pushesAfterGone.load(), 0);
    EXPECT_EQ(sinkA_.callsAfterDecoderGone(), 0);
}

TEST(Zup2pConnectionInitTest, ALibraryThatCannotBindFailsInitAndAnnouncesNoPort) {
    HeldUdpPort held;
    ASSERT_NE(held.port(), 0);
    setenv(zu::Zup2p::kPortEnvironment, std::to_string(held.port()).c_str(), 1);
    auto hub = MakeHub();
    Zup2pConnection connection(kKey, std::string(), hub.get(), {}, {});
    EXPECT_FALSE(connection.Init(0));
    EXPECT_EQ(connection.BindPort(), 0);
    unsetenv(zu::Zup2p::kPortEnvironment);
    EXPECT_TRUE(connection.Init(0));
    EXPECT_GT(connection.BindPort(), 0);
}

}  // namespace
