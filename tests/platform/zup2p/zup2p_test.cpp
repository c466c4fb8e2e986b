// The P2P stand-in over real UDP on loopback.
#include <zup2p/zup2p.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/phone/p2p_sender.h"

namespace {

using namespace std::chrono_literals;
using zucam::phone::HeldUdpPort;
using zucam::phone::P2pSender;

// Records every listener call; waits on them with a deadline.
class RecordingListener : public zu::DataListener {
public:
    void onStarted(int port) override {
        std::lock_guard<std::mutex> lock(mutex_);
        startedPort_ = port;
        changed_.notify_all();
    }
    bool acceptPeer(const char* data, int length) override {
        return std::string(data, static_cast<size_t>(length)).rfind(acceptOnlyPrefix_, 0) == 0;
    }
    void onPeer(const std::string& address, int port) override {
        std::lock_guard<std::mutex> lock(mutex_);
        peers_.push_back(address);
        peerPorts_.push_back(port);
    }
    void onLost(int messages) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lost_ += messages;
    }
    void onRefused(int datagrams) override {
        std::lock_guard<std::mutex> lock(mutex_);
        refused_ += datagrams;
        changed_.notify_all();
    }
    void onData(int /*peer*/, int messageNumber, const char* data, int length) override {
        if (stopped_.load()) callsAfterStop_.fetch_add(1);
        if (slowMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(slowMs_));
        if (slowUs_ > 0) std::this_thread::sleep_for(std::chrono::microseconds(slowUs_));
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.emplace_back(data, static_cast<size_t>(length));
        numbers_.push_back(messageNumber);
        changed_.notify_all();
    }

    bool waitMessages(size_t n, std::chrono::milliseconds timeout = 5000ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return messages_.size() >= n; });
    }
    bool waitRefused(int n, std::chrono::milliseconds timeout = 5000ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return refused_ >= n; });
    }
    std::vector<std::string> messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    std::vector<int> numbers() {
        std::lock_guard<std::mutex> lock(mutex_);
        return numbers_;
    }
    std::vector<int> peerPorts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return peerPorts_;
    }
    std::vector<std::string> peers() {
        std::lock_guard<std::mutex> lock(mutex_);
        return peers_;
    }
    int startedPort() {
        std::lock_guard<std::mutex> lock(mutex_);
        return startedPort_;
    }

    std::atomic<bool> stopped_{false};
    std::atomic<int> callsAfterStop_{0};
    int slowMs_ = 0;
    int slowUs_ = 0;
    std::string acceptOnlyPrefix_;  // acceptPeer takes only messages that begin so

private:
    std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    int startedPort_ = 0;
    int lost_ = 0;
    int refused_ = 0;
    std::vector<std::string> peers_;
    std::vector<int> peerPorts_;
    std::vector<std::string> messages_;
    std::vector<int> numbers_;
};

TEST(Zup2pTest, BindsAPortAndDeliversWholeMessagesInOrder) {
    RecordingListener listener;
    zu::Zup2p library;
    EXPECT_EQ(library.bindPort(), 0);
    ASSERT_TRUE(library.init(&listener, 0, 100));
    const int port = library.bindPort();
    ASSERT_GT(port, 0);

    P2pSender phone;
    ASSERT_TRUE(phone.open(static_cast<uint16_t>(port))) << phone.lastError();
    const std::string big(5000, 'v');
    auto first = phone.fragment(big, 1000);  // five datagrams
    auto second = phone.fragment("second", 1000);
    // The network reorders: the second message and first's tail come first.
    ASSERT_TRUE(phone.sendDatagrams({second[0], first[4], first[2], first[0], first[3], first[1]}));
    ASSERT_TRUE(listener.waitMessages(2));
    EXPECT_EQ(listener.messages(), (std::vector<std::string>{big, "second"}));
    EXPECT_EQ(listener.numbers(), (std::vector<int>{0, 1}));
    EXPECT_EQ(listener.startedPort(), port);
    EXPECT_EQ(listener.peers(), (std::vector<std::string>{"127.0.0.1"}));
}

