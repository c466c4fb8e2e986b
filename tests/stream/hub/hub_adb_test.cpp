// The hub on Android USB, with the adb stand-in beside the test program and
// the test playing a phone behind adb: it dials only ports that the stand-in
// has seen mapped by a finished "reverse".
#include <QElapsedTimer>

#include "hub_fixture.h"
#include "support/fake_adb/fake_adb.h"
#include "support/tether_environment.h"

namespace zucam::test {
namespace {

constexpr uint16_t kAdbCommandPort = 11080;
constexpr uint16_t kPhoneCommandPort = 10080;
const QString kSerial = "R58M12345";

class HubAdbTest : public testing::Test {
protected:
    void StartHub() {
        hub_ = std::make_unique<StreamManager>(std::vector<StreamAudioSink*>{&audio_},
                                               std::vector<StreamVideoSink*>{&videoSink_}, nullptr);
        signals_ = std::make_unique<SignalRecorder>(hub_.get());
        hub_->Start(kStreamTransportAndroid);
    }
    void TearDown() override {
        hub_.reset();
        signals_.reset();
    }
    size_t Reverses(uint16_t devicePort) const {
        return adb_.callsStartingWith({"-s", kSerial, "reverse", QString("tcp:%1").arg(devicePort)}).size();
    }
    size_t Polls() const { return adb_.callsStartingWith({"devices", "-l"}).size(); }
    bool WaitUntil(const std::function<bool()>& condition, int ms = 8000) {
        return servertest::WaitUntil(condition, std::chrono::milliseconds(ms));
    }

