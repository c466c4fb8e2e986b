// The iOS USB transport through the hub, against a fake usbmuxd: the device
// list, the pairing outcomes with their texts, a phone whose app does not
// listen, and a whole session (command channel, hello, video connection).
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <memory>

#include "iproxy_hub_fixture.h"
#include "support/phone/command_client.h"
#include "support/phone/media_packet.h"
#include "support/phone/media_sender.h"
#include "support/phone/phone_listener.h"

namespace zucam::test {
namespace {

using namespace std::chrono_literals;
using usbmux::FakeDevice;
using usbmux::FakeLockdownd;
using usbmux::FakeUsbmuxd;

constexpr uint16_t kPhoneCommandPort = 10080;
constexpr uint16_t kPhoneVideoPort = 10090;

class IProxyTest : public testing::Test, protected IProxyHubFixture {
protected:
    void SetUp() override {
        usbmux::FakeDevice wifi;
        wifi.udid = "WIFI-ONLY-DEVICE";
        wifi.id = 8;
        wifi.network = true;
        ASSERT_NO_FATAL_FAILURE(StartHub({UsbIphone(), wifi}));
    }
    void TearDown() override { StopHub(); }
};

TEST_F(IProxyTest, TheDeviceListHoldsUsbDevicesOnlyAndComesEveryTwoSeconds) {
    ASSERT_TRUE(signals_->waitFor("UsbDeviceList", 7000, 2));
    EXPECT_EQ(signals_->last("UsbDeviceList")[0].toStringList(), QStringList{QString::fromStdString(kUdid)});
    usbmuxd_.setDevices({});
    ASSERT_TRUE(signals_->waitFor("UsbDeviceList", 5000, signals_->count("UsbDeviceList") + 1));
    EXPECT_TRUE(signals_->last("UsbDeviceList")[0].toStringList().isEmpty());
    EXPECT_EQ(signals_->count("Error"), 0);
}

struct PairingCase {
    const char* name;
    FakeLockdownd::PairAnswer answer;
    const char* message;
};

class IProxyPairingTest : public IProxyTest, public testing::WithParamInterface<PairingCase> {};

TEST_P(IProxyPairingTest, ReportsTheOutcomeInTheUsersWords) {
    lockdownd_.setPairAnswer(GetParam().answer);
    hub_->ConnectDevice(QString::fromStdString(kUdid));
    ASSERT_TRUE(signals_->waitFor("Error", 10000));
    EXPECT_EQ(signals_->last("Error")[0].toString(), QString::fromUtf8(GetParam().message));
    const std::vector<std::string> requests = lockdownd_.requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), "Pair"), requests.end());
    for (const std::string& label : lockdownd_.labels()) EXPECT_EQ(label, "libiproxy");
    // No command connection was tried.
    for (const uint16_t port : usbmuxd_.connectPorts()) EXPECT_EQ(port, FakeLockdownd::kDevicePort);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, IProxyPairingTest,
    testing::Values(PairingCase{"TrustDialogOpen", FakeLockdownd::PairAnswer::DialogPending, "等待用户授权设备配对"},
                    PairingCase{"UserRefused", FakeLockdownd::PairAnswer::UserDenied, "用户拒绝拒绝了配对请求"},
                    PairingCase{"PhoneLocked", FakeLockdownd::PairAnswer::PasswordProtected, "与ios设备配对失败"}),
    [](const testing::TestParamInfo<PairingCase>& param) { return std::string(param.param.name); });

TEST_F(IProxyTest, AnUnknownDeviceFailsPairing) {
    hub_->ConnectDevice("NOT-ATTACHED");
    ASSERT_TRUE(signals_->waitFor("Error", 10000));
    EXPECT_EQ(signals_->last("Error")[0].toString(), QString::fromUtf8("与ios设备配对失败"));
}

