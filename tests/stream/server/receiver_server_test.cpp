// The media servers: key check, video to the decoder and audio to every
// sink in order, hostile audio dropped, a reconnect starting clean, big
// reads, and destruction while the phone is still sending.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <thread>

#include "server_test_util.h"
#include "socket/async_conneciton.h"
#include "stream_manager.h"

using namespace servertest;

namespace {

const std::string kKey = "{6f1c2d3e-0000-4000-8000-00000000beef}";

std::string Pcm(size_t bytes, char seed) {
    std::string pcm(bytes, '\0');
    for (size_t i = 0; i < bytes; ++i) pcm[i] = static_cast<char>(seed + static_cast<char>(i));
    return pcm;
}

class ReceiverServerTest : public testing::Test {
protected:
    void SetUp() override {
        hub_ = MakeHub();
        server_ = std::make_unique<Watched<ReceiverServer>>(
            &log_, kKey, std::string(), hub_->reactor(), hub_.get(),
            std::vector<StreamAudioSink*>{&sinkA_, &sinkB_}, std::vector<StreamVideoSink*>{&videoSink_});
        ASSERT_TRUE(ListenAnywhere(server_.get()));
    }
    void TearDown() override {
        server_.reset();
        hub_.reset();
    }

    // Connects, waits for the accept and activates, as the hub would.
    std::unique_ptr<TestClient> ConnectActive() {
        const int before = log_.EventCount(kStreamEventStreamConnected);
        auto client = std::make_unique<TestClient>(server_->port());
        EXPECT_TRUE(client->connected());
        EXPECT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventStreamConnected) > before; }));
        server_->ActivateConnection();
        return client;
    }

    ScopedRecordingDecoders decoders_;
    NullVideoSink videoSink_;
    RecordingAudioSink sinkA_;
    RecordingAudioSink sinkB_;
    HubLog log_;
    std::unique_ptr<StreamManager> hub_;
    std::unique_ptr<Watched<ReceiverServer>> server_;
};

TEST_F(ReceiverServerTest, MediaAfterTheRightKeyReachesTheDecoderAndEverySinkInOrder) {
    auto client = ConnectActive();
    const std::string stereo = Pcm(8, 'a');  // two frames of two channels
    const std::string mono = Pcm(6, 'k');    // three frames of one channel
    ASSERT_TRUE(client->SendAll(KeyPacket(kKey) + VideoPacket("frame-1", 1) + AudioPacket(stereo, 48000, 2) +
                                VideoPacket("frame-2") + AudioPacket(mono, 16000, 1)));
    ASSERT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 3 && sinkB_.CallCount() == 2; }));
    // The accept ended the decoder's (empty) previous stream first.
    EXPECT_EQ(decoders_.log().Pushes(), (std::vector<std::string>{kNullPush, "frame-1", "frame-2"}));
    for (const RecordingAudioSink* sink : {&sinkA_, &sinkB_}) {
        const std::vector<AudioCall> calls = sink->Calls();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].pcm, stereo);
        EXPECT_EQ(calls[0].samplesPerChannel, 2);
        EXPECT_EQ(calls[0].sampleRate, 48000);
        EXPECT_EQ(calls[0].channels, 2);
        EXPECT_EQ(calls[1].pcm, mono);
        EXPECT_EQ(calls[1].samplesPerChannel, 3);
        EXPECT_EQ(calls[1].sampleRate, 16000);
        EXPECT_EQ(calls[1].channels, 1);
    }
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 0);
}

TEST_F(ReceiverServerTest, StreamWithoutKeyPacketIsAccepted) {
    auto client = ConnectActive();
    ASSERT_TRUE(client->SendAll(VideoPacket("no key needed") + AudioPacket(Pcm(4, 'x'), 44100, 2)));
    ASSERT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 2 && sinkA_.CallCount() == 1; }));
    EXPECT_EQ(decoders_.log().Pushes().back(), "no key needed");
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 0);
}

