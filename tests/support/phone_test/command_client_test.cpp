// The command client against a fake program: what goes on the wire, how
// replies are read back (split, partial, malformed, after a close) and the
// hello exchange.
#include <gtest/gtest.h>
#include <json/value.h>

#include <chrono>
#include <thread>

#include "support/phone/command_client.h"
#include "support/phone_test/loopback_listener.h"

namespace zucam::phone {
namespace {

using namespace std::chrono_literals;
using test::FakePeer;
using test::LoopbackListener;

constexpr Millis kWait = 5s;  // for things that must happen
constexpr Millis kQuiet = 150ms;  // for things that must not

const std::string kKey = "{8c1e5a7e-0b52-4c3e-9d7a-2f6b1c9e4d10}";

std::string helloReplyText(const std::string& extra = R"(,"audio_port":10082)") {
    return R"({"type":0,"version":"1.0","data":{"port":10081,"key":")" + kKey + R"(","bite_rate":4)" + extra +
           "}}";
}

class PhoneStandInCommand : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(listener_.valid());
        ASSERT_TRUE(client_.connect("127.0.0.1", listener_.port(), kWait)) << client_.lastError();
        auto accepted = listener_.accept(kWait);
        ASSERT_TRUE(accepted);
        peer_.emplace(std::move(*accepted));
    }

    FakePeer& peer() { return *peer_; }

    LoopbackListener listener_;
    CommandClient client_;
    std::optional<FakePeer> peer_;
};

TEST_F(PhoneStandInCommand, MessageGoesOutAsOneFrameOfCompactUtf8Json) {
    Json::Value data(Json::objectValue);
    data["name"] = std::string(300, 'n') + "\xc3\xbc";  // long enough for a two-byte length
    data["fps"] = 30;
    ASSERT_TRUE(client_.sendCommand(CommandType::Hello, data));

    const auto header = peer().readExact(4, kWait);
    ASSERT_TRUE(header);
    EXPECT_EQ(static_cast<unsigned char>((*header)[0]), 0);
    EXPECT_EQ(static_cast<unsigned char>((*header)[1]), 0);
    EXPECT_EQ(static_cast<unsigned char>((*header)[2]), 1);
    const uint32_t length = test::ReadBigEndian32(*header);
    const auto payload = peer().readExact(length, kWait);
    ASSERT_TRUE(payload);
    EXPECT_TRUE(peer().staysQuiet(kQuiet)) << "bytes after the declared length";

    EXPECT_EQ(payload->find('\n'), std::string::npos);
    EXPECT_EQ(payload->find(": "), std::string::npos);
    EXPECT_NE(payload->find("\xc3\xbc"), std::string::npos) << "UTF-8 sent raw, not as \\u escapes";
    const auto message = ParseJson(*payload);
    ASSERT_TRUE(message) << *payload;
    EXPECT_EQ((*message)["version"], "1.0");
    EXPECT_EQ((*message)["type"], 0);
    EXPECT_EQ((*message)["data"], data);
}

TEST_F(PhoneStandInCommand, RawBytesAndFramesGoOutUntouched) {
    const std::string raw("\xff\xff\xff\xff{not json", 13);
    ASSERT_TRUE(client_.sendRawBytes(raw));
    ASSERT_TRUE(client_.sendFrame("{\"type\":"));
    EXPECT_EQ(peer().readExact(13, kWait), raw);
    EXPECT_EQ(peer().readExact(12, kWait), std::string("\x00\x00\x00\x08{\"type\":", 12));
}

TEST_F(PhoneStandInCommand, ReadsAReplyWrittenOneByteAtATime) {
    const std::string reply = R"({"type":1001,"version":"1.0","name":"desk"})";
    std::thread writer([&] {
        std::string frame = std::string("\x00\x00\x00", 3) + static_cast<char>(reply.size()) + reply;
        peer().writeByteByByte(frame, 500us);
    });
    const auto message = client_.readMessage(kWait);
    writer.join();
    ASSERT_TRUE(message) << client_.lastError();
    EXPECT_EQ((*message)["name"], "desk");
    EXPECT_EQ((*message)["type"], 1001);
}

