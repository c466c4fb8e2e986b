#include "support/usbmuxd/fake_usbmuxd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/usbmuxd/plist_value.h"

namespace zucam::usbmux {
namespace {

constexpr const char* kAddressVariable = "USBMUXD_SOCKET_ADDRESS";
constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kMaxMessage = 1 << 20;
constexpr uint32_t kPlistVersion = 1;
constexpr uint32_t kPlistMessage = 8;
constexpr uint64_t kResultOk = 0;
constexpr uint64_t kResultBadCommand = 1;
constexpr uint64_t kResultBadDevice = 2;
constexpr uint64_t kResultRefused = 3;

uint32_t ReadLe32(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
void AppendLe32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Exactly size bytes; false on close, error or stop (the fd is shut down).
bool ReadExactly(int fd, void* buffer, size_t size) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t got = recv(fd, out, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

std::string XmlOf(plist_t node) {
    std::string xml = ToXml(node);
    plist_free(node);
    return xml;
}

}  // namespace

FakeUsbmuxd::FakeUsbmuxd() {
    char pattern[] = "/tmp/zucam-usbmuxd-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    directory_ = pattern;
    socketPath_ = directory_ + "/usbmuxd";
    phone::UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath_.c_str(), sizeof(address.sun_path) - 1);
    if (!listener.valid() || bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener.get(), 16) != 0) {
        return;
    }
    wakeFd_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (const char* previous = std::getenv(kAddressVariable)) {
        hadPreviousAddress_ = true;
        previousAddress_ = previous;
    }
    setenv(kAddressVariable, ("UNIX:" + socketPath_).c_str(), 1);
    listener_ = std::move(listener);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

FakeUsbmuxd::~FakeUsbmuxd() {
    stop_.store(true);
    if (wakeFd_.valid()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wakeFd_.get(), &one, sizeof(one));
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    std::vector<std::thread> clients;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const int fd : clientFds_) shutdown(fd, SHUT_RDWR);
        clients.swap(clients_);
    }
    for (std::thread& client : clients) client.join();
    if (!socketPath_.empty()) unlink(socketPath_.c_str());
    if (!directory_.empty()) rmdir(directory_.c_str());
    if (hadPreviousAddress_) {
        setenv(kAddressVariable, previousAddress_.c_str(), 1);
    } else if (listener_.valid()) {
        unsetenv(kAddressVariable);
    }
}

void FakeUsbmuxd::setDevices(const std::vector<FakeDevice>& devices) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_ = devices;
}

void FakeUsbmuxd::mapPort(const std::string& udid, uint16_t devicePort, uint16_t loopbackPort) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (FakeDevice& device : devices_) {
        if (device.udid == udid) device.ports[devicePort] = loopbackPort;
    }
}

void FakeUsbmuxd::setListBroken(bool broken) {
    std::lock_guard<std::mutex> lock(mutex_);
    listBroken_ = broken;
}

void FakeUsbmuxd::setSilent(bool silent) {
    std::lock_guard<std::mutex> lock(mutex_);
    silent_ = silent;
}

void FakeUsbmuxd::closeTunnels() { tunnelGeneration_.fetch_add(1); }

int FakeUsbmuxd::requestCount(const std::string& messageType) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = requests_.find(messageType);
    return found == requests_.end() ? 0 : found->second;
}

std::vector<uint16_t> FakeUsbmuxd::connectPorts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connectPorts_;
}

std::map<std::string, std::string> FakeUsbmuxd::savedPairRecords() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pairRecords_;
}

void FakeUsbmuxd::AcceptLoop() {
    while (!stop_.load()) {
        pollfd fds[2] = {{listener_.get(), POLLIN, 0}, {wakeFd_.get(), POLLIN, 0}};
        if (poll(fds, 2, 200) <= 0 || stop_.load()) continue;
        const int fd = accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        clientFds_.push_back(fd);
        clients_.emplace_back([this, fd] { Serve(fd); });
    }
}

bool FakeUsbmuxd::Reply(int fd, uint32_t tag, const std::string& xml) {
    std::string message;
    AppendLe32(message, static_cast<uint32_t>(kHeaderSize + xml.size()));
    AppendLe32(message, kPlistVersion);
    AppendLe32(message, kPlistMessage);
    AppendLe32(message, tag);
    message += xml;
    return SendAll(fd, message.data(), message.size());
}

bool FakeUsbmuxd::ReplyResult(int fd, uint32_t tag, uint64_t number) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "MessageType", plist_new_string("Result"));
    plist_dict_set_item(dict, "Number", plist_new_uint(number));
    return Reply(fd, tag, XmlOf(dict));
}

std::string FakeUsbmuxd::AttachedXml(const FakeDevice& device) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "MessageType", plist_new_string("Attached"));
    plist_dict_set_item(dict, "DeviceID", plist_new_uint(device.id));
    plist_t properties = plist_new_dict();
    plist_dict_set_item(properties, "DeviceID", plist_new_uint(device.id));
    plist_dict_set_item(properties, "SerialNumber", plist_new_string(device.udid.c_str()));
    plist_dict_set_item(properties, "ProductID", plist_new_uint(0x12a8));
    if (device.network) {
        plist_dict_set_item(properties, "ConnectionType", plist_new_string("Network"));
        plist_dict_set_item(properties, "EscapedFullServiceName", plist_new_string("fake._apple-mobdev2._tcp.local."));
        // A BSD-style sockaddr_in of 127.0.0.1: length, family, port, address.
        const char address[16] = {16, AF_INET, 0, 0, 127, 0, 0, 1};
        plist_dict_set_item(properties, "NetworkAddress", plist_new_data(address, sizeof(address)));
    } else {
        plist_dict_set_item(properties, "ConnectionType", plist_new_string("USB"));
        plist_dict_set_item(properties, "LocationID", plist_new_uint(0));
    }
    plist_dict_set_item(dict, "Properties", properties);
    return XmlOf(dict);
}

