// A hub started on Wi-Fi with recording peers at its edges, and helpers to
// reach it as a phone would.
#pragma once

#include <gtest/gtest.h>

#include <QThread>
#include <chrono>
#include <memory>

#include "stream/server/server_test_util.h"
#include "signal_recorder.h"
#include "stream_manager.h"
#include "support/phone/command_client.h"
#include "support/phone/phone_standin.h"
#include "support/settable_stream_host.h"
#include "video_sink/stream_video_sink.h"

namespace zucam::test {

constexpr uint16_t kCommandPort = 10080;

using servertest::kNullPush;
using servertest::NullVideoSink;
using servertest::RecordingAudioSink;
using servertest::ScopedRecordingDecoders;

// The hub with its real decoders (H.264 through libavcodec).
class HubTestBase : public testing::Test {
protected:
    void SetUp() override {
        hub_ = std::make_unique<StreamManager>(std::vector<StreamAudioSink*>{&audio_},
                                               std::vector<StreamVideoSink*>{&videoSink_}, nullptr, &host_);
        signals_ = std::make_unique<SignalRecorder>(hub_.get());
        hub_->SetDeviceName(QString::fromUtf8("会议室 PC"));
        hub_->Start(kStreamTransportWifi);
        // The server reports its addresses right before it starts listening;
        // connects below retry the moment in between.
        ASSERT_TRUE(signals_->waitFor("ShowLocalIpAddr"));
    }

    void TearDown() override {
        // The hub first: while its thread runs it may emit, and a recorder
        // destroyed under a queued emission leaves the call's slot object behind.
        hub_.reset();
        signals_.reset();
    }

    // Connects as the phone, retrying while the server is still starting.
    bool connect(phone::CommandClient& client) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (client.connect("127.0.0.1", kCommandPort, std::chrono::milliseconds(500))) return true;
            QThread::msleep(20);
        }
        return false;
    }

    // A whole phone session (hello, media connections, keys).
    std::unique_ptr<phone::PhoneStandIn> connectPhone(const phone::StandInOptions& options = {}) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            auto phone = std::make_unique<phone::PhoneStandIn>(options);
            if (phone->connectWifi(kCommandPort, "Pixel", 30, 320, 240)) return phone;
            QThread::msleep(20);
        }
        ADD_FAILURE() << "the phone stand-in could not connect";
        return nullptr;
    }

    SettableStreamHost host_;           // outlives the hub
    RecordingAudioSink audio_;
    NullVideoSink videoSink_;
    std::unique_ptr<StreamManager> hub_;
    std::unique_ptr<SignalRecorder> signals_;
};

// The hub whose media servers make recording decoders, which keep what they
// were given.
class HubTest : public HubTestBase {
protected:
    ScopedRecordingDecoders decoders_;  // installed before SetUp makes the hub, removed after TearDown
};

}  // namespace zucam::test