TEST_F(ReceiverServerTest, WrongKeyEndsTheConnectionAndDeliversNoMedia) {
    auto client = ConnectActive();
    ASSERT_TRUE(client->SendAll(KeyPacket("{another key}") + VideoPacket("must not pass") +
                                AudioPacket(Pcm(4, 'x'), 44100, 2)));
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventConnectionLost) == 1; }));
    // Whatever the phone sends afterwards is not media either.
    ASSERT_TRUE(client->SendAll(VideoPacket("later") + AudioPacket(Pcm(4, 'y'), 44100, 2)));
    Settle(milliseconds(100));
    EXPECT_EQ(decoders_.log().Pushes(), std::vector<std::string>{kNullPush});
    EXPECT_EQ(sinkA_.CallCount(), 0u);
    EXPECT_EQ(sinkB_.CallCount(), 0u);
}

TEST_F(ReceiverServerTest, KeyComparisonIsExact) {
    // A prefix, the key with a byte more, and a different letter case.
    std::string upper = kKey;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& wrong : {kKey.substr(0, kKey.size() - 1), kKey + "}", upper}) {
        SCOPED_TRACE(wrong);
        const int lost = log_.EventCount(kStreamEventConnectionLost);
        auto client = ConnectActive();
        ASSERT_TRUE(client->SendAll(KeyPacket(wrong) + AudioPacket(Pcm(2, 'x'), 8000, 1)));
        ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventConnectionLost) == lost + 1; }));
        server_->CloseConnection();
    }
    EXPECT_EQ(sinkA_.CallCount(), 0u);
}

TEST_F(ReceiverServerTest, SetKeyGovernsTheNextKeyPacket) {
    server_->SetKey("{new key}");
    auto stale = ConnectActive();
    ASSERT_TRUE(stale->SendAll(KeyPacket(kKey) + AudioPacket(Pcm(2, 's'), 8000, 1)));
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventConnectionLost) == 1; }));
    server_->CloseConnection();

    auto fresh = ConnectActive();
    ASSERT_TRUE(fresh->SendAll(KeyPacket("{new key}") + AudioPacket(Pcm(2, 'f'), 8000, 1)));
    ASSERT_TRUE(WaitUntil([&] { return sinkA_.CallCount() == 1; }));
    EXPECT_EQ(sinkA_.Calls()[0].pcm, Pcm(2, 'f'));
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 1);
}

TEST_F(ReceiverServerTest, ReconnectResetsTheDecoderAndStartsWithAnEmptyPacketBuffer) {
    auto first = ConnectActive();
    // A whole packet, then the first half of one whose rest never comes.
    const std::string cut = VideoPacket("never completed");
    ASSERT_TRUE(first->SendAll(KeyPacket(kKey) + VideoPacket("whole") + cut.substr(0, cut.size() / 2)));
    ASSERT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 2; }));
    first->Close();
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventConnectionLost) == 1; }));
    server_->CloseConnection();

    auto second = ConnectActive();
    ASSERT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 3; }));
    ASSERT_TRUE(second->SendAll(KeyPacket(kKey) + VideoPacket("fresh stream", 1)));
    ASSERT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 4; }));
    EXPECT_EQ(decoders_.log().Pushes(), (std::vector<std::string>{kNullPush, "whole", kNullPush, "fresh stream"}));
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 1);
}

TEST_F(ReceiverServerTest, TurnedAwayClientDoesNotResetTheHeldStream) {
    auto held = ConnectActive();
    ASSERT_TRUE(held->SendAll(KeyPacket(kKey) + VideoPacket("one")));
    ASSERT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 2; }));
    TestClient intruder(server_->port());
    EXPECT_TRUE(intruder.WaitForClose());
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventStreamConnected) == 2; }));
    server_->ActivateConnection();
    ASSERT_TRUE(held->SendAll(VideoPacket("two")));
    ASSERT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 3; }));
    EXPECT_EQ(decoders_.log().Pushes(), (std::vector<std::string>{kNullPush, "one", "two"}));
}

