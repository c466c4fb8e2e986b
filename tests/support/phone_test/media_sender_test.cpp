// The media connection against a fake program: packet bytes exactly as they
// leave, and a connection the program closes or stops reading.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "support/phone/media_sender.h"
#include "support/phone_test/loopback_listener.h"

namespace zucam::phone {
namespace {

using namespace std::chrono_literals;
using test::FakePeer;
using test::LoopbackListener;

constexpr Millis kWait = 5s;

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (const int value : values) out.push_back(static_cast<char>(value));
    return out;
}

class PhoneStandInMedia : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(listener_.valid());
        ASSERT_TRUE(sender_.connect("127.0.0.1", listener_.port(), kWait)) << sender_.lastError();
        auto accepted = listener_.accept(kWait);
        ASSERT_TRUE(accepted);
        peer_.emplace(std::move(*accepted));
    }

    FakePeer& peer() { return *peer_; }

    LoopbackListener listener_;
    MediaSender sender_;
    std::optional<FakePeer> peer_;
};

TEST_F(PhoneStandInMedia, PacketsAreByteExact) {
    const std::string key = "{8c1e5a7e-0b52-4c3e-9d7a-2f6b1c9e4d10}";
    const std::string unit = bytes({0, 0, 0, 1, 0x65, 0x88, 0x84});

    struct Case {
        const char* what;
        std::function<bool()> send;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"key", [&] { return sender_.sendKey(key); },
         bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 38}) + key},
        {"video key frame", [&] { return sender_.sendVideo(unit, true); },
         bytes({0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 7}) + unit},
        {"video other frame", [&] { return sender_.sendVideo(unit, false); },
         bytes({0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 7}) + unit},
        {"audio", [&] { return sender_.sendAudio({1, -2, 0x1234, -32768}, 48000, 2); },
         bytes({0, 0, 0, 2, 0, 0, 0, 16, 0, 0, 0, 2, 0, 0, 0xbb, 0x80, 0, 0, 0, 2, 0, 0, 0, 16, 0, 0, 0, 8,
                0x01, 0x00, 0xfe, 0xff, 0x34, 0x12, 0x00, 0x80})},
        {"raw", [&] { return sender_.sendRawBytes(bytes({9, 8, 7})); }, bytes({9, 8, 7})},
    };
    uint64_t total = 0;
    for (const Case& c : cases) {
        ASSERT_TRUE(c.send()) << c.what << ": " << sender_.lastError();
        EXPECT_EQ(peer().readExact(c.expected.size(), kWait), c.expected) << c.what;
        total += c.expected.size();
    }
    EXPECT_TRUE(peer().staysQuiet(100ms));
    EXPECT_EQ(sender_.bytesSent(), total);
}

TEST_F(PhoneStandInMedia, ProgramClosingIsSeenAndLaterSendsFailWithoutSignal) {
    EXPECT_FALSE(sender_.waitClosed(100ms));
    peer().close();
    EXPECT_TRUE(sender_.waitClosed(kWait));
    // The first write after a close may still be taken; the reset makes a
    // later one fail (with EPIPE, not SIGPIPE, or the test would die).
    bool failed = false;
    for (int attempt = 0; attempt < 50 && !failed; ++attempt) {
        failed = !sender_.sendRawBytes(std::string(4096, 'x'), 1s);
        if (!failed) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(failed);
}

TEST_F(PhoneStandInMedia, SendGivesUpWhenTheProgramStopsReading) {
    const std::string flood(64 * 1024 * 1024, '\0');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sender_.sendRawBytes(flood, 300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_NE(sender_.lastError().find("timed out"), std::string::npos) << sender_.lastError();
}

}  // namespace
}  // namespace zucam::phone
