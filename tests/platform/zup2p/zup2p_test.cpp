// The P2P stand-in over real UDP on loopback.
#include <zup2p/zup2p.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
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
    void onPeer(const std::string& address, int /*port*/) override {
        std::lock_guard<std::mutex> lock(mutex_);
        peers_.push_back(address);
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

private:
    std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    int startedPort_ = 0;
    int lost_ = 0;
    int refused_ = 0;
    std::vector<std::string> peers_;
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
    ASSERT_TRUE(intruder.sendMessage("intruder"));
    ASSERT_TRUE(phone.sendRaw("not a zup2p datagram"));
    ASSERT_TRUE(phone.sendRaw(P2pSender::datagram(1, 0, 0, "no fragments")));
    ASSERT_TRUE(listener.waitRefused(3));
    ASSERT_TRUE(phone.sendMessage("phone again"));
    ASSERT_TRUE(listener.waitMessages(2));
    EXPECT_EQ(listener.messages(), (std::vector<std::string>{"phone", "phone again"}));
}

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
