// Hostile and broken peers against the real hub on real sockets: what a
// stranger on the network or a broken phone may cost the program.
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "hub_fixture.h"
#include "server/command_server.h"
#include "support/process_memory.h"

namespace zucam::test {
namespace {

using phone::CommandClient;

constexpr uint64_t kMiB = 1024 * 1024;

// Polls while the hub's signals keep arriving on this thread.
bool WaitFor(const std::function<bool()>& condition, SignalRecorder& recorder, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        recorder.settle(10);
    }
    return true;
}

// One access unit of 00 00 01 65 repeated: every four bytes an IDR slice of
// one byte. libavcodec would spend kilobytes on each: about a gigabyte for
// this megabyte, left resident after the session ended.
TEST_F(HubTestBase, AnAccessUnitOfTinyNalUnitsCostsMemoryInProportionToItsBytes) {
    constexpr uint64_t kFloodBytes = 1 * kMiB;
    // Everything the packet may leave behind or cost at its peak: the bytes
    // themselves a few times over (socket, reassembly, queue), not per unit.
    constexpr uint64_t kAllowedGrowth = 48 * kMiB;

    auto phone = connectPhone();
    ASSERT_TRUE(phone);
    // A real stream first, so that the decoder, the reassembly buffer and the
    // sinks have reached their working size before the measurement.
    ASSERT_TRUE(phone->streamVideo(30)) << phone->lastError();
    ASSERT_TRUE(WaitFor([&] { return videoSink_.pushes() >= 20; }, *signals_));
    const uint64_t residentBefore = ResidentBytes();
    ASSERT_GT(residentBefore, 0u);
    ASSERT_TRUE(ResetPeakResident());

    std::string flood;
    flood.reserve(kFloodBytes);
    while (flood.size() < kFloodBytes) flood.append("\0\0\1\x65", 4);
    const int picturesBefore = videoSink_.pushes();
    ASSERT_TRUE(phone->video().sendVideo(flood, true)) << phone->video().lastError();
    // Pictures from the next IDR on show that the flood went through the
    // decoder (or was dropped in front of it).
    ASSERT_TRUE(phone->streamVideo(60)) << phone->lastError();
    ASSERT_TRUE(WaitFor([&] { return videoSink_.pushes() >= picturesBefore + 20; }, *signals_));
    const uint64_t peak = PeakResidentBytes();

    ASSERT_TRUE(phone->disconnect()) << phone->lastError();
    ASSERT_TRUE(signals_->waitFor("OnDisconnected"));
    const uint64_t residentAfter = ResidentBytes();

    std::printf("resident before %llu MiB, peak %llu MiB, after the session %llu MiB\n",
                static_cast<unsigned long long>(residentBefore / kMiB), static_cast<unsigned long long>(peak / kMiB),
                static_cast<unsigned long long>(residentAfter / kMiB));
    EXPECT_LE(peak, residentBefore + kAllowedGrowth)
        << "peak " << peak / kMiB << " MiB, before " << residentBefore / kMiB << " MiB";
    EXPECT_LE(residentAfter, residentBefore + kAllowedGrowth)
        << "after " << residentAfter / kMiB << " MiB, before " << residentBefore / kMiB << " MiB";

    // The phone's next session is served as before.
    auto next = connectPhone();
    ASSERT_TRUE(next);
    const int picturesNow = videoSink_.pushes();
    ASSERT_TRUE(next->streamVideo(10)) << next->lastError();
    EXPECT_TRUE(WaitFor([&] { return videoSink_.pushes() >= picturesNow + 5; }, *signals_));
}

// The phone drops all its connections and reconnects at once, again and
// again. The hub still holds reports of the old connections ("connection
// lost" from command, video and audio) when the new session starts; none of
// them may end it. A client turned away while the old slot is still taken
// simply tries again, as the phone does.
TEST_F(HubTest, EverySessionOfAReconnectStormIsServed) {
    constexpr int kRounds = 40;
    int lost = 0;
    std::unique_ptr<phone::PhoneStandIn> previous;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        std::unique_ptr<phone::PhoneStandIn> phone;
        for (int attempt = 0; attempt < 100 && !phone; ++attempt) {
            auto candidate = std::make_unique<phone::PhoneStandIn>();
            if (attempt == 0) previous.reset();  // all three sockets close right before the new hello
            if (candidate->connectWifi(kCommandPort, "Pixel", 30, 320, 240)) phone = std::move(candidate);
        }
        ASSERT_TRUE(phone) << "no session in 100 attempts";
        // Served: the session stays up and its media is taken.
        const bool media = phone->streamVideo(2) && phone->streamAudio(1);
        const bool closed = phone->command().waitClosed(std::chrono::milliseconds(150));
        if (!media || closed) ++lost;
        previous = std::move(phone);
    }
    EXPECT_EQ(lost, 0) << lost << " of " << kRounds << " new sessions were closed by reports of old ones";
}