TEST_F(IProxyTest, APairedPhoneWhoseAppDoesNotListenGetsTheConnectMessage) {
    hub_->ConnectDevice(QString::fromStdString(kUdid));
    ASSERT_TRUE(signals_->waitFor("Error", 10000));
    EXPECT_EQ(signals_->last("Error")[0].toString(),
              QString::fromUtf8("连接ios设备失败，请打开在ios设备上打开Zu虚拟摄像头软件并切换到usb连接模式"));
    EXPECT_EQ(usbmuxd_.savedPairRecords().count(kUdid), 1u) << "the accepted pairing was stored";
}

// The phone's side of a whole session: command channel and video port.
class IProxySessionTest : public IProxyTest {
protected:
    void SetUp() override {
        IProxyTest::SetUp();
        ASSERT_TRUE(commandListener_.valid() && videoListener_.valid());
        usbmuxd_.mapPort(kUdid, kPhoneCommandPort, commandListener_.port());
        usbmuxd_.mapPort(kUdid, kPhoneVideoPort, videoListener_.port());
    }
    // Picks the device and takes the program's command connection.
    bool connectPhone() {
        hub_->ConnectDevice(QString::fromStdString(kUdid));
        phone::UniqueFd fd;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!fd.valid() && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents();
            fd = commandListener_.accept(20ms);
        }
        return command_.adopt(std::move(fd));
    }
    std::optional<phone::HelloReply> hello(int iproxyPort) {
        Json::Value data(Json::objectValue);
        data["name"] = "iPhone";
        data["iproxyPort"] = iproxyPort;
        return command_.helloWithData(data);
    }
    bool acceptVideo() { return video_.adopt(videoListener_.accept(5000ms)); }

    phone::PhoneListener commandListener_;
    phone::PhoneListener videoListener_;
    phone::CommandClient command_;
    phone::MediaSender video_;
};

TEST_F(IProxySessionTest, HelloOpensTheVideoConnectionAndItsFramesReachTheDecoder) {
    ASSERT_TRUE(connectPhone());
    const auto reply = hello(kPhoneVideoPort);
    ASSERT_TRUE(reply.has_value()) << command_.lastError();
    EXPECT_EQ(reply->videoPort, 0);
    EXPECT_FALSE(reply->audioPort.has_value());
    EXPECT_FALSE(reply->udpPort.has_value());
    ASSERT_TRUE(signals_->waitFor("OnNewConnection"));
    ASSERT_TRUE(acceptVideo());
    ASSERT_TRUE(video_.sendKey(reply->key));
    ASSERT_TRUE(video_.sendVideo(std::string(70000, 'i'), true));
    ASSERT_TRUE(video_.sendAudio({1, 2, 3, 4}, 48000, 2));
    ASSERT_TRUE(servertest::WaitUntil([&] { return decoders_.log().PushCount() == 1 && audio_.CallCount() == 1; }));
    EXPECT_EQ(decoders_.log().Pushes()[0].size(), 70000u);

    // The device list pauses while the command connection stands.
    const int lists = signals_->count("UsbDeviceList");
    signals_->settle(2500);
    EXPECT_EQ(signals_->count("UsbDeviceList"), lists);
}

TEST_F(IProxySessionTest, AWrongKeyClosesTheTransportOnceAndTheListResumes) {
    ASSERT_TRUE(connectPhone());
    const auto reply = hello(kPhoneVideoPort);
    ASSERT_TRUE(reply.has_value()) << command_.lastError();
    ASSERT_TRUE(acceptVideo());
    ASSERT_TRUE(video_.sendKey("{another-connection}"));
    for (int i = 0; i < 20; ++i) video_.sendVideo("late", false);
    EXPECT_TRUE(command_.waitClosed());
    ASSERT_TRUE(signals_->waitFor("OnDisconnected"));
    const int lists = signals_->count("UsbDeviceList");
    ASSERT_TRUE(signals_->waitFor("UsbDeviceList", 5000, lists + 1));
    EXPECT_EQ(signals_->count("OnDisconnected"), 1);
    EXPECT_EQ(decoders_.log().PushCount(), 0u);
}