std::string FakeUsbmuxd::DeviceListXml() {
    std::vector<FakeDevice> devices;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devices = devices_;
    }
    plist_t list = plist_new_array();
    for (const FakeDevice& device : devices) {
        Plist attached = ParsePlist(AttachedXml(device));
        plist_array_append_item(list, plist_copy(attached.get()));
    }
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "DeviceList", list);
    return XmlOf(dict);
}

void FakeUsbmuxd::Serve(int fd) {
    for (;;) {
        unsigned char header[kHeaderSize];
        if (!ReadExactly(fd, header, sizeof(header))) break;
        const uint32_t length = ReadLe32(header);
        const uint32_t tag = ReadLe32(header + 12);
        if (length < kHeaderSize || length > kMaxMessage) break;
        std::string payload(length - kHeaderSize, '\0');
        if (!ReadExactly(fd, payload.data(), payload.size())) break;
        const Plist request = ParsePlist(payload);
        const std::string type = StringMember(request.get(), "MessageType").value_or("");
        bool listBroken = false;
        bool silent = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++requests_[type];
            listBroken = listBroken_;
            silent = silent_;
        }
        if (silent) continue;  // heard, never answered
        if (type == "ListDevices") {
            if (listBroken || !Reply(fd, tag, DeviceListXml())) break;
        } else if (type == "Listen") {
            if (!ReplyResult(fd, tag, kResultOk)) break;
            std::vector<FakeDevice> devices;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                devices = devices_;
            }
            for (const FakeDevice& device : devices) Reply(fd, 0, AttachedXml(device));
        } else if (type == "Connect") {
            const uint64_t id = UintMember(request.get(), "DeviceID").value_or(0);
            const uint16_t port = ntohs(static_cast<uint16_t>(UintMember(request.get(), "PortNumber").value_or(0)));
            uint16_t loopbackPort = 0;
            bool known = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                connectPorts_.push_back(port);
                for (const FakeDevice& device : devices_) {
                    if (device.id != id) continue;
                    known = true;
                    const auto mapped = device.ports.find(port);
                    if (mapped != device.ports.end()) loopbackPort = mapped->second;
                }
            }
            if (!known) {
                ReplyResult(fd, tag, kResultBadDevice);
            } else if (loopbackPort == 0) {
                ReplyResult(fd, tag, kResultRefused);
            } else {
                Tunnel(fd, tag, loopbackPort);
                break;  // the connection was the tunnel's
            }
        } else if (type == "ReadBUID") {
            plist_t dict = plist_new_dict();
            plist_dict_set_item(dict, "BUID", plist_new_string("00000000-FAKE-BUID-0000-000000000000"));
            if (!Reply(fd, tag, XmlOf(dict))) break;
        } else if (type == "ReadPairRecord") {
            const std::string id = StringMember(request.get(), "PairRecordID").value_or("");
            std::string record;
            bool found = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                const auto it = pairRecords_.find(id);
                found = it != pairRecords_.end();
                if (found) record = it->second;
            }
            if (!found) {
                if (!ReplyResult(fd, tag, kResultBadDevice)) break;
            } else {
                plist_t dict = plist_new_dict();
                plist_dict_set_item(dict, "PairRecordData", plist_new_data(record.data(), record.size()));
                if (!Reply(fd, tag, XmlOf(dict))) break;
            }
        } else if (type == "SavePairRecord") {
            const std::string id = StringMember(request.get(), "PairRecordID").value_or("");
            plist_t data = plist_dict_get_item(request.get(), "PairRecordData");
            char* bytes = nullptr;
            uint64_t size = 0;
            if (data != nullptr && plist_get_node_type(data) == PLIST_DATA) plist_get_data_val(data, &bytes, &size);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                pairRecords_[id] = std::string(bytes != nullptr ? bytes : "", size);
            }
            free(bytes);
            if (!ReplyResult(fd, tag, kResultOk)) break;
        } else if (type == "DeletePairRecord") {
            if (!ReplyResult(fd, tag, kResultOk)) break;
        } else {
            if (!ReplyResult(fd, tag, kResultBadCommand)) break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clientFds_.erase(std::remove(clientFds_.begin(), clientFds_.end(), fd), clientFds_.end());
    }
    close(fd);
}

void FakeUsbmuxd::Tunnel(int clientFd, uint32_t tag, uint16_t loopbackPort) {
    phone::UniqueFd phone(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(loopbackPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!phone.valid() || connect(phone.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ReplyResult(clientFd, tag, kResultRefused);
        return;
    }
    if (!ReplyResult(clientFd, tag, kResultOk)) return;
    openTunnels_.fetch_add(1);
    const int generation = tunnelGeneration_.load();
    char buffer[65536];
    bool open = true;
    while (open && !stop_.load() && tunnelGeneration_.load() == generation) {
        pollfd fds[2] = {{clientFd, POLLIN, 0}, {phone.get(), POLLIN, 0}};
        if (poll(fds, 2, 50) <= 0) continue;
        for (int i = 0; i < 2 && open; ++i) {
            if (fds[i].revents == 0) continue;
            const int from = i == 0 ? clientFd : phone.get();
            const int to = i == 0 ? phone.get() : clientFd;
            const ssize_t got = recv(from, buffer, sizeof(buffer), 0);
            open = got > 0 && SendAll(to, buffer, static_cast<size_t>(got));
        }
    }
    openTunnels_.fetch_sub(1);
}

}  // namespace zucam::usbmux