// A client that takes the one command slot and sends nothing, or sends its
// hello a byte a second, is dropped once the hello time-out has passed, and
// the phone behind it is served.
TEST_F(HubTest, IdleAndSlowClientsLoseTheSlotToThePhone) {
    const auto limit = std::chrono::nanoseconds(CommandServer::kHelloTimeoutNs) + std::chrono::seconds(2);
    for (const bool slow : {false, true}) {
        SCOPED_TRACE(slow ? "slow" : "idle");
        CommandClient squatter;
        ASSERT_TRUE(connect(squatter));
        const auto start = std::chrono::steady_clock::now();
        const std::string hello = phone::CompactJson(phone::MakeCommand(0, Json::Value(Json::objectValue)));
        std::string frame = std::string(4, '\0') + hello;
        frame[3] = static_cast<char>(hello.size());
        size_t dripped = 0;
        std::unique_ptr<phone::PhoneStandIn> phone;
        while (!phone && std::chrono::steady_clock::now() - start < limit) {
            if (slow && dripped < frame.size()) squatter.sendRawBytes(frame.substr(dripped++, 1));
            auto candidate = std::make_unique<phone::PhoneStandIn>();
            if (candidate->connectWifi(kCommandPort, "Pixel", 30, 320, 240)) phone = std::move(candidate);
            else signals_->settle(slow ? 1000 : 200);
        }
        ASSERT_TRUE(phone) << "the phone was not served within the time-out";
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << "dropped before its time";
        EXPECT_TRUE(squatter.waitClosed(std::chrono::milliseconds(500)));
        // The phone, greeted, keeps the slot past the time-out.
        signals_->settle(static_cast<int>(CommandServer::kHelloTimeoutNs / 1000000) + 500);
        EXPECT_FALSE(phone->command().waitClosed(std::chrono::milliseconds(10)));
        ASSERT_TRUE(phone->disconnect()) << phone->lastError();
    }
}

// A client that sends name queries and never reads the answers: the hub
// never waits for it, drops it once its replies no longer fit, and ignores
// what it had queued; the next phone is served at once.
TEST_F(HubTest, AClientThatNeverReadsIsDroppedWithoutStallingTheHub) {
    CommandClient flooder;
    ASSERT_TRUE(connect(flooder));
    const std::string query = phone::CompactJson(phone::MakeCommand(phone::CommandType::NameQuery));
    std::string frames;
    for (int n = 0; n < 2000; ++n) {
        frames.append({0, 0, 0, static_cast<char>(query.size())});
        frames += query;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int burst = 0; burst < 75 && flooder.sendRawBytes(frames, std::chrono::milliseconds(200)); ++burst) {
    }
    EXPECT_TRUE(flooder.waitClosed(std::chrono::seconds(5)));
    auto phone = connectPhone();
    ASSERT_TRUE(phone);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(phone->command().waitClosed(std::chrono::milliseconds(200)));
    ASSERT_TRUE(phone->command().sendCommand(phone::CommandType::NameQuery));
    const auto answer = phone->command().readMessage();
    ASSERT_TRUE(answer.has_value()) << phone->command().lastError();
    EXPECT_EQ((*answer)["type"].asInt(), 1001);
}

}  // namespace
}  // namespace zucam::test