TEST_F(PhoneStandInCommand, TwoFramesInOneWriteAreTwoMessages) {
    ASSERT_TRUE(peer().write(std::string("\x00\x00\x00\x02{}", 6) + std::string("\x00\x00\x00\x04[12]", 8)));
    const auto first = client_.readMessage(kWait);
    const auto second = client_.readMessage(kWait);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->isObject());
    EXPECT_EQ((*second)[0], 12);
    EXPECT_FALSE(client_.readMessage(kQuiet));
}

TEST_F(PhoneStandInCommand, TimeOutInsideAFrameKeepsWhatArrived) {
    const std::string frame = std::string("\x00\x00\x00\x0b", 4) + R"({"type":42})";
    ASSERT_TRUE(peer().write(frame.substr(0, 9)));
    EXPECT_FALSE(client_.readMessage(kQuiet));
    ASSERT_TRUE(peer().write(frame.substr(9)));
    const auto message = client_.readMessage(kWait);
    ASSERT_TRUE(message) << client_.lastError();
    EXPECT_EQ((*message)["type"], 42);
}

TEST_F(PhoneStandInCommand, FrameThatIsNotJsonIsReportedAndSkipped) {
    ASSERT_TRUE(peer().writeFrame("{\"type\":0,}"));
    ASSERT_TRUE(peer().writeFrame(R"({"type":0,"type":1})"));  // duplicate keys
    ASSERT_TRUE(peer().writeFrame(R"({"type":7})"));
    EXPECT_FALSE(client_.readMessage(kWait));
    EXPECT_NE(client_.lastError().find("not JSON"), std::string::npos) << client_.lastError();
    EXPECT_FALSE(client_.readMessage(kWait));
    const auto message = client_.readMessage(kWait);
    ASSERT_TRUE(message);
    EXPECT_EQ((*message)["type"], 7);
}

