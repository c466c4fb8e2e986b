#include "support/phone/phone_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <utility>

namespace zucam::phone {

PhoneListener::PhoneListener() {
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (!socket.valid() || bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(socket.get(), 4) != 0 ||
        getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    socket_ = std::move(socket);
}

UniqueFd PhoneListener::accept(std::chrono::milliseconds timeout) {
    if (!socket_.valid()) return UniqueFd();
    pollfd ready{socket_.get(), POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) return UniqueFd();
    return UniqueFd(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
}

}  // namespace zucam::phone
