#include "support/phone/p2p_sender.h"

#include "support/phone/media_packet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace zucam::phone {
namespace {
void AppendU16(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value & 0xFF));
}
}  // namespace

bool P2pSender::open(uint16_t port) {
    socket_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket_.valid()) {
        lastError_ = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in peer = local;
    peer.sin_port = htons(port);
    if (bind(socket_.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0 ||
        connect(socket_.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) != 0) {
        lastError_ = std::string("bind/connect: ") + std::strerror(errno);
        socket_.reset();
        return false;
    }
    return true;
}

uint16_t P2pSender::localPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    if (!socket_.valid() || getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    return ntohs(local.sin_port);
}

std::string P2pSender::datagram(uint32_t messageNumber, uint16_t index, uint16_t count, std::string_view bytes) {
    std::string out;
    out.reserve(12 + bytes.size());
    MediaPacket::appendU32(out, kMagic);
    MediaPacket::appendU32(out, messageNumber);
    AppendU16(out, index);
    AppendU16(out, count);
    out.append(bytes);
    return out;
}

std::vector<std::string> P2pSender::fragment(std::string_view message, size_t fragmentBytes) {
    std::vector<std::string> out;
    if (fragmentBytes == 0) fragmentBytes = 1;
    const size_t count = message.empty() ? 1 : (message.size() + fragmentBytes - 1) / fragmentBytes;
    for (size_t i = 0; i < count; ++i) {
        out.push_back(datagram(next_, static_cast<uint16_t>(i), static_cast<uint16_t>(count),
                               message.substr(i * fragmentBytes, fragmentBytes)));
    }
    ++next_;
    return out;
}

bool P2pSender::sendRaw(std::string_view datagram) {
    if (!socket_.valid()) {
        lastError_ = "not open";
        return false;
    }
    if (send(socket_.get(), datagram.data(), datagram.size(), 0) != static_cast<ssize_t>(datagram.size())) {
        lastError_ = std::string("send: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool P2pSender::sendDatagrams(const std::vector<std::string>& datagrams) {
    for (const std::string& one : datagrams) {
        if (!sendRaw(one)) return false;
    }
    return true;
}

bool P2pSender::sendMessage(std::string_view message, size_t fragmentBytes) {
    return sendDatagrams(fragment(message, fragmentBytes));
}

HeldUdpPort::HeldUdpPort() {
    socket_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof(address);
    if (socket_.valid() && bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port_ = ntohs(address.sin_port);
    }
}

}  // namespace zucam::phone
