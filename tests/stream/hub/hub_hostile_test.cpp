// Hostile and broken peers against the real hub on real sockets: what a
// stranger on the network or a broken phone may cost the program.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "hub_fixture.h"
#include "server/command_server.h"
#include "support/process_memory.h"
#include "support/tcp_listeners.h"

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
        // Bounded by time, not by a count: a turned-away attempt takes well
        // under a millisecond, and the old slot may take a few to be freed.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (int attempt = 0; !phone && (attempt == 0 || std::chrono::steady_clock::now() < deadline); ++attempt) {
            auto candidate = std::make_unique<phone::PhoneStandIn>();
            if (attempt == 0) previous.reset();  // all three sockets close right before the new hello
            if (candidate->connectWifi(kCommandPort, "Pixel", 30, 320, 240)) phone = std::move(candidate);
        }
        ASSERT_TRUE(phone) << "no session within 2 s of attempts";
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

// A client that checks whether the command port is reachable connects and
// goes again at once, right before the phone connects: politely, half-way
// (it only stops writing) or with a reset. The hub still holds that dead
// connection when the phone's arrives; the phone's hello, on its first and
// only attempt, is answered every time all the same.
TEST_F(HubTest, AProbeConnectionRightBeforeThePhoneNeverKeepsItOut) {
    enum class Probe { kClose, kHalfClose, kReset };
    constexpr int kRounds = 50;
    constexpr auto kBound = std::chrono::seconds(40);
    ASSERT_TRUE(WaitFor([] { return ListensOnTcpPort(kCommandPort); }, *signals_));
    phone::StandInOptions options;
    options.timeout = std::chrono::milliseconds(2000);
    const auto start = std::chrono::steady_clock::now();
    const std::pair<Probe, const char*> probes[] = {
        {Probe::kClose, "connect and close"}, {Probe::kHalfClose, "connect and stop writing"},
        {Probe::kReset, "connect and reset"}};
    for (const auto& [kind, name] : probes) {
        SCOPED_TRACE(name);
        int unanswered = 0;
        std::string firstError;
        for (int round = 0; round < kRounds; ++round) {
            phone::TcpStream probe;
            ASSERT_TRUE(probe.connect("127.0.0.1", kCommandPort, std::chrono::milliseconds(1000)))
                << probe.lastError();
            if (kind == Probe::kClose) probe.close();
            if (kind == Probe::kHalfClose) probe.shutdownWrite();  // stays open until the round ends
            if (kind == Probe::kReset) probe.resetClose();
            phone::PhoneStandIn phone(options);
            if (!phone.connectWifi(kCommandPort, "Pixel", 30, 320, 240)) {
                ++unanswered;
                if (firstError.empty()) firstError = phone.lastError();
                continue;
            }
            EXPECT_TRUE(phone.disconnect()) << phone.lastError();
            ASSERT_LT(std::chrono::steady_clock::now() - start, kBound);
        }
        EXPECT_EQ(unanswered, 0) << unanswered << " of " << kRounds << " hellos went unanswered; first: "
                                 << firstError;
    }
}