TEST_F(IProxySessionTest, AHelloNamingAPortTheAppDoesNotServeClosesTheChannelWithoutReply) {
    ASSERT_TRUE(connectPhone());
    ASSERT_TRUE(command_.sendCommand(phone::CommandType::Hello, [] {
        Json::Value data(Json::objectValue);
        data["name"] = "iPhone";
        data["iproxyPort"] = 10099;  // nothing mapped there
        return data;
    }()));
    EXPECT_FALSE(command_.readFrame(300ms).has_value());
    EXPECT_TRUE(command_.waitClosed());
    EXPECT_TRUE(signals_->waitFor("OnDisconnected"));
}

TEST_F(IProxySessionTest, ConnectingAgainEndsTheOldConnectionFirst) {
    ASSERT_TRUE(connectPhone());
    ASSERT_TRUE(hello(kPhoneVideoPort).has_value());
    phone::CommandClient old = std::move(command_);
    ASSERT_TRUE(connectPhone());
    EXPECT_TRUE(old.waitClosed()) << "the first command connection was closed";
    ASSERT_TRUE(signals_->waitFor("OnDisconnected"));
    EXPECT_TRUE(hello(kPhoneVideoPort).has_value()) << "the new connection works";
}

TEST_F(IProxySessionTest, APickReplacedBeforeItsPairingEndsLeavesNoConnection) {
    // Both picks reach the hub before the first pairing is done: its
    // command connection, made meanwhile, is dropped, and only the second
    // pick's outcome is told.
    hub_->ConnectDevice(QString::fromStdString(kUdid));
    hub_->ConnectDevice("NOT-ATTACHED");
    ASSERT_TRUE(signals_->waitFor("Error", 10000));
    EXPECT_EQ(signals_->last("Error")[0].toString(), QString::fromUtf8("与ios设备配对失败"));
    phone::UniqueFd dropped = commandListener_.accept(2000ms);
    if (dropped.valid()) {
        char byte = 0;
        EXPECT_EQ(recv(dropped.get(), &byte, 1, 0), 0) << "the dropped connection is closed";
    }
    EXPECT_TRUE(servertest::WaitUntil([&] { return usbmuxd_.openTunnels() == 0; }, 3000ms));
    signals_->settle(300);
    EXPECT_EQ(signals_->count("Error"), 1);
    // The device list goes on: no command connection stands.
    const int lists = signals_->count("UsbDeviceList");
    EXPECT_TRUE(signals_->waitFor("UsbDeviceList", 5000, lists + 1));
}

TEST_F(IProxySessionTest, AFailedHelloReplyDoesNotAnnounceAClosedConnection) {
    ASSERT_TRUE(connectPhone());
    // The phone sends its hello and is gone before the reply can be sent.
    ASSERT_TRUE(command_.sendCommand(phone::CommandType::Hello, [] {
        Json::Value data(Json::objectValue);
        data["name"] = "iPhone";
        data["iproxyPort"] = kPhoneVideoPort;
        return data;
    }()));
    command_.close();
    usbmuxd_.closeTunnels();
    ASSERT_TRUE(signals_->waitFor("OnDisconnected", 10000));
    signals_->settle(300);
    // The hello may have been answered before the close was seen; a
    // connection is never announced after it ended.
    int newAt = -1;
    int goneAt = -1;
    for (size_t i = 0; i < signals_->all().size(); ++i) {
        if (signals_->all()[i].name == "OnNewConnection") newAt = static_cast<int>(i);
        if (signals_->all()[i].name == "OnDisconnected") goneAt = static_cast<int>(i);
    }
    EXPECT_LT(newAt, goneAt);
    EXPECT_EQ(signals_->count("OnDisconnected"), 1);
}

}  // namespace
}  // namespace zucam::test
