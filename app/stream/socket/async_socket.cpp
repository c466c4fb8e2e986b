#include "socket/async_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/tether/tq_log.h"

namespace {

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags != -1 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool IsNothingNow(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

}  // namespace

AsycnSocketWin32::AsycnSocketWin32() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1) {
        LOG_E("socket failed errno=%d", errno);
        return;
    }
    if (!SetNonBlocking(fd)) {
        LOG_E("non-blocking mode failed errno=%d", errno);
        close(fd);
        return;
    }
    fd_ = fd;
}

AsycnSocketWin32::AsycnSocketWin32(int fd) {
    if (fd == -1) return;
    if (!SetNonBlocking(fd)) {
        LOG_E("non-blocking mode failed for accepted fd=%d errno=%d", fd, errno);
        close(fd);
        return;
    }
    fd_ = fd;
}

AsycnSocketWin32::~AsycnSocketWin32() {
    if (fd_ != -1) close(fd_);
}

bool AsycnSocketWin32::Bind(const std::string& ip, uint16_t port) {
    if (fd_ == -1) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
        LOG_E("bad IPv4 address %s", ip.c_str());
        return false;
    }
    const int reuse = 1;
    if (setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) != 0) {
        LOG_W("SO_REUSEADDR failed errno=%d", errno);
    }
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        LOG_E("bind %s:%d failed errno=%d", ip.c_str(), static_cast<int>(port), errno);
        return false;
    }
    return true;
}

bool AsycnSocketWin32::Listen(int backlog) {
    if (fd_ == -1) return false;
    if (listen(fd_, backlog) != 0) {
        LOG_E("listen failed errno=%d", errno);
        return false;
    }
    return true;
}

std::unique_ptr<AsyncSocket> AsycnSocketWin32::Accept() {
    if (fd_ == -1) return nullptr;
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd == -1) return nullptr;  // nothing pending, or the peer gave up meanwhile
    auto accepted = std::make_unique<AsycnSocketWin32>(fd);
    if (accepted->GetFd() == -1) return nullptr;
    return accepted;
}

int AsycnSocketWin32::Recv(char* buffer, int size) {
    if (fd_ == -1) return -1;
    const ssize_t result = recv(fd_, buffer, static_cast<size_t>(size), 0);
    if (result < 0) return IsNothingNow(errno) ? kWouldBlock : -1;
    return static_cast<int>(result);
}

int AsycnSocketWin32::Send(const char* data, int size) {
    if (fd_ == -1) return 0;
    const ssize_t result = send(fd_, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (result < 0) return IsNothingNow(errno) ? kWouldBlock : -1;
    return static_cast<int>(result);
}

uint16_t AsycnSocketWin32::GetLocalPort() const {
    if (fd_ == -1) return 0;
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 || address.sin_family != AF_INET) {
        return 0;
    }
    return ntohs(address.sin_port);
}