    FakeAdb adb_;
    ScopedRecordingDecoders decoders_;
    RecordingAudioSink audio_;
    NullVideoSink videoSink_;
    std::unique_ptr<StreamManager> hub_;
    std::unique_ptr<SignalRecorder> signals_;
};

TEST_F(HubAdbTest, PhoneBehindAdbGetsItsReplyOnlyOnceItsMediaPortsAreMapped) {
    adb_.setDevices({{kSerial, "device", "1"}});
    adb_.setDelay("reverse", 0.4);  // a slow adb: the reply must wait for it
    StartHub();
    const auto commandPort = adb_.waitForMapping(kSerial, kPhoneCommandPort);
    ASSERT_EQ(commandPort, std::optional<uint16_t>(kAdbCommandPort));

    phone::CommandClient phone;
    ASSERT_TRUE(phone.connect("127.0.0.1", *commandPort));
    const auto reply = phone.hello("Pixel", 30, 320, 240, std::chrono::milliseconds(5000));
    ASSERT_TRUE(reply.has_value()) << phone.lastError();
    // At the moment the reply arrives, the phone can reach what it names.
    EXPECT_EQ(adb_.mappedPort(kSerial, reply->videoPort), std::optional<uint16_t>(reply->videoPort));
    ASSERT_TRUE(reply->audioPort.has_value());
    EXPECT_EQ(adb_.mappedPort(kSerial, *reply->audioPort), reply->audioPort);

    phone::MediaSender video;
    ASSERT_TRUE(video.connect("127.0.0.1", *adb_.mappedPort(kSerial, reply->videoPort)));
    ASSERT_TRUE(video.sendKey(reply->key));
    ASSERT_TRUE(video.sendVideo(std::string("\0\0\0\1\x65\x88", 6), true));
    EXPECT_TRUE(decoders_.log().WaitPushes(2, 5000));  // the reset marker, then the unit

    // No polling while the phone streams; it resumes when the phone leaves.
    const size_t polls = Polls();
    signals_->settle(2200);
    EXPECT_EQ(Polls(), polls);
    phone.close();
    video.close();
    ASSERT_TRUE(signals_->waitFor("OnDisconnected"));
    EXPECT_TRUE(WaitUntil([&] { return Polls() > polls; }));
}

TEST_F(HubAdbTest, AReplugMapsThePhoneAgain) {
    struct Case {
        const char* what;
        bool seenAbsent;  // a poll saw the phone gone before it came back
    };
    for (const Case& c : {Case{"unplugged, then plugged", true}, Case{"replugged between two polls", false}}) {
        SCOPED_TRACE(c.what);
        FakeAdb adb;  // fresh log per case
        adb.setDevices({{kSerial, "device", "1"}});
        hub_.reset();
        StartHub();
        ASSERT_TRUE(adb.waitForMapping(kSerial, kPhoneCommandPort));
        if (c.seenAbsent) {
            adb.setDevices({});
            const size_t polls = adb.callsStartingWith({"devices", "-l"}).size();
            ASSERT_TRUE(WaitUntil([&] { return adb.callsStartingWith({"devices", "-l"}).size() >= polls + 2; }));
        }
        adb.setDevices({{kSerial, "device", "2"}});  // a new attachment
        EXPECT_TRUE(WaitUntil([&] {
            return adb.callsStartingWith({"-s", kSerial, "reverse", "tcp:10080"}).size() == 2;
        }));
        // Mapped again once, and then left alone.
        signals_->settle(1500);
        EXPECT_EQ(adb.callsStartingWith({"-s", kSerial, "reverse", "tcp:10080"}).size(), 2u);
    }
}

TEST_F(HubAdbTest, ADeviceBecomesCurrentOnlyWhenItsReverseSucceeded) {
    adb_.setDevices({{kSerial, "device", "1"}});
    adb_.setError("reverse", "error: device unauthorized.\n");
    adb_.setExit("reverse", 1);
    StartHub();
    // Failed mappings are tried again on later polls.
    ASSERT_TRUE(WaitUntil([&] { return Reverses(kPhoneCommandPort) >= 2; }));
    adb_.clear("reverse");
    ASSERT_TRUE(adb_.waitForMapping(kSerial, kPhoneCommandPort));
    const size_t reverses = Reverses(kPhoneCommandPort);
    signals_->settle(2200);
    EXPECT_EQ(Reverses(kPhoneCommandPort), reverses);
}

TEST_F(HubAdbTest, AnotherDeviceIsTriedWhenTheFirstCannotBeMapped) {
    adb_.setDevices({{"BAD1", "device", "1"}, {kSerial, "device", "2"}, {"OFF1", "offline", "3"}});
    adb_.setScript("reverse", "if [ \"$serial\" = BAD1 ]; then echo 'error: device unauthorized.' >&2; exit 1; fi\n");
    StartHub();
    EXPECT_TRUE(adb_.waitForMapping(kSerial, kPhoneCommandPort));
    EXPECT_TRUE(adb_.callsStartingWith({"-s", "OFF1"}).empty());
}

TEST_F(HubAdbTest, DevicesThatCannotBeMappedDoNotKeepThePhoneOut) {
    // Listed before the phone, and refused every time.
    adb_.setDevices({{"BAD1", "device", "1"}, {"BAD2", "device", "2"}, {kSerial, "device", "3"}});
    adb_.setScript("reverse", "case \"$serial\" in BAD*) echo 'error: device unauthorized.' >&2; exit 1;; esac\n");
    QElapsedTimer clock;
    clock.start();
    StartHub();
    // Each device gets its turn: the phone on the third poll at the latest.
    ASSERT_TRUE(adb_.waitForMapping(kSerial, kPhoneCommandPort, std::chrono::milliseconds(5000)));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(adb_.callsStartingWith({"-s", "BAD1", "reverse"}).size(), 1u);
    EXPECT_EQ(adb_.callsStartingWith({"-s", "BAD2", "reverse"}).size(), 1u);
}

TEST_F(HubAdbTest, ADeviceThatKeepsFailingWaitsLongerAndIsTriedAfreshOnceReplugged) {
    const QString bad = "BAD1";
    adb_.setDevices({{bad, "device", "1"}});
    adb_.setError("reverse", "error: device unauthorized.\n");
    adb_.setExit("reverse", 1);
    StartHub();
    const auto tries = [&] { return adb_.callsStartingWith({"-s", bad, "reverse"}).size(); };
    // Tried on polls 1, 2 and 4; then it waits four more polls.
    ASSERT_TRUE(WaitUntil([&] { return tries() >= 3; }, 8000));
    const size_t polls = Polls();
    signals_->settle(2500);
    EXPECT_GE(Polls(), polls + 2);
    EXPECT_EQ(tries(), 3u);
    // Unplugged and plugged again (a new attachment), now authorised: its
    // back-off is forgotten and the next poll maps it.
    adb_.clear("reverse");
    adb_.setDevices({{bad, "device", "2"}});
    EXPECT_TRUE(adb_.waitForMapping(bad, kPhoneCommandPort, std::chrono::milliseconds(2500)));
}

TEST_F(HubAdbTest, AHungAdbDoesNotPileUp) {
    adb_.setScript("devices", "exec sleep 30\n");
    StartHub();
    ASSERT_TRUE(WaitUntil([&] { return Polls() == 1; }));
    signals_->settle(3500);
    EXPECT_EQ(Polls(), 1u);
    const qint64 pid = adb_.calls().at(0).pid;
    hub_.reset();  // the hung run ends with its transport
    EXPECT_TRUE(WaitUntil([&] { return !QFile::exists(QString("/proc/%1/exe").arg(pid)) ||
                                       QFile::symLinkTarget(QString("/proc/%1/exe").arg(pid)).isEmpty(); },
                          3000));
}

TEST_F(HubAdbTest, AFailedStartIsRetriedLaterAndNotForEver) {
    adb_.setDevices({});
    servertest::PortBlocker blocker(kAdbCommandPort);
    ASSERT_TRUE(blocker.held());
    QElapsedTimer clock;
    clock.start();
    StartHub();
    ASSERT_TRUE(signals_->waitFor("Error", 12000));
    // Five retries a second apart.
    EXPECT_GE(clock.elapsed(), 4800);
    EXPECT_EQ(CountInLog("adb server start failed; retry"), 5);
    EXPECT_EQ(CountInLog("giving up"), 1);
    signals_->settle(1500);
    EXPECT_EQ(CountInLog("adb server start failed; retry"), 5);
    // A server that never listened maps nothing.
    EXPECT_TRUE(adb_.callsStartingWith({"-s", kSerial}).empty());
}

TEST_F(HubAdbTest, ARetryFindsThePortFreeAgain) {
    adb_.setDevices({{kSerial, "device", "1"}});
    auto blocker = std::make_unique<servertest::PortBlocker>(kAdbCommandPort);
    StartHub();
    ASSERT_TRUE(WaitUntil([&] { return CountInLog("adb server start failed; retry 1 of") == 1; }));
    blocker.reset();
    EXPECT_EQ(adb_.waitForMapping(kSerial, kPhoneCommandPort), std::optional<uint16_t>(kAdbCommandPort));
    EXPECT_TRUE(servertest::ConnectWhenListening(kAdbCommandPort));
    EXPECT_EQ(signals_->count("Error"), 0);
}

TEST_F(HubAdbTest, ClosingTheManagerCancelsAPendingRetry) {
    auto blocker = std::make_unique<servertest::PortBlocker>(kAdbCommandPort);
    StartHub();
    ASSERT_TRUE(WaitUntil([&] { return CountInLog("adb server start failed; retry 1 of") == 1; }));
    hub_->CloseManager();
    blocker.reset();
    signals_->settle(2000);
    EXPECT_TRUE(servertest::PortIsFree(kAdbCommandPort));
    EXPECT_EQ(CountInLog("adb server start failed; retry"), 1);
}

}  // namespace
}  // namespace zucam::test
