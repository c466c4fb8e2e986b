// The discovery beacon on a veth pair that the test makes inside its own
// network namespace (scripts/netns-run): what a round sends, from where and
// to where, which adapters are left out, and that the adapter list is read
// again every round. Never run against the host's interfaces: without a
// private namespace the cases skip.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QStringList>
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/system/system_info.h"
#include "server/stream_server.h"
#include "server_test_util.h"
#include "stream_manager.h"

using namespace servertest;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kBeaconPort = 5008;
constexpr uint16_t kBeaconSourcePort = 5009;
const char* const kLocal = "10.77.0.1";     // the announcing side (first veth end)
const char* const kPeer = "10.77.0.2";      // the listening side (second veth end)
const char* const kBroadcast = "10.77.0.255";
// "veth…" names count as virtual for the real adapter query, so that other
// test programs' transports in this namespace never announce on the pair.
const std::string kVethPrefix = "vethzu";

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::string ReadLink(const char* path) {
    char target[256];
    const ssize_t length = readlink(path, target, sizeof(target) - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

// Empty when the test may make interfaces here; otherwise why not.
std::string WhyNoPrivateNetwork() {
    if (geteuid() != 0) return "not root";
    if (!Run("command -v ip")) return "the ip tool is missing";
    const std::string self = ReadLink("/proc/self/ns/net");
    const std::string init = ReadLink("/proc/1/ns/net");
    if (!init.empty() && init == self) return "this is the host's network namespace (run under scripts/netns-run)";
    // Where pid 1's namespace cannot be read, a private namespace is one that
    // has nothing but loopback (and what these tests made).
    if (init.empty()) {
        struct if_nameindex* const names = if_nameindex();
        if (names == nullptr) return "cannot list the network interfaces";
        std::string foreign;
        for (const struct if_nameindex* name = names; name->if_index != 0; ++name) {
            const std::string interface = name->if_name;
            if (interface != "lo" && interface.rfind(kVethPrefix, 0) != 0) foreign = interface;
        }
        if_freenameindex(names);
        if (!foreign.empty()) return "interface " + foreign + " exists: not a private network namespace";
    }
    return std::string();
}

// A veth pair with kLocal on one end and kPeer on the other, removed again
// on destruction.
class VethPair {
public:
    VethPair()
        : local_(kVethPrefix + std::to_string(getpid()) + "a"), peer_(kVethPrefix + std::to_string(getpid()) + "b") {
        made_ = Run("ip link add " + local_ + " type veth peer name " + peer_);
        ok_ = made_ && AddAddress(local_, kLocal) && AddAddress(peer_, kPeer) &&
              Run("ip link set " + local_ + " up") && Run("ip link set " + peer_ + " up");
    }
    ~VethPair() {
        if (made_) Run("ip link del " + local_);  // takes the peer along
    }
    VethPair(const VethPair&) = delete;
    VethPair& operator=(const VethPair&) = delete;

    bool ok() const { return ok_; }
    const std::string& local() const { return local_; }
    const std::string& peer() const { return peer_; }
    bool AddAddress(const std::string& interface, const std::string& address) {
        return Run("ip addr add " + address + "/24 dev " + interface);
    }

private:
    const std::string local_;
    const std::string peer_;
    bool made_ = false;
    bool ok_ = false;
};

struct Datagram {
    std::string text;
    std::string from;         // sender address
    uint16_t fromPort = 0;
    std::string destination;  // the address the datagram was sent to
};

// A UDP socket on address:5008 that reports each datagram's destination.
// It keeps only the beacons of the transport whose command port is given:
// other test programs in this namespace may run transports of their own.
class BeaconListener {
public:
    BeaconListener(const char* address, uint16_t commandPort) : commandPort_(commandPort) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kBeaconPort);
        ok_ = fd_ >= 0 && inet_pton(AF_INET, address, &local.sin_addr) == 1 &&
              setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)) == 0 &&
              setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &one, sizeof(one)) == 0 &&
              bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
    }
    ~BeaconListener() {
        if (fd_ >= 0) close(fd_);
    }
    BeaconListener(const BeaconListener&) = delete;
    BeaconListener& operator=(const BeaconListener&) = delete;
    bool ok() const { return ok_; }

    // Runs this thread's event loop (the beacon timer lives there) and
    // collects datagrams until done(received) holds or the time runs out.
    std::vector<Datagram> Collect(const std::function<bool(const std::vector<Datagram>&)>& done,
                                  milliseconds timeout) {
        std::vector<Datagram> received;
        const auto deadline = Clock::now() + timeout;
        while (!done(received) && Clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            pollfd readable{fd_, POLLIN, 0};
            if (poll(&readable, 1, 5) != 1) continue;
            Datagram datagram = Receive();
            if (ParseJson(datagram.text)["port"].asInt() == commandPort_) received.push_back(std::move(datagram));
        }
        return received;
    }