// A stranger that connects while the phone's session is up, and sends a
// hello of its own, is not served: it is closed within the grace the command
// port gives a client behind a live one, its hello unanswered, and the
// phone's session goes on.
TEST_F(HubTest, AStrangerDoesNotTakeALivePhonesSession) {
    auto phone = connectPhone();
    ASSERT_TRUE(phone);
    CommandClient stranger;
    ASSERT_TRUE(stranger.connect("127.0.0.1", kCommandPort));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(stranger.sendCommand(phone::CommandType::Hello, Json::Value(Json::objectValue)));
    EXPECT_FALSE(stranger.readFrame(std::chrono::milliseconds(3000)).has_value()) << "the stranger was answered";
    EXPECT_TRUE(stranger.waitClosed(std::chrono::milliseconds(100)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    ASSERT_TRUE(phone->command().sendCommand(phone::CommandType::NameQuery));
    const std::optional<Json::Value> answer = phone->command().readMessage();
    ASSERT_TRUE(answer.has_value()) << phone->command().lastError();
    EXPECT_EQ((*answer)["type"].asInt(), phone::CommandType::NameQuery);
    ASSERT_TRUE(phone->streamVideo(2)) << phone->lastError();
    EXPECT_FALSE(phone->command().waitClosed(std::chrono::milliseconds(100)));
    ASSERT_TRUE(phone->disconnect()) << phone->lastError();
}

// Name queries of exactly 64 bytes a frame (the JSON padded with blanks),
// 64 of them: one write of 4096 bytes.
std::string NameQueryFrames() {
    constexpr size_t kFrameBytes = 64;
    std::string query = phone::CompactJson(phone::MakeCommand(phone::CommandType::NameQuery));
    EXPECT_LE(query.size() + 4, kFrameBytes);
    query.insert(1, kFrameBytes - 4 - query.size(), ' ');
    std::string frames;
    for (int n = 0; n < 64; ++n) {
        frames.append({0, 0, 0, static_cast<char>(query.size())});
        frames += query;
    }
    return frames;
}

// Floods name queries on client without ever reading a reply, until the
// program closes the connection, timeout has passed or stop is set. Each
// write of 4096 bytes of whole frames is made once the writes before have
// been taken: the hub's reads of 4096 bytes then end between frames, so the
// flood never trips the command reader's rule against a read that does not
// fit beside a partial frame, and what the hub has to deal with is only the
// replies the client leaves unread. True when the program closed the
// connection.
bool FloodWithoutReading(CommandClient& client, const std::atomic<bool>& stop, std::chrono::milliseconds timeout) {
    const std::string frames = NameQueryFrames();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!stop && std::chrono::steady_clock::now() < deadline) {
        int unsent = client.unsentBytes();
        while (unsent > 0 && !stop && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
            unsent = client.unsentBytes();
        }
        if (unsent < 0 || !client.sendRawBytes(frames, std::chrono::milliseconds(200))) return true;
    }
    return false;
}

// A device name of 1500 characters: every answer to a name query is about
// 1.5 kB, so the answers a client leaves unread fill the socket buffers
// (megabytes on loopback) within a few thousand queries, in every build.
void UseALongDeviceName(StreamManager& hub) { hub.SetDeviceName(QString(1500, QLatin1Char('N'))); }

// A client that floods name queries and never reads the answers, and comes
// back whenever it is dropped (each time after a short pause), from a thread
// of its own so that it keeps flooding while the test is the other phone.
class QueryFlooder {
public:
    explicit QueryFlooder(uint16_t port) : thread_([this, port] { run(port); }) {}
    ~QueryFlooder() {
        stop_ = true;
        thread_.join();
    }
    QueryFlooder(const QueryFlooder&) = delete;
    QueryFlooder& operator=(const QueryFlooder&) = delete;

    int connections() const { return connections_; }  // taken by the hub's listener
    int dropped() const { return dropped_; }           // closed by the hub while flooding
    bool flooding() const { return flooding_; }        // a connection is open right now

private:
    void run(const uint16_t port) {
        while (!stop_) {
            CommandClient client;
            if (!client.connect("127.0.0.1", port, std::chrono::milliseconds(500))) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the port is closed
                continue;
            }
            ++connections_;
            flooding_ = true;
            FloodWithoutReading(client, stop_, std::chrono::minutes(1));
            flooding_ = false;
            if (stop_) break;
            ++dropped_;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> dropped_{0};
    std::atomic<bool> flooding_{false};
    std::thread thread_;  // last: starts once the counters exist
};

// A client that sends name queries and never reads the answers: the hub
// never waits for it, drops it once its replies no longer fit, and ignores
// what it had queued; the next phone is served at once.
TEST_F(HubTest, AClientThatNeverReadsIsDroppedWithoutStallingTheHub) {
    UseALongDeviceName(*hub_);
    CommandClient flooder;
    ASSERT_TRUE(connect(flooder));
    const auto start = std::chrono::steady_clock::now();
    const std::atomic<bool> stop{false};
    EXPECT_TRUE(FloodWithoutReading(flooder, stop, std::chrono::seconds(10))) << "not dropped while flooding";
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

// The same client flooding without pause and coming back each time it is
// dropped. The hub's thread never waits on it: the phone gets the slot
// within a bound and its session works while the flooder keeps knocking;
// once the phone has left and the flooder holds the slot again, shutting
// the hub down (CloseManager, as on SIGTERM, then the hub's end) takes
// effect within a bound. A hub that waited for the flooder's replies would
// sit behind thousands of queued queries in both cases.
TEST_F(HubTest, AReturningFlooderNeitherKeepsThePhoneOutNorDelaysTheShutdown) {
    constexpr auto kServeBound = std::chrono::seconds(15);
    constexpr auto kShutdownBound = std::chrono::seconds(5);
    UseALongDeviceName(*hub_);
    QueryFlooder flooder(kCommandPort);
    ASSERT_TRUE(WaitFor([&] { return flooder.flooding(); }, *signals_));

    // The phone, trying as it does, is served while the flooder comes back.
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<phone::PhoneStandIn> phone;
    while (!phone && std::chrono::steady_clock::now() - start < kServeBound) {
        auto candidate = std::make_unique<phone::PhoneStandIn>();
        if (candidate->connectWifi(kCommandPort, "Pixel", 30, 320, 240)) phone = std::move(candidate);
        else signals_->settle(20);
    }
    ASSERT_TRUE(phone) << "the phone was not served within " << kServeBound.count() << " s of flooding ("
                       << flooder.connections() << " flooder connections, " << flooder.dropped() << " dropped)";

    // Its session works while the flooder is turned away again and again.
    const int droppedBefore = flooder.dropped();
    ASSERT_TRUE(phone->streamVideo(5)) << phone->lastError();
    ASSERT_TRUE(decoders_.log().WaitPushes(5, 5000));
    for (int query = 0; query < 3; ++query) {
        ASSERT_TRUE(phone->command().sendCommand(phone::CommandType::NameQuery));
        const auto answer = phone->command().readMessage();
        ASSERT_TRUE(answer.has_value()) << phone->command().lastError();
        EXPECT_EQ((*answer)["type"].asInt(), 1001);
    }
    EXPECT_TRUE(WaitFor([&] { return flooder.dropped() >= droppedBefore + 2; }, *signals_))
        << "the flooder stopped knocking; the case proves nothing";
    EXPECT_FALSE(phone->command().waitClosed(std::chrono::milliseconds(100)));

    // The phone leaves; the flooder takes the slot and floods it again.
    ASSERT_TRUE(phone->disconnect()) << phone->lastError();
    const int connectionsBefore = flooder.connections();
    ASSERT_TRUE(WaitFor([&] { return flooder.connections() > connectionsBefore && flooder.flooding(); }, *signals_));

    // Shutdown: the command port closes within the bound...
    const auto shutdown = std::chrono::steady_clock::now();
    hub_->CloseManager();
    bool portClosed = false;
    while (!portClosed && std::chrono::steady_clock::now() - shutdown < kShutdownBound) {
        CommandClient probe;
        portClosed = !probe.connect("127.0.0.1", kCommandPort, std::chrono::milliseconds(200));
        if (!portClosed) signals_->settle(20);
    }
    EXPECT_TRUE(portClosed) << "the command port still took connections " << kShutdownBound.count()
                            << " s after CloseManager";
    // ...and the hub's thread ends within it too.
    const auto end = std::chrono::steady_clock::now();
    hub_.reset();
    signals_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - end, kShutdownBound);
}

}  // namespace
}  // namespace zucam::test
