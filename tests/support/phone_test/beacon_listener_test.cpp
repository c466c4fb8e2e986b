// The beacon listener on the real port 5008, fed from a socket on 5009 as
// the program sends. These cases hold the beacon ports' resource lock: the
// kernel gives a unicast datagram to only one of the sockets sharing a port.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <sys/wait.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "support/phone/beacon_listener.h"
#include "support/phone/unique_fd.h"

namespace zucam::phone {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 5s;

// A UDP socket bound to from:fromPort (shared like the program's) that sends
// to address:5008.
class BeaconSender {
public:
    explicit BeaconSender(const char* from = "127.0.0.1", uint16_t fromPort = 5009)
        : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const int one = 1;
        ::setsockopt(socket_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        ::setsockopt(socket_.get(), SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(fromPort);
        ::inet_pton(AF_INET, from, &local.sin_addr);
        bound_ = ::bind(socket_.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }

    bool bound() const { return bound_; }

    bool send(const std::string& text, const char* to = "127.0.0.1") const {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(BeaconListener::kBeaconPort);
        ::inet_pton(AF_INET, to, &target.sin_addr);
        return ::sendto(socket_.get(), text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&target),
                        sizeof target) == static_cast<ssize_t>(text.size());
    }

private:
    UniqueFd socket_;
    bool bound_ = false;
};

TEST(PhoneStandInBeacon, ReceivesAndParsesABeaconFromPort5009) {
    BeaconListener listener;
    ASSERT_TRUE(listener.bind("127.0.0.1")) << listener.lastError();
    const BeaconSender sender;
    ASSERT_TRUE(sender.bound());
    ASSERT_TRUE(sender.send(R"({"name":"desk-pc","port":10080,"ip":"127.0.0.1"})" "\n"));

    const auto beacon = listener.waitForBeacon(kWait);
    ASSERT_TRUE(beacon);
    EXPECT_TRUE(beacon->wellFormed()) << beacon->problem;
    EXPECT_EQ(beacon->name(), "desk-pc");
    EXPECT_EQ(beacon->port(), 10080);
    EXPECT_EQ(beacon->ip(), "127.0.0.1");
    EXPECT_EQ(beacon->senderAddress, "127.0.0.1");
    EXPECT_EQ(beacon->senderPort, 5009);
    EXPECT_EQ(beacon->localAddress, "127.0.0.1");
    EXPECT_EQ(listener.count(), 1u);
}

TEST(PhoneStandInBeacon, KeepsEveryDatagramAndSkipsBadOnesWhenAskedForBeacons) {
    BeaconListener listener;
    ASSERT_TRUE(listener.bind("127.0.0.1")) << listener.lastError();
    const BeaconSender sender;
    ASSERT_TRUE(sender.send("garbage"));
    ASSERT_TRUE(sender.send(R"({"ip":"127.0.0.1","port":1,"name":"a"})"));
    ASSERT_TRUE(sender.send(R"({"name":"b","port":2,"ip":"127.0.0.1"})"));
    ASSERT_TRUE(listener.waitForCount(3, kWait));

    const std::vector<BeaconDatagram> all = listener.received();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_FALSE(all[0].wellFormed());
    EXPECT_EQ(all[0].text, "garbage");
    EXPECT_EQ(listener.waitForBeacon(kWait)->name(), "a");
    EXPECT_EQ(listener.waitForBeacon(kWait)->name(), "b");
    EXPECT_FALSE(listener.waitForBeacon(50ms)) << "each datagram is returned once";
    EXPECT_FALSE(listener.waitForCount(4, 50ms));
}

TEST(PhoneStandInBeacon, AnyAddressListenerSeesWhereEachDatagramWasSent) {
    BeaconListener listener;
    ASSERT_TRUE(listener.bind()) << listener.lastError();
    const BeaconSender sender;
    for (const char* to : {"127.0.0.1", "127.0.0.7", "127.0.0.254"})
        ASSERT_TRUE(sender.send(R"({"name":"x","port":10080,"ip":"127.0.0.1"})", to));
    ASSERT_TRUE(listener.waitForCount(3, kWait));
    std::vector<std::string> destinations;
    for (const BeaconDatagram& datagram : listener.received()) destinations.push_back(datagram.localAddress);
    EXPECT_EQ(destinations, (std::vector<std::string>{"127.0.0.1", "127.0.0.7", "127.0.0.254"}));
}

TEST(PhoneStandInBeacon, ListenersShareThePortButNotTwiceTheSameObject) {
    BeaconListener first;
    BeaconListener second;
    ASSERT_TRUE(first.bind("127.0.0.1")) << first.lastError();
    EXPECT_TRUE(second.bind("127.0.0.1")) << second.lastError();
    EXPECT_FALSE(first.bind("127.0.0.1"));
    BeaconListener bad;
    EXPECT_FALSE(bad.bind("not-an-address"));
}

TEST(PhoneStandInBeacon, ClassifiesShapes) {
    struct Case {
        std::string text;
        bool wellFormed;
    };
    const std::vector<Case> cases = {
        {R"({"name":"pc","port":10080,"ip":"192.168.1.20"})", true},
        {R"({"ip":"10.0.0.2","port":65535,"name":""})" "\n", true},
        {"{\"name\":\"pc\",\"port\":10080,\"ip\":\"127.0.0.1\"}\n", true},
        {R"({"name":"pc","port":"10080","ip":"127.0.0.1"})", false},
        {R"({"name":"pc","port":0,"ip":"127.0.0.1"})", false},
        {R"({"name":"pc","port":65536,"ip":"127.0.0.1"})", false},
        {R"({"name":"pc","port":10080.5,"ip":"127.0.0.1"})", false},
        {R"({"port":10080,"ip":"127.0.0.1"})", false},
        {R"({"name":"pc","port":10080,"ip":"pc.local"})", false},
        {R"({"name":"pc","port":10080})", false},
        {R"([{"name":"pc","port":10080,"ip":"127.0.0.1"}])", false},
        {R"({"name":"pc","port":10080,"ip":"127.0.0.1"}{})", false},
        {"", false},
    };
    for (const Case& c : cases) {
        BeaconDatagram datagram;
        datagram.text = c.text;
        BeaconListener::Classify(datagram);
        EXPECT_EQ(datagram.wellFormed(), c.wellFormed) << c.text << ": " << datagram.problem;
    }
}

TEST(PhoneStandInBeacon, ProgramPrintsTheFirstBeacon) {
    const BeaconSender sender;
    ASSERT_TRUE(sender.bound());
    FILE* pipe = ::popen(PHONE_STANDIN_PATH " --listen-beacon --bind 127.0.0.1 --timeout 5000 2>/dev/null", "r");
    ASSERT_NE(pipe, nullptr);
    // Until the program has bound the port, beacons fall on the floor: keep
    // sending, as the program does once a second, until it has printed.
    std::atomic<bool> done{false};
    std::thread beacons([&] {
        sender.send("not a beacon");
        while (!done) {
            sender.send(R"({"name":"desk","port":10080,"ip":"127.0.0.1"})");
            std::this_thread::sleep_for(20ms);
        }
    });
    std::string output;
    std::array<char, 1024> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), got);
    const int status = ::pclose(pipe);
    done = true;
    beacons.join();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(output, "{\"ip\":\"127.0.0.1\",\"name\":\"desk\",\"port\":10080}\n");
}

}  // namespace
}  // namespace zucam::phone