struct AudioCase {
    const char* what;
    uint32_t channels;
    uint32_t sampleRate;
    size_t bytes;
    bool delivered;
};

TEST_F(ReceiverServerTest, AudioOutsideTheSaneRangesIsDroppedAndTheStreamGoesOn) {
    const AudioCase cases[] = {
        {"no channels", 0, 48000, 4, false},
        {"nine channels", 9, 48000, 18, false},
        {"no rate", 2, 0, 4, false},
        {"rate below 8 kHz", 1, 7999, 2, false},
        {"rate above 192 kHz", 1, 192001, 2, false},
        {"odd byte count", 1, 48000, 3, false},
        {"half a stereo frame", 2, 48000, 6, false},
        {"lowest rate, mono", 1, 8000, 2, true},
        {"eight channels at 192 kHz", 8, 192000, 32, true},
        {"empty block", 2, 48000, 0, false},
    };
    std::string stream = KeyPacket(kKey);
    std::vector<const AudioCase*> expected;
    char seed = 'A';
    for (const AudioCase& audio : cases) {
        stream += AudioPacket(Pcm(audio.bytes, seed++), audio.sampleRate, audio.channels);
        if (audio.delivered) expected.push_back(&audio);
    }
    stream += VideoPacket("still running");

    auto client = ConnectActive();
    ASSERT_TRUE(client->SendAll(stream));
    ASSERT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 2; }));
    const std::vector<AudioCall> calls = sinkA_.Calls();
    ASSERT_EQ(calls.size(), expected.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(expected[i]->what);
        EXPECT_EQ(calls[i].channels, static_cast<int>(expected[i]->channels));
        EXPECT_EQ(calls[i].sampleRate, static_cast<int>(expected[i]->sampleRate));
        EXPECT_EQ(calls[i].samplesPerChannel, static_cast<int>(expected[i]->bytes / (expected[i]->channels * 2)));
    }
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 0);
}

TEST_F(ReceiverServerTest, BrokenStreamEndsTheConnection) {
    auto client = ConnectActive();
    // An unknown packet type cannot be skipped: the stream is lost.
    const std::string unknownType("\x00\x00\x00\x07\x00\x00\x00\x00\x00\x00\x00\x00", 12);
    ASSERT_TRUE(client->SendAll(unknownType + VideoPacket("after")));
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventConnectionLost) == 1; }));
    Settle(milliseconds(50));
    EXPECT_EQ(decoders_.log().Pushes(), std::vector<std::string>{kNullPush});
}

TEST_F(ReceiverServerTest, QueuedMediaIsReadInChunksLargerThanACommandRead) {
    // Sent before activation, so that the kernel holds a backlog that the
    // first reads can take in large chunks.
    const std::string big = VideoPacket(Pcm(1 << 20, 'b'), 1);
    const int before = log_.EventCount(kStreamEventStreamConnected);
    TestClient client(server_->port());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventStreamConnected) > before; }));
    std::thread sender([&] { client.SendAll(big); });
    Settle(milliseconds(100));
    server_->ActivateConnection();
    const bool arrived = WaitUntil([&] { return decoders_.log().PushCount() == 2; });
    sender.join();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(decoders_.log().Pushes().back(), Pcm(1 << 20, 'b'));
    EXPECT_GT(server_->maxRead(), AsyncConneciton::kDefaultReadBufferSize);
}