private:
    Datagram Receive() {
        char buffer[2048];
        char control[256];
        sockaddr_in sender{};
        iovec data{buffer, sizeof(buffer)};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof(sender);
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        const ssize_t length = recvmsg(fd_, &message, 0);
        Datagram datagram;
        if (length < 0) return datagram;
        datagram.text.assign(buffer, static_cast<size_t>(length));
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &sender.sin_addr, text, sizeof(text));
        datagram.from = text;
        datagram.fromPort = ntohs(sender.sin_port);
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != IPPROTO_IP || header->cmsg_type != IP_PKTINFO) continue;
            const auto* info = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(header));
            inet_ntop(AF_INET, &info->ipi_addr, text, sizeof(text));
            datagram.destination = text;
        }
        return datagram;
    }

    const uint16_t commandPort_;
    int fd_ = -1;
    bool ok_ = false;
};

std::vector<Datagram> From(const std::vector<Datagram>& datagrams, const std::string& ip) {
    std::vector<Datagram> matching;
    for (const Datagram& datagram : datagrams) {
        if (ParseJson(datagram.text)["ip"].asString() == ip) matching.push_back(datagram);
    }
    return matching;
}


LocalAdapter Adapter(const std::string& name, const std::string& description, const std::string& ip) {
    return LocalAdapter{name, description, ip, false};
}

class BeaconTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string why = WhyNoPrivateNetwork();
        if (!why.empty()) GTEST_SKIP() << why;
        veth_ = std::make_unique<VethPair>();
        if (!veth_->ok()) GTEST_SKIP() << "cannot make a veth pair here (no veth support?)";
        hub_ = MakeHub();
        commandPort_ = FindFreePortRange(1);
        ASSERT_NE(commandPort_, 0);
    }
    void TearDown() override {
        server_.reset();
        hub_.reset();
        SetLocalAdaptersForTesting(std::nullopt);
        SetSystemVersionOverrideForTesting(std::nullopt, std::nullopt);
        veth_.reset();
    }

    // Makes the transport with its command server listening, recording what
    // it reports through ShowLocalIpAddr.
    void StartServer(const std::string& name) {
        QObject::connect(hub_.get(), &StreamManager::ShowLocalIpAddr, &receiver_,
                         [this](const QStringList& addresses) { reported_.push_back(addresses); },
                         Qt::DirectConnection);
        server_ = std::make_unique<StreamServer>(commandPort_, hub_->reactor(), hub_.get());
        server_->name = name;
        ASSERT_TRUE(server_->Start());
    }

    std::unique_ptr<VethPair> veth_;
    std::unique_ptr<StreamManager> hub_;
    uint16_t commandPort_ = 0;
    QObject receiver_;
    std::vector<QStringList> reported_;
    std::unique_ptr<StreamServer> server_;
};

