#include "support/usbmuxd/fake_lockdownd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "support/usbmuxd/plist_value.h"

namespace zucam::usbmux {
namespace {

// A device key as lockdownd hands it out (PKCS#1 PEM); only its public half
// exists here, and nothing is ever encrypted with it.
constexpr const char* kDevicePublicKey = R"(-----BEGIN RSA PUBLIC KEY-----
MIIBCgKCAQEAu7VAhDXEozII2U2gjX8bomEayLLpZFE0JBnL8UeCd2zcdhYxHvQU
hiRoF206y7ef+H0qK6gJCxIRxQeg7i8UaNHpBwyStgD4HdvynnOJfUiSnqkAqcaJ
gI50Qzk6FCXZGomc1RrRlv964Ikv+hA+PMrzBGW2dOStT+Px6fg7GjEgp/Azc0nP
UwDwifLifQqazMubkWfaE3/IJk8x+UvGVe26STCw7DVp4YRdk52HiDAW/6OIAG8k
xz6SCdsdew6vf4HauHkkmboJ/sn96ZMPmwHFGarGFej/uCYhvHxADjiD9nM2Ug+v
wnhPbXLxfBs6OgPjXc1uJpAYS0nQpkH3VQIDAQAB
-----END RSA PUBLIC KEY-----
)";

constexpr uint32_t kMaxMessage = 1 << 20;

bool ReadExactly(int fd, void* buffer, size_t size, const std::atomic<bool>& stop) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0 && !stop.load()) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0) continue;
        const ssize_t got = recv(fd, out, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        size -= static_cast<size_t>(got);
    }
    return size == 0;
}

bool SendFrame(int fd, const std::string& xml) {
    const uint32_t length = htonl(static_cast<uint32_t>(xml.size()));
    std::string frame(reinterpret_cast<const char*>(&length), 4);
    frame += xml;
    return send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
}

}  // namespace

FakeLockdownd::FakeLockdownd() {
    phone::UniqueFd listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (!listener.valid() || bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener.get(), 8) != 0 ||
        getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    listener_ = std::move(listener);
    thread_ = std::thread([this] { Run(); });
}

FakeLockdownd::~FakeLockdownd() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}

void FakeLockdownd::setPairAnswer(PairAnswer answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    pairAnswer_ = answer;
}

void FakeLockdownd::setType(const std::string& type) {
    std::lock_guard<std::mutex> lock(mutex_);
    type_ = type;
}

void FakeLockdownd::setDeviceName(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    deviceName_ = name;
}

std::vector<std::string> FakeLockdownd::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<std::string> FakeLockdownd::labels() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return labels_;
}

void FakeLockdownd::Run() {
    // One client at a time: libimobiledevice opens one lockdownd connection
    // per client object and closes it before the next.
    while (!stop_.load()) {
        pollfd ready{listener_.get(), POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0) continue;
        phone::UniqueFd client(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (client.valid()) Serve(client.get());
    }
}

void FakeLockdownd::Serve(int fd) {
    for (;;) {
        uint32_t length = 0;
        if (!ReadExactly(fd, &length, sizeof(length), stop_)) return;
        length = ntohl(length);
        if (length == 0 || length > kMaxMessage) return;
        std::string payload(length, '\0');
        if (!ReadExactly(fd, payload.data(), payload.size(), stop_)) return;
        if (!SendFrame(fd, Answer(payload))) return;
    }
}

std::string FakeLockdownd::Answer(const std::string& payload) {
    const Plist message = ParsePlist(payload);
    const std::string request = StringMember(message.get(), "Request").value_or("");
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    if (const auto label = StringMember(message.get(), "Label")) labels_.push_back(*label);

    plist_t reply = plist_new_dict();
    plist_dict_set_item(reply, "Request", plist_new_string(request.c_str()));
    const auto fail = [&](const char* error) { plist_dict_set_item(reply, "Error", plist_new_string(error)); };
    if (request == "QueryType") {
        plist_dict_set_item(reply, "Result", plist_new_string("Success"));
        plist_dict_set_item(reply, "Type", plist_new_string(type_.c_str()));
    } else if (request == "GetValue") {
        const std::string key = StringMember(message.get(), "Key").value_or("");
        if (key == "DevicePublicKey") {
            plist_dict_set_item(reply, "Key", plist_new_string(key.c_str()));
            plist_dict_set_item(reply, "Result", plist_new_string("Success"));
            plist_dict_set_item(reply, "Value", plist_new_data(kDevicePublicKey, std::char_traits<char>::length(kDevicePublicKey)));
        } else if (key == "DeviceName") {
            plist_dict_set_item(reply, "Key", plist_new_string(key.c_str()));
            plist_dict_set_item(reply, "Result", plist_new_string("Success"));
            plist_dict_set_item(reply, "Value", plist_new_string(deviceName_.c_str()));
        } else {
            fail("MissingValue");
        }
    } else if (request == "Pair") {
        switch (pairAnswer_) {
        case PairAnswer::Accept:
            plist_dict_set_item(reply, "Result", plist_new_string("Success"));
            plist_dict_set_item(reply, "EscrowBag", plist_new_data("escrow", 6));
            break;
        case PairAnswer::DialogPending: fail("PairingDialogResponsePending"); break;
        case PairAnswer::UserDenied: fail("UserDeniedPairing"); break;
        case PairAnswer::PasswordProtected: fail("PasswordProtected"); break;
        }
    } else if (request == "StartSession") {
        fail("InvalidHostID");  // no TLS session in this fake
    } else if (request == "Goodbye") {
        plist_dict_set_item(reply, "Result", plist_new_string("Success"));
    } else {
        fail("UnknownRequest");
    }
    std::string xml = ToXml(reply);
    plist_free(reply);
    return xml;
}

}  // namespace zucam::usbmux