TEST(Zup2pTest, ListensOnlyToTheFirstPeerAndRefusesMalformedDatagrams) {
    RecordingListener listener;
    zu::Zup2p library;
    ASSERT_TRUE(library.init(&listener, 0, 100));
    P2pSender phone;
    P2pSender intruder;
    ASSERT_TRUE(phone.open(static_cast<uint16_t>(library.bindPort())));
    ASSERT_TRUE(intruder.open(static_cast<uint16_t>(library.bindPort())));
    ASSERT_TRUE(phone.sendMessage("phone"));
    ASSERT_TRUE(listener.waitMessages(1));

    intruder.setNextMessageNumber(phone.nextMessageNumber());
    intruder.sendMessage("intruder");  // may fail: the system turns it away
    ASSERT_TRUE(phone.sendRaw("not a zup2p datagram"));
    ASSERT_TRUE(phone.sendRaw(P2pSender::datagram(1, 0, 0, "no fragments")));
    ASSERT_TRUE(listener.waitRefused(2));
    ASSERT_TRUE(phone.sendMessage("phone again"));
    ASSERT_TRUE(listener.waitMessages(2));
    EXPECT_EQ(listener.messages(), (std::vector<std::string>{"phone", "phone again"}));
    EXPECT_EQ(listener.peerPorts(), (std::vector<int>{phone.localPort()}));
}

// Datagrams a stranger who found the port sends before the phone: none of
// them makes the stranger the peer, and the phone's messages all arrive.
struct StrangerCase {
    const char* name;
    std::vector<std::string> datagrams;
    int refused;  // how many of them the library reports refused
};

class Zup2pStrangerTest : public testing::TestWithParam<StrangerCase> {};

TEST_P(Zup2pStrangerTest, DoesNotTakeThePeerBeforeThePhone) {
    RecordingListener listener;
    listener.acceptOnlyPrefix_ = "phone";
    zu::Zup2p library;
    ASSERT_TRUE(library.init(&listener, 0, 100));
    const uint16_t port = static_cast<uint16_t>(library.bindPort());
    P2pSender stranger;
    P2pSender phone;
    ASSERT_TRUE(stranger.open(port));
    ASSERT_TRUE(phone.open(port));
    ASSERT_TRUE(stranger.sendDatagrams(GetParam().datagrams));
    // (On loopback the stranger's datagrams are queued before the phone's.)
    if (GetParam().refused > 0) {
        ASSERT_TRUE(listener.waitRefused(GetParam().refused));
    }

    std::vector<std::string> sent;
    for (int i = 0; i < 200; ++i) {
        sent.push_back("phone " + std::to_string(i));
        ASSERT_TRUE(phone.sendMessage(sent.back()));
        if (i % 20 == 19) {
            ASSERT_TRUE(listener.waitMessages(sent.size()));
        }
    }
    ASSERT_TRUE(listener.waitMessages(sent.size()));
    // The stranger keeps trying once the phone is the peer.
    stranger.setNextMessageNumber(phone.nextMessageNumber());
    stranger.sendMessage("phone-like but the stranger's");
    ASSERT_TRUE(phone.sendMessage("phone last"));
    sent.push_back("phone last");
    ASSERT_TRUE(listener.waitMessages(sent.size()));
    EXPECT_EQ(listener.messages(), sent);
    EXPECT_EQ(listener.peerPorts(), (std::vector<int>{phone.localPort()}));
}

INSTANTIATE_TEST_SUITE_P(
    Datagrams, Zup2pStrangerTest,
    testing::Values(
        // Thirteen bytes: the magic, a header and a fragment count of 0.
        StrangerCase{"NoFragments", {P2pSender::datagram(0, 0, 0, "x")}, 1},
        StrangerCase{"IndexPastTheCount", {P2pSender::datagram(0, 3, 2, "x")}, 1},
        StrangerCase{"HeaderOnly", {P2pSender::datagram(0, 0, 1, "")}, 1},
        // A fragment of a message that never completes.
        StrangerCase{"IncompleteMessage", {P2pSender::datagram(0, 0, 2, "half")}, 0},
        // Complete messages the listener refuses (twice: a refused sender
        // stays refused).
        StrangerCase{"RefusedMessage",
                     {P2pSender::datagram(0, 0, 1, "forged"), P2pSender::datagram(1, 0, 1, "phone forged")},
                     2}),
    [](const testing::TestParamInfo<StrangerCase>& param) { return std::string(param.param.name); });

// A flood from a second address beside the phone's real stream, started
// before the phone's first datagram or once the phone is the peer: the
// phone loses few of its messages.
class Zup2pFloodTest : public testing::TestWithParam<bool> {};

