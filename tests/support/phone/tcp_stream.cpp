#include "support/phone/tcp_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zucam::phone {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, for poll(); never negative.
int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// poll() one descriptor for events until deadline; >0 ready, 0 time-out, <0 error.
int waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        return ready;
    }
}

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

bool TcpStream::fail(const std::string& what) {
    lastError_ = what;
    return false;
}

bool TcpStream::connect(const std::string& host, uint16_t port, Millis timeout) {
    close();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return fail("not an IPv4 address: " + host);

    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return fail(errnoText("socket"));
    const int one = 1;
    ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS) return fail(errnoText("connect"));
        const int ready = waitFor(socket.get(), POLLOUT, Clock::now() + timeout);
        if (ready == 0) return fail("connect: timed out");
        if (ready < 0) return fail(errnoText("poll"));
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) return fail(std::string("connect: ") + std::strerror(error));
    }
    socket_ = std::move(socket);
    lastError_.clear();
    return true;
}

bool TcpStream::adopt(UniqueFd socket) {
    close();
    if (!socket.valid()) return fail("adopt: no socket");
    ::fcntl(socket.get(), F_SETFL, ::fcntl(socket.get(), F_GETFL, 0) | O_NONBLOCK);
    const int one = 1;
    ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    socket_ = std::move(socket);
    lastError_.clear();
    return true;
}

bool TcpStream::sendAll(std::string_view bytes, Millis timeout) {
    if (!socket_.valid()) return fail("send: not connected");
    const auto deadline = Clock::now() + timeout;
    while (!bytes.empty()) {
        const ssize_t sent = ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int ready = waitFor(socket_.get(), POLLOUT, deadline);
            if (ready == 0) return fail("send: timed out (peer not reading)");
            if (ready < 0) return fail(errnoText("poll"));
            continue;
        }
        return fail(errnoText("send"));
    }
    return true;
}

ReadStatus TcpStream::readSome(std::string& appendTo, std::size_t maxBytes, Millis timeout) {
    if (!socket_.valid()) {
        lastError_ = "read: not connected";
        return ReadStatus::Failed;
    }
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const std::size_t before = appendTo.size();
        appendTo.resize(before + maxBytes);
        const ssize_t got = ::recv(socket_.get(), appendTo.data() + before, maxBytes, 0);
        appendTo.resize(before + (got > 0 ? static_cast<std::size_t>(got) : 0));
        if (got > 0) return ReadStatus::Data;
        if (got == 0) return ReadStatus::Closed;
        if (errno == EINTR) continue;
        if (errno == ECONNRESET) return ReadStatus::Closed;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            lastError_ = errnoText("recv");
            return ReadStatus::Failed;
        }
        const int ready = waitFor(socket_.get(), POLLIN, deadline);
        if (ready == 0) return ReadStatus::TimedOut;
        if (ready < 0) {
            lastError_ = errnoText("poll");
            return ReadStatus::Failed;
        }
    }
}

bool TcpStream::waitClosed(Millis timeout, std::string* received) {
    const auto deadline = Clock::now() + timeout;
    std::string discard;
    for (;;) {
        std::string& sink = received ? *received : discard;
        const ReadStatus status = readSome(sink, 64 * 1024, Millis(remainingMs(deadline)));
        if (!received) discard.clear();
        switch (status) {
        case ReadStatus::Closed: return true;
        case ReadStatus::TimedOut: return false;
        case ReadStatus::Failed: return false;
        case ReadStatus::Data:
            if (Clock::now() >= deadline) return false;
            break;
        }
    }
}

void TcpStream::shutdownWrite() {
    if (socket_.valid()) ::shutdown(socket_.get(), SHUT_WR);
}

void TcpStream::close() { socket_.reset(); }

void TcpStream::resetClose() {
    if (!socket_.valid()) return;
    const linger abort{1, 0};
    (void)::setsockopt(socket_.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    socket_.reset();
}

uint16_t TcpStream::localPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (!socket_.valid() || ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

int TcpStream::unsentBytes() const {
    if (!socket_.valid()) return -1;
    // Bytes the peer never took stay counted after it reset the connection.
    tcp_info info{};
    socklen_t length = sizeof info;
    if (::getsockopt(socket_.get(), IPPROTO_TCP, TCP_INFO, &info, &length) != 0 || info.tcpi_state != TCP_ESTABLISHED)
        return -1;
    int unsent = 0;
    if (::ioctl(socket_.get(), SIOCOUTQ, &unsent) != 0) return -1;
    return unsent;
}

}  // namespace zucam::phone
