#include "support/phone/beacon_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/phone/command_client.h"

namespace zucam::phone {

namespace {

std::string dotted(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

std::string BeaconDatagram::name() const {
    return json && (*json)["name"].isString() ? (*json)["name"].asString() : std::string();
}

uint16_t BeaconDatagram::port() const {
    return wellFormed() ? static_cast<uint16_t>((*json)["port"].asUInt()) : 0;
}

std::string BeaconDatagram::ip() const {
    return json && (*json)["ip"].isString() ? (*json)["ip"].asString() : std::string();
}

void BeaconListener::Classify(BeaconDatagram& datagram) {
    std::string error;
    datagram.json = ParseJson(datagram.text, &error);
    if (!datagram.json) {
        datagram.problem = "not JSON: " + error;
        return;
    }
    const Json::Value& beacon = *datagram.json;
    if (!beacon.isObject()) {
        datagram.problem = "not an object";
        return;
    }
    const Json::Value& port = beacon["port"];
    in_addr ignored{};
    if (!beacon["name"].isString())
        datagram.problem = "no name text";
    else if ((port.type() != Json::intValue && port.type() != Json::uintValue) || !port.isInt64() ||
             port.asInt64() < 1 || port.asInt64() > 65535)
        datagram.problem = "no port in 1..65535";
    else if (!beacon["ip"].isString() || ::inet_pton(AF_INET, beacon["ip"].asCString(), &ignored) != 1)
        datagram.problem = "no dotted IPv4 ip";
    else
        datagram.problem.clear();
}

BeaconListener::~BeaconListener() {
    if (receiver_.joinable()) {
        const char stop = 1;
        while (::write(wakeWrite_.get(), &stop, 1) < 0 && errno == EINTR) {
        }
        receiver_.join();
    }
}

bool BeaconListener::bind(const std::string& address, uint16_t port) {
    if (receiver_.joinable()) {
        lastError_ = "already bound";
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        lastError_ = "not an IPv4 address: " + address;
        return false;
    }
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
        lastError_ = errnoText("socket");
        return false;
    }
    const int one = 1;
    ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    ::setsockopt(socket.get(), IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        lastError_ = errnoText(("bind " + address + ":" + std::to_string(port)).c_str());
        return false;
    }
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        lastError_ = errnoText("pipe2");
        return false;
    }
    wakeRead_.reset(pipeEnds[0]);
    wakeWrite_.reset(pipeEnds[1]);
    socket_ = std::move(socket);
    receiver_ = std::thread([this] { receiveLoop(); });
    return true;
}

// Receive thread: takes every datagram as it comes until the wake pipe fires.
void BeaconListener::receiveLoop() {
    std::string buffer(65536, '\0');
    for (;;) {
        pollfd entries[2] = {{socket_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (entries[1].revents != 0) return;
        for (;;) {
            sockaddr_in sender{};
            iovec vector{buffer.data(), buffer.size()};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
            msghdr message{};
            message.msg_name = &sender;
            message.msg_namelen = sizeof sender;
            message.msg_iov = &vector;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t got = ::recvmsg(socket_.get(), &message, 0);
            if (got < 0) break;  // EAGAIN: drained

            BeaconDatagram datagram;
            datagram.text.assign(buffer.data(), static_cast<std::size_t>(got));
            datagram.senderAddress = dotted(sender.sin_addr);
            datagram.senderPort = ntohs(sender.sin_port);
            datagram.receivedAt = std::chrono::steady_clock::now();
            for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
                if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
                    in_pktinfo info{};
                    std::memcpy(&info, CMSG_DATA(header), sizeof info);
                    datagram.localAddress = dotted(info.ipi_addr);
                }
            }
            Classify(datagram);
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                received_.push_back(std::move(datagram));
            }
            arrived_.notify_all();
        }
    }
}

std::optional<BeaconDatagram> BeaconListener::waitForDatagram(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return nextToReturn_ < received_.size(); })) return std::nullopt;
    return received_[nextToReturn_++];
}

std::optional<BeaconDatagram> BeaconListener::waitForBeacon(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!arrived_.wait_until(lock, deadline, [this] { return nextToReturn_ < received_.size(); }))
            return std::nullopt;
        const BeaconDatagram& datagram = received_[nextToReturn_++];
        if (datagram.wellFormed()) return datagram;
    }
}

bool BeaconListener::waitForCount(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

std::vector<BeaconDatagram> BeaconListener::received() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::size_t BeaconListener::count() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return received_.size();
}

}  // namespace zucam::phone
