// A usbmuxd that accepts connections and never answers: the calls that wait
// on it (the device list on the hub's timer, the pairing of a picked
// device) cost the hub's other work nothing, here the switch to Wi-Fi and a
// phone served there, and the hub goes away promptly while a call hangs.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <chrono>
#include <memory>

#include "iproxy_hub_fixture.h"
#include "support/phone/command_client.h"

namespace zucam::test {
namespace {

using namespace std::chrono_literals;

constexpr uint16_t kWifiCommandPort = 10080;
// What the hub's other work may take while a call hangs (the daemon's
// calls take 5 to 10 s each before the library gives up).
constexpr int kServedWithinMs = 1500;

enum class Hanging { DeviceList, Pairing };

class IProxyHungDaemonTest : public testing::TestWithParam<Hanging>, protected IProxyHubFixture {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(StartHub({UsbIphone()}, /*silentDaemon=*/true)); }
    void TearDown() override { StopHub(); }

    // Starts a call that hangs in the daemon and waits until the daemon has
    // heard it.
    bool StartHangingCall() {
        const int before = usbmuxd_.requestCount("ListDevices");
        if (GetParam() == Hanging::Pairing) hub_->ConnectDevice(QString::fromStdString(kUdid));
        // The device list comes on the 2 s timer; pairing looks the device up first.
        return servertest::WaitUntil([&] { return usbmuxd_.requestCount("ListDevices") > before; }, 5000ms);
    }
};

TEST_P(IProxyHungDaemonTest, TheHubSwitchesToWifiAndServesAPhoneAtOnce) {
    ASSERT_TRUE(StartHangingCall());
    QElapsedTimer clock;
    clock.start();
    hub_->Start(kStreamTransportWifi);
    phone::CommandClient phone;
    bool connected = false;
    while (!connected && clock.elapsed() < kServedWithinMs) {
        connected = phone.connect("127.0.0.1", kWifiCommandPort, 200ms);
        if (!connected) QThread::msleep(10);
    }
    ASSERT_TRUE(connected) << "the Wi-Fi server did not listen within " << kServedWithinMs << " ms";
    const auto reply = phone.hello("Pixel", 30, 320, 240, std::chrono::milliseconds(kServedWithinMs));
    ASSERT_TRUE(reply.has_value()) << phone.lastError();
    EXPECT_LT(clock.elapsed(), kServedWithinMs);
    EXPECT_TRUE(signals_->waitFor("OnNewConnection", 1000));
}

TEST_P(IProxyHungDaemonTest, TheHubGoesAwayPromptlyWhileACallHangs) {
    ASSERT_TRUE(StartHangingCall());
    QElapsedTimer clock;
    clock.start();
    hub_.reset();
    signals_.reset();
    EXPECT_LT(clock.elapsed(), kServedWithinMs);
}

INSTANTIATE_TEST_SUITE_P(Calls, IProxyHungDaemonTest, testing::Values(Hanging::DeviceList, Hanging::Pairing),
                         [](const testing::TestParamInfo<Hanging>& param) {
                             return std::string(param.param == Hanging::DeviceList ? "DeviceList" : "Pairing");
                         });

}  // namespace
}  // namespace zucam::test
