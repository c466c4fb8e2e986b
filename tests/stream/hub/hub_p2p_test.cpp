// A Wi-Fi hello with "udpPort": the media come through the P2P library.
#include <json/json.h>

#include <cstdlib>

#include "hub_fixture.h"
#include "support/phone/media_packet.h"
#include "support/phone/p2p_sender.h"

namespace zucam::test {
namespace {

using phone::CommandClient;
using phone::HeldUdpPort;
using phone::MediaPacket;
using phone::P2pSender;

Json::Value P2pHello() {
    Json::Value data(Json::objectValue);
    data["name"] = "Pixel";
    data["udpPort"] = 40000;  // the phone's own UDP port; any non-zero value asks for P2P
    return data;
}

TEST_F(HubTest, P2pHelloAnnouncesTheLibraryPortAndItsDatagramsReachTheDecoder) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    const auto reply = phone.helloWithData(P2pHello());
    ASSERT_TRUE(reply.has_value()) << phone.lastError();
    ASSERT_TRUE(reply->udpPort.has_value());
    EXPECT_NE(reply->videoPort, 0);
    EXPECT_EQ(*reply->udpPort, reply->videoPort);
    EXPECT_FALSE(reply->audioPort.has_value());
    ASSERT_TRUE(signals_->waitFor("OnNewConnection"));

    // The announced port is the library's: media sent there are decoded.
    P2pSender media;
    ASSERT_TRUE(media.open(reply->videoPort)) << media.lastError();
    ASSERT_TRUE(media.sendMessage(MediaPacket::key(reply->key)));
    ASSERT_TRUE(media.sendMessage(MediaPacket::video(std::string(4000, 'i'), true)));
    ASSERT_TRUE(media.sendMessage(MediaPacket::audio({1, 2, 3, 4}, 48000, 2)));
    ASSERT_TRUE(servertest::WaitUntil([&] { return decoders_.log().PushCount() == 1 && audio_.CallCount() == 1; }));
    EXPECT_EQ(decoders_.log().Pushes()[0], std::string(4000, 'i'));
    EXPECT_EQ(audio_.Calls()[0].samplesPerChannel, 2);
}

TEST_F(HubTest, P2pMediaThatTurnToAnotherKeyEndTheConnectionOnce) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    const auto reply = phone.helloWithData(P2pHello());
    ASSERT_TRUE(reply.has_value()) << phone.lastError();
    P2pSender media;
    ASSERT_TRUE(media.open(reply->videoPort));
    ASSERT_TRUE(media.sendMessage(MediaPacket::key(reply->key)));
    ASSERT_TRUE(media.sendMessage(MediaPacket::key("{not-this-connection}")));
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(media.sendMessage(MediaPacket::video("after", false)));
    EXPECT_TRUE(phone.waitClosed());
    ASSERT_TRUE(signals_->waitFor("OnDisconnected"));
    signals_->settle(300);
    EXPECT_EQ(signals_->count("OnDisconnected"), 1);
    EXPECT_EQ(decoders_.log().PushCount(), 0u);
}

// Someone who found the library's port first, with another connection's key
// or bytes that are no media: not taken for the phone, and the phone's
// connection and media go on.
TEST_F(HubTest, AP2pSenderWithAnotherKeyBeforeThePhoneIsRefusedAndThePhoneStaysServed) {
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    const auto reply = phone.helloWithData(P2pHello());
    ASSERT_TRUE(reply.has_value()) << phone.lastError();
    P2pSender stranger;
    ASSERT_TRUE(stranger.open(reply->videoPort));
    ASSERT_TRUE(stranger.sendMessage(MediaPacket::key("{not-this-connection}")));
    P2pSender other;
    ASSERT_TRUE(other.open(reply->videoPort));
    ASSERT_TRUE(other.sendRaw(P2pSender::datagram(0, 0, 0, "x")));
    P2pSender media;
    ASSERT_TRUE(media.open(reply->videoPort));
    ASSERT_TRUE(media.sendMessage(MediaPacket::key(reply->key)));
    ASSERT_TRUE(media.sendMessage(MediaPacket::video(std::string(4000, 'i'), true)));
    ASSERT_TRUE(servertest::WaitUntil([&] { return decoders_.log().PushCount() == 1; }));
    signals_->settle(200);
    EXPECT_EQ(signals_->count("OnDisconnected"), 0);
    EXPECT_FALSE(phone.waitClosed(std::chrono::milliseconds(100)));
}

TEST_F(HubTest, AP2pLibraryThatCannotStartFailsTheHelloInsteadOfAnnouncingPortZero) {
    HeldUdpPort held;
    ASSERT_NE(held.port(), 0);
    setenv("ZUP2P_PORT", std::to_string(held.port()).c_str(), 1);
    CommandClient phone;
    ASSERT_TRUE(connect(phone));
    ASSERT_TRUE(phone.sendCommand(phone::CommandType::Hello, P2pHello()));
    EXPECT_FALSE(phone.readFrame(std::chrono::milliseconds(300)).has_value()) << "no reply, no port 0";
    EXPECT_TRUE(phone.waitClosed());
    unsetenv("ZUP2P_PORT");
    EXPECT_TRUE(signals_->waitFor("OnDisconnected"));
    EXPECT_EQ(signals_->count("OnNewConnection"), 0);
}

}  // namespace
}  // namespace zucam::test