TEST(AudioReceiverServerTest, AnnouncesAudioConnectionsAndDropsVideo) {
    ScopedRecordingDecoders decoders;
    RecordingAudioSink sink;
    HubLog log;
    auto hub = MakeHub();
    Watched<AudioReceiverServer> server(&log, kKey, hub->reactor(), hub.get(), std::vector<StreamAudioSink*>{&sink});
    ASSERT_TRUE(ListenAnywhere(&server));

    TestClient client(server.port());
    ASSERT_TRUE(WaitUntil([&] { return log.EventCount(kStreamEventAudioConnected) == 1; }));
    EXPECT_EQ(log.EventCount(kStreamEventStreamConnected), 0);
    server.ActivateConnection();
    ASSERT_TRUE(client.SendAll(KeyPacket(kKey) + VideoPacket("not here") + AudioPacket(Pcm(4, 'm'), 48000, 1)));
    ASSERT_TRUE(WaitUntil([&] { return sink.CallCount() == 1; }));
    EXPECT_EQ(sink.Calls()[0].samplesPerChannel, 2);
    EXPECT_EQ(decoders.log().decodersMade, 0) << "an audio server has no decoder";
    EXPECT_EQ(decoders.log().PushCount(), 0u);

    // Its key is checked like the video server's.
    server.CloseConnection();
    TestClient wrong(server.port());
    ASSERT_TRUE(WaitUntil([&] { return log.EventCount(kStreamEventAudioConnected) == 2; }));
    server.ActivateConnection();
    ASSERT_TRUE(wrong.SendAll(KeyPacket("{wrong}") + AudioPacket(Pcm(4, 'w'), 48000, 1)));
    ASSERT_TRUE(WaitUntil([&] { return log.EventCount(kStreamEventConnectionLost) == 1; }));
    EXPECT_EQ(sink.CallCount(), 1u);
}

// The phone keeps sending while the server is destroyed. The decoder's
// destructor lingers, as a real one does while it joins its thread; the
// server must have left the reactor before that, so nothing may reach the
// decoder or the sinks meanwhile (under ASan a late read would also touch
// freed members). A plain ReceiverServer: its own destructor order counts.
TEST(ReceiverServerDestructionTest, DestroyingWhileMediaFlowsStopsAllDeliveryFirst) {
    ScopedRecordingDecoders decoders;
    decoders.log().destroyDelayMs = 20;
    NullVideoSink videoSink;
    RecordingAudioSink sink(&decoders.log());
    auto hub = MakeHub();

    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        decoders.log().decoderGone.store(false);
        const size_t pushesBefore = decoders.log().PushCount();
        const size_t audioBefore = sink.CallCount();
        auto server = std::make_unique<ReceiverServer>(kKey, std::string(), hub->reactor(), hub.get(),
                                                       std::vector<StreamAudioSink*>{&sink},
                                                       std::vector<StreamVideoSink*>{&videoSink});
        ASSERT_TRUE(ListenAnywhere(server.get()));

        std::atomic<bool> stop{false};
        TestClient client(server->port());
        ASSERT_TRUE(client.connected());
        std::thread phone([&] {
            const std::string burst = VideoPacket(Pcm(3000, 'v')) + AudioPacket(Pcm(960, 'a'), 48000, 2);
            if (!client.SendAll(KeyPacket(kKey))) return;
            // About a phone's pace (a few MB/s), not flat out: a saturating
            // sender keeps the reactor's lock so busy that the hub's Remove
            // may wait long for its turn.
            while (!stop.load() && client.SendAll(burst)) std::this_thread::sleep_for(milliseconds(1));
        });
        // The accept pushes a null packet: the hub would activate now.
        const bool accepted = WaitUntil([&] { return decoders.log().PushCount() > pushesBefore; });
        if (accepted) server->ActivateConnection();
        const bool flowing = WaitUntil([&] {
            return decoders.log().PushCount() > pushesBefore + 20 && sink.CallCount() > audioBefore + 20;
        });
        server.reset();
        stop.store(true);
        // The sending thread uses the socket until it has returned: join it
        // first. Its sends fail soon, as the server's side is closed.
        phone.join();
        client.Close();
        ASSERT_TRUE(accepted);
        ASSERT_TRUE(flowing);
        EXPECT_EQ(decoders.log().pushesAfterGone.load(), 0);
        EXPECT_EQ(sink.callsAfterDecoderGone(), 0);
    }
}

}  // namespace