TEST_F(BeaconTest, EverySecondAnnouncesNamePortAndAddressButNoVirtualAdapter) {
    // The virtual adapters' addresses are real on the veth too, so a beacon
    // from any of them would arrive.
    const std::vector<LocalAdapter> adapters = {
        Adapter(veth_->local(), "test ethernet", kLocal),
        Adapter("vmnet8", "VMware Virtual Ethernet Adapter for VMnet8", "10.77.0.3"),
        Adapter("vEthernet", "Hyper-V Virtual Ethernet Adapter", "10.77.0.4"),
        Adapter("hv", "Microsoft HYPER-V Network Adapter", "10.77.0.5"),
        Adapter("vm", "vmware network adapter", "10.77.0.6"),
        Adapter("veth9", "veth9 (virtual ethernet)", "10.77.0.7"),
    };
    for (size_t i = 1; i < adapters.size(); ++i) ASSERT_TRUE(veth_->AddAddress(veth_->local(), adapters[i].ipAddress));
    SetLocalAdaptersForTesting(adapters);
    BeaconListener listener(kPeer, commandPort_);
    ASSERT_TRUE(listener.ok());

    StartServer("Büro PC");
    ASSERT_EQ(reported_.size(), 1u);
    EXPECT_EQ(reported_[0], QStringList{kLocal});

    // Two rounds: the first within the first 1.x s, the next a second later.
    const std::vector<Datagram> received = listener.Collect(
        [](const std::vector<Datagram>& all) { return From(all, kLocal).size() >= 2; }, milliseconds(3500));
    const std::vector<Datagram> ours = From(received, kLocal);
    ASSERT_GE(ours.size(), 2u) << "no beacon every second";
    for (const Datagram& datagram : ours) {
        const Json::Value beacon = ParseJson(datagram.text);
        EXPECT_EQ(beacon.size(), 3u) << datagram.text;
        EXPECT_EQ(beacon["name"].asString(), "Büro PC");
        EXPECT_EQ(beacon["port"].asInt(), commandPort_);
        EXPECT_EQ(datagram.from, kLocal);
        EXPECT_EQ(datagram.fromPort, kBeaconSourcePort);
        EXPECT_EQ(datagram.destination, kPeer) << "sent to each host of the subnet, not broadcast";
    }
    EXPECT_EQ(received.size(), ours.size()) << "a virtual adapter was announced: " << received.back().text;
}

TEST_F(BeaconTest, BeforeWindows10OneBroadcastGoesToTheSubnet) {
    SetSystemVersionOverrideForTesting(std::nullopt, false);
    SetLocalAdaptersForTesting(std::vector<LocalAdapter>{Adapter(veth_->local(), "test ethernet", kLocal)});
    BeaconListener listener("0.0.0.0", commandPort_);
    ASSERT_TRUE(listener.ok());
    StartServer("old");

    const std::vector<Datagram> received = listener.Collect(
        [](const std::vector<Datagram>& all) { return From(all, kLocal).size() >= 2; }, milliseconds(3500));
    ASSERT_GE(From(received, kLocal).size(), 2u) << "the broadcast did not arrive (SO_BROADCAST?)";
    for (const Datagram& datagram : received) {
        EXPECT_EQ(datagram.destination, kBroadcast) << "only the .255 address in this mode";
        EXPECT_EQ(datagram.from, kLocal);
    }
}

TEST_F(BeaconTest, TwoAdaptersSendTwoSetsEachWithItsOwnAddress) {
    SetLocalAdaptersForTesting(std::vector<LocalAdapter>{Adapter(veth_->local(), "test ethernet", kLocal),
                                                         Adapter(veth_->peer(), "second ethernet", kPeer)});
    BeaconListener listener("0.0.0.0", commandPort_);
    ASSERT_TRUE(listener.ok());
    StartServer("two");
    EXPECT_EQ(reported_.at(0), (QStringList{kLocal, kPeer}));

    const std::vector<Datagram> received = listener.Collect(
        [](const std::vector<Datagram>& all) { return !From(all, kLocal).empty() && !From(all, kPeer).empty(); },
        milliseconds(2500));
    ASSERT_FALSE(From(received, kLocal).empty());
    ASSERT_FALSE(From(received, kPeer).empty());
    for (const Datagram& datagram : received) {
        EXPECT_EQ(datagram.from, ParseJson(datagram.text)["ip"].asString()) << "each set leaves from its address";
    }
}

TEST_F(BeaconTest, AdapterThatComesUpLaterIsAnnouncedWithinARound) {
    SetLocalAdaptersForTesting(std::vector<LocalAdapter>{});
    BeaconListener listener(kPeer, commandPort_);
    ASSERT_TRUE(listener.ok());
    StartServer("later");
    EXPECT_EQ(reported_.at(0), QStringList{});

    // A round passes with nothing to announce.
    EXPECT_TRUE(listener.Collect([](const std::vector<Datagram>& all) { return !all.empty(); }, milliseconds(1200))
                    .empty());
    SetLocalAdaptersForTesting(std::vector<LocalAdapter>{Adapter(veth_->local(), "test ethernet", kLocal)});
    const std::vector<Datagram> received = listener.Collect(
        [](const std::vector<Datagram>& all) { return !all.empty(); }, milliseconds(2500));
    ASSERT_EQ(From(received, kLocal).size(), received.size());
    EXPECT_FALSE(received.empty()) << "the new adapter was not announced";
}

}  // namespace
