#include "support/phone_test/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace zucam::phone::test {

LoopbackListener::LoopbackListener() {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!socket.valid() || ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket.get(), 8) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
    socket_ = std::move(socket);
}

std::optional<FakePeer> LoopbackListener::accept(std::chrono::milliseconds timeout) {
    if (!socket_.valid()) return std::nullopt;
    pollfd entry{socket_.get(), POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
    UniqueFd accepted(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!accepted.valid()) return std::nullopt;
    const int one = 1;
    ::setsockopt(accepted.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return FakePeer(std::move(accepted));
}

}  // namespace zucam::phone::test
