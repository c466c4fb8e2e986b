// The Wi-Fi transport behind a real hub on the fixed command port 10080,
// driven by a phone's protocol: hello, device name, disconnect, a repeated
// hello, a broken command. Media go to a recording decoder.
#include <gtest/gtest.h>

#include <chrono>

#include "server_test_util.h"
#include "stream_manager.h"

using namespace servertest;

namespace {

constexpr uint16_t kCommandPort = 10080;

class WifiTransportTest : public testing::Test {
protected:
    void SetUp() override {
        hub_ = MakeHub({&videoSink_});
        hub_->SetDeviceName("Desk PC");
        hub_->Start(kStreamTransportWifi);
        phone_ = ConnectWhenListening(kCommandPort);
        ASSERT_TRUE(phone_->connected());
    }
    void TearDown() override {
        phone_.reset();
        hub_.reset();
    }

    // One request and the frame that answers it.
    Json::Value Ask(TestClient* phone, const std::string& json) {
        if (!phone->SendAll(CommandFrame(json))) return Json::Value();
        const std::optional<std::string> answer = phone->ReadFrame();
        return answer ? ParseJson(*answer) : Json::Value();
    }
    Json::Value Hello() {
        const Json::Value reply = Ask(phone_.get(), R"({"type":0,"data":{"name":"Pixel","fps":30}})");
        return reply["data"];
    }

    ScopedRecordingDecoders decoders_;
    NullVideoSink videoSink_;
    std::unique_ptr<StreamManager> hub_;
    std::unique_ptr<TestClient> phone_;
};

TEST_F(WifiTransportTest, DeviceNameAnswersComeWithoutWaitingForThePollTimeOut) {
    const Json::Value answer = Ask(phone_.get(), R"({"type":1001})");
    EXPECT_EQ(answer["type"].asInt(), 1001);
    EXPECT_EQ(answer["name"].asString(), "Desk PC");

    // Each answer is queued on the hub's thread; the reactor is woken for it.
    // Were it left to the reactor's 100 ms poll time-out, 20 round trips
    // would take about a second.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(Ask(phone_.get(), R"({"type":1001})")["type"].asInt(), 1001);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(600));
}

TEST_F(WifiTransportTest, HelloOpensVideoAndAudioAboveTheCommandPort) {
    PortBlocker taken(10081);
    ASSERT_TRUE(taken.held()) << "10081 is in use by someone else";
    const Json::Value hello = Hello();
    ASSERT_TRUE(hello.isObject());
    EXPECT_EQ(hello["port"].asInt(), 10082);
    EXPECT_GE(hello["audio_port"].asInt(), 10083);
    const std::string key = hello["key"].asString();
    ASSERT_FALSE(key.empty());

    TestClient video(static_cast<uint16_t>(hello["port"].asInt()));
    ASSERT_TRUE(video.SendAll(KeyPacket(key) + VideoPacket("first frame", 1)));
    EXPECT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 2; }));
    EXPECT_EQ(decoders_.log().Pushes(), (std::vector<std::string>{kNullPush, "first frame"}));
}

TEST_F(WifiTransportTest, RepeatedHelloKeepsThePortsAndTheNewKeyOpensTheMedia) {
    const Json::Value first = Hello();
    const Json::Value second = Hello();
    ASSERT_TRUE(first.isObject() && second.isObject());
    EXPECT_EQ(second["port"], first["port"]);
    EXPECT_EQ(second["audio_port"], first["audio_port"]);
    ASSERT_NE(second["key"].asString(), first["key"].asString());

    TestClient video(static_cast<uint16_t>(second["port"].asInt()));
    ASSERT_TRUE(video.SendAll(KeyPacket(second["key"].asString()) + VideoPacket("with the new key")));
    EXPECT_TRUE(WaitUntil([&] { return decoders_.log().PushCount() == 2; }));
    EXPECT_EQ(decoders_.log().Pushes().back(), "with the new key");
}

TEST_F(WifiTransportTest, WrongMediaKeyClosesThePhoneConnectionButNotTheCommandPort) {
    const Json::Value hello = Hello();
    ASSERT_TRUE(hello.isObject());
    TestClient video(static_cast<uint16_t>(hello["port"].asInt()));
    ASSERT_TRUE(video.SendAll(KeyPacket("{not the key}") + VideoPacket("rejected")));
    EXPECT_TRUE(phone_->WaitForClose());
    EXPECT_TRUE(video.WaitForClose());
    EXPECT_EQ(decoders_.log().Pushes(), std::vector<std::string>{kNullPush});

    TestClient next(kCommandPort);
    EXPECT_EQ(Ask(&next, R"({"type":1001})")["name"].asString(), "Desk PC");
}

TEST_F(WifiTransportTest, DisconnectAnswerArrivesBeforeTheChannelCloses) {
    ASSERT_TRUE(Hello().isObject());
    const Json::Value answer = Ask(phone_.get(), R"({"type":2})");
    EXPECT_EQ(answer["type"].asInt(), 0);
    EXPECT_EQ(answer["version"].asString(), "1.0");
    EXPECT_TRUE(phone_->WaitForClose());
}

TEST_F(WifiTransportTest, BrokenCommandsCloseTheChannelAndTheNextPhoneIsServed) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(phone_->SendAll(CommandFrame("not json")));
        EXPECT_TRUE(phone_->WaitForClose());
        phone_ = ConnectWhenListening(kCommandPort);
        EXPECT_EQ(Ask(phone_.get(), R"({"type":1001})")["name"].asString(), "Desk PC");
    }
}

TEST_F(WifiTransportTest, CommandsOfOneWriteAreAnsweredInOrder) {
    ASSERT_TRUE(phone_->SendAll(CommandFrame(R"({"type":0,"data":{"name":"Pixel"}})") +
                                CommandFrame(R"({"type":1001})") + CommandFrame(R"({"type":4})")));
    const std::optional<std::string> first = phone_->ReadFrame();
    const std::optional<std::string> second = phone_->ReadFrame();
    const std::optional<std::string> third = phone_->ReadFrame();
    ASSERT_TRUE(first && second && third);
    EXPECT_TRUE(ParseJson(*first)["data"].isMember("key")) << *first;
    EXPECT_EQ(ParseJson(*second)["type"].asInt(), 1001) << *second;
    EXPECT_EQ(ParseJson(*third)["type"].asInt(), 0) << *third;
    EXPECT_FALSE(ParseJson(*third)["data"].isMember("key")) << *third;
}

}  // namespace
