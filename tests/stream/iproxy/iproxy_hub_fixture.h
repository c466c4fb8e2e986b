// What the iOS USB suites share: a hub on the iOS transport against the
// fake usbmuxd and lockdownd, with one USB iPhone whose lockdownd port leads
// to the fake lockdownd, and a recorder of the hub's signals.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/system/winsock_init.h"
#include "signal_recorder.h"
#include "stream/server/server_test_util.h"
#include "stream_manager.h"
#include "support/usbmuxd/fake_lockdownd.h"
#include "support/usbmuxd/fake_usbmuxd.h"

namespace zucam::test {

class IProxyHubFixture {
protected:
    inline static const std::string kUdid = "00008101-000A1C2E3F4A5B6C";

    usbmux::FakeDevice UsbIphone() {
        usbmux::FakeDevice device;
        device.udid = kUdid;
        device.id = 7;
        device.ports[usbmux::FakeLockdownd::kDevicePort] = lockdownd_.port();
        return device;
    }
    // Lists the devices (the daemon answering, or hearing and never
    // answering) and starts the hub on the iOS transport.
    void StartHub(std::vector<usbmux::FakeDevice> devices, bool silentDaemon = false) {
        ASSERT_TRUE(usbmuxd_.valid());
        ASSERT_TRUE(lockdownd_.valid());
        usbmuxd_.setDevices(std::move(devices));
        usbmuxd_.setSilent(silentDaemon);
        hub_ = std::make_unique<StreamManager>(std::vector<StreamAudioSink*>{&audio_},
                                               std::vector<StreamVideoSink*>{&videoSink_}, nullptr);
        signals_ = std::make_unique<SignalRecorder>(hub_.get());
        hub_->Start(kStreamTransportIos);
    }
    // The hub first: while its thread runs it may emit, and a recorder
    // destroyed under a queued emission leaves the call's slot object behind.
    void StopHub() {
        hub_.reset();
        signals_.reset();
    }

    WinsockInit sockets_;  // SIGPIPE ignored, as main does
    usbmux::FakeUsbmuxd usbmuxd_;
    usbmux::FakeLockdownd lockdownd_;
    servertest::ScopedRecordingDecoders decoders_;
    servertest::RecordingAudioSink audio_;
    servertest::NullVideoSink videoSink_;
    std::unique_ptr<StreamManager> hub_;
    std::unique_ptr<SignalRecorder> signals_;
};

}  // namespace zucam::test