TEST_F(PhoneStandInCommand, CloseIsSeenAndFramesBeforeItStayReadable) {
    EXPECT_FALSE(client_.waitClosed(kQuiet));
    ASSERT_TRUE(peer().writeFrame(R"({"type":0,"version":"1.0","data":null})"));
    peer().close();
    EXPECT_TRUE(client_.waitClosed(kWait));
    const auto message = client_.readMessage(kWait);
    ASSERT_TRUE(message);
    EXPECT_TRUE((*message)["data"].isNull());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client_.readMessage(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "a closed channel must not wait out the time-out";
    EXPECT_NE(client_.lastError().find("closed"), std::string::npos);
}

TEST_F(PhoneStandInCommand, ChannelClosedInsideAFrameIsNotAMessage) {
    ASSERT_TRUE(peer().write(std::string("\x00\x00\x00\x20{\"ty", 8)));
    peer().close();
    EXPECT_FALSE(client_.readMessage(kWait));
    EXPECT_NE(client_.lastError().find("inside a frame"), std::string::npos) << client_.lastError();
}

TEST_F(PhoneStandInCommand, HelloSendsTheRequestAndParsesTheReply) {
    std::optional<std::string> request;
    std::thread program([&] {
        request = peer().readFrame(kWait);
        peer().writeFrame(helloReplyText());
    });
    const auto reply = client_.hello("Pixel", 25, 640, 480, kWait);
    program.join();

    ASSERT_TRUE(request);
    const auto sent = ParseJson(*request);
    ASSERT_TRUE(sent);
    EXPECT_EQ((*sent)["type"], 0);
    EXPECT_EQ((*sent)["version"], "1.0");
    EXPECT_EQ((*sent)["data"]["name"], "Pixel");
    EXPECT_EQ((*sent)["data"]["fps"], 25);
    EXPECT_EQ((*sent)["data"]["width"], 640);
    EXPECT_EQ((*sent)["data"]["height"], 480);
    EXPECT_FALSE((*sent)["data"].isMember("udpPort"));

    ASSERT_TRUE(reply) << client_.lastError();
    EXPECT_EQ(reply->videoPort, 10081);
    EXPECT_EQ(reply->audioPort, 10082);
    EXPECT_EQ(reply->key, kKey);
    EXPECT_EQ(reply->biteRate, 4);
    EXPECT_FALSE(reply->udpPort);
}

TEST_F(PhoneStandInCommand, HelloWithoutAnswerTimesOut) {
    EXPECT_FALSE(client_.hello("Pixel", 30, 320, 240, kQuiet));
    EXPECT_TRUE(peer().readFrame(kWait)) << "the request went out";
}

TEST(PhoneStandInHelloReply, ShapesThatAreAcceptedOrRefused) {
    struct Case {
        std::string text;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {helloReplyText(), true},
        {helloReplyText(""), true},  // no audio server
        {helloReplyText(R"(,"udpPort":40000)"), true},
        {R"({"type":0,"version":"1.0","data":{"port":"10081","key":"k"}})", false},
        {R"({"type":0,"version":"1.0","data":{"port":0,"key":"k"}})", true},  // the iOS USB reply
        {R"({"type":0,"version":"1.0","data":{"port":65536,"key":"k"}})", false},
        {R"({"type":0,"version":"1.0","data":{"port":10081.5,"key":"k"}})", false},
        {R"({"type":0,"version":"1.0","data":{"port":10081}})", false},
        {R"({"type":0,"version":"1.0","data":{"port":10081,"key":"k","audio_port":-1}})", false},
        {R"({"type":0,"version":"1.0","data":null})", false},
        {R"({"type":1001,"version":"1.0","data":{"port":10081,"key":"k"}})", false},
        {R"({"type":0,"data":{"port":10081,"key":"k"}})", false},
    };
    for (const Case& c : cases) {
        const auto message = ParseJson(c.text);
        ASSERT_TRUE(message) << c.text;
        std::string error;
        const auto reply = CommandClient::ParseHelloReply(*message, &error);
        EXPECT_EQ(reply.has_value(), c.accepted) << c.text << " " << error;
        EXPECT_EQ(error.empty(), c.accepted) << c.text;
    }
    const auto noAudio = CommandClient::ParseHelloReply(*ParseJson(helloReplyText("")), nullptr);
    ASSERT_TRUE(noAudio);
    EXPECT_FALSE(noAudio->audioPort);
}

TEST(PhoneStandInHelloReply, BracedUuidCheck) {
    EXPECT_TRUE(LooksLikeBracedUuid(kKey));
    EXPECT_TRUE(LooksLikeBracedUuid("{8C1E5A7E-0B52-4C3E-9D7A-2F6B1C9E4D10}"));
    EXPECT_FALSE(LooksLikeBracedUuid("8c1e5a7e-0b52-4c3e-9d7a-2f6b1c9e4d10"));
    EXPECT_FALSE(LooksLikeBracedUuid("{8c1e5a7e-0b52-4c3e-9d7a-2f6b1c9e4d1}"));
    EXPECT_FALSE(LooksLikeBracedUuid("{8c1e5a7e00b52-4c3e-9d7a-2f6b1c9e4d10}"));
    EXPECT_FALSE(LooksLikeBracedUuid("{8c1e5a7e-0b52-4c3e-9d7a-2f6b1c9e4g10}"));
}

TEST(PhoneStandInCommandConnect, ToAClosedPortFails) {
    uint16_t port = 0;
    {
        LoopbackListener gone;
        port = gone.port();
    }
    CommandClient client;
    EXPECT_FALSE(client.connect("127.0.0.1", port, kWait));
    EXPECT_FALSE(client.lastError().empty());
    EXPECT_FALSE(client.connect("localhost", port, kWait)) << "names are not looked up";
    EXPECT_FALSE(client.sendCommand(CommandType::Disconnect));
}

}  // namespace
}  // namespace zucam::phone