TEST_P(Zup2pFloodTest, CostsThePhoneFewMessages) {
    const bool floodFirst = GetParam();
    RecordingListener listener;
    listener.acceptOnlyPrefix_ = "phone";
    listener.slowUs_ = 150;  // the consumer's work: room for about 6 MB/s of 1 kB messages
    zu::Zup2p library;
    ASSERT_TRUE(library.init(&listener, 0, 100));
    const uint16_t port = static_cast<uint16_t>(library.bindPort());
    P2pSender phone;
    ASSERT_TRUE(phone.open(port));
    if (!floodFirst) {
        ASSERT_TRUE(phone.sendMessage("phone hello"));
        ASSERT_TRUE(listener.waitMessages(1));
    }
    std::atomic<bool> flooding{true};
    std::atomic<long> flooded{0};
    std::thread flood([&] {
        P2pSender flooder;
        if (!flooder.open(port)) return;
        flooder.setNextMessageNumber(1);
        const std::string message(1000, 'f');
        while (flooding.load()) {
            flooder.sendMessage(message);  // refused by the system once the phone is the peer
            flooded.fetch_add(1);
        }
    });
    while (flooded.load() < 1000) std::this_thread::yield();

    constexpr int kMessages = 2000;
    const std::string body(1000, 'p');
    for (int i = 0; i < kMessages; ++i) {
        phone.sendMessage("phone" + body);
        // About 2 MB/s in bursts of ten, like a video stream.
        if (i % 10 == 9) std::this_thread::sleep_for(5ms);
    }
    listener.waitMessages(kMessages + (floodFirst ? 0 : 1), 1000ms);
    flooding.store(false);
    flood.join();
    size_t delivered = 0;
    for (const std::string& message : listener.messages()) delivered += message == "phone" + body ? 1 : 0;
    const double lostShare = 1.0 - static_cast<double>(delivered) / kMessages;
    std::printf("phone messages delivered beside a flood%s: %zu of %d (%.1f %% lost); %ld flood messages sent\n",
                floodFirst ? " that came first" : "", delivered, kMessages, lostShare * 100.0, flooded.load());
    EXPECT_LT(lostShare, 0.05);
    EXPECT_EQ(listener.peerPorts(), (std::vector<int>{phone.localPort()}));
}

INSTANTIATE_TEST_SUITE_P(Start, Zup2pFloodTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& param) {
                             return std::string(param.param ? "FloodFirst" : "PhoneFirst");
                         });

TEST(Zup2pTest, AFailedBindFailsInitAndLeavesNothingRunning) {
    HeldUdpPort held;
    ASSERT_NE(held.port(), 0);
    RecordingListener listener;
    zu::Zup2p library;
    EXPECT_FALSE(library.init(&listener, held.port(), 100));
    EXPECT_EQ(library.bindPort(), 0);

    // The same through the library's port setting, as the program calls it.
    setenv(zu::Zup2p::kPortEnvironment, std::to_string(held.port()).c_str(), 1);
    EXPECT_FALSE(library.init(&listener, 0, 100));
    setenv(zu::Zup2p::kPortEnvironment, "not a port", 1);
    EXPECT_FALSE(library.init(&listener, 0, 100));
    unsetenv(zu::Zup2p::kPortEnvironment);
    EXPECT_EQ(listener.startedPort(), 0);

    EXPECT_TRUE(library.init(&listener, 0, 100));
    EXPECT_FALSE(library.init(&listener, 0, 100)) << "a second init without uninit";
}

TEST(Zup2pTest, UninitReturnsPromptlyUnderAFloodAndNoCallbackFollowsIt) {
    RecordingListener listener;
    listener.slowMs_ = 1;  // a consumer that takes its time
    zu::Zup2p library;
    ASSERT_TRUE(library.init(&listener, 0, 100));
    const uint16_t port = static_cast<uint16_t>(library.bindPort());
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        P2pSender phone;
        if (!phone.open(port)) return;
        const std::string packet(1000, 'f');
        while (flooding.load()) phone.sendMessage(packet);
    });
    ASSERT_TRUE(listener.waitMessages(20));
    const auto before = std::chrono::steady_clock::now();
    library.uninit();
    listener.stopped_.store(true);
    const auto took = std::chrono::steady_clock::now() - before;
    std::this_thread::sleep_for(50ms);  // room for a stray callback to show up
    flooding.store(false);
    flood.join();
    EXPECT_LT(took, 1s);
    EXPECT_EQ(listener.callsAfterStop_.load(), 0);
    EXPECT_EQ(library.bindPort(), 0);
}

}  // namespace
