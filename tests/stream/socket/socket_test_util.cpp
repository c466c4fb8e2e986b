#include "socket_test_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "socket/async_reactor.h"
#include "socket/async_socket.h"

namespace sockettest {

Fd::~Fd() { reset(); }

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

int Fd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Fd::reset() {
    if (fd_ != -1) close(fd_);
    fd_ = -1;
}

namespace {

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void SetBuffer(int fd, int option, int size) {
    if (size > 0) setsockopt(fd, SOL_SOCKET, option, &size, sizeof(size));
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

Fd ConnectLoopback(uint16_t port, int receiveBuffer) {
    Fd client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (client.get() == -1) return Fd();
    SetBuffer(client.get(), SO_RCVBUF, receiveBuffer);
    const sockaddr_in address = LoopbackAddress(port);
    if (connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) return Fd();
    return client;
}

TcpPair MakeTcpPair(int peerReceiveBuffer, int localSendBuffer) {
    TcpPair pair;
    Fd listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof(address);
    if (listener.get() == -1 || bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener.get(), 1) != 0 ||
        getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return pair;
    }
    pair.peer = ConnectLoopback(ntohs(address.sin_port), peerReceiveBuffer);
    if (pair.peer.get() == -1) return pair;
    const int accepted = accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (accepted == -1) return pair;
    SetBuffer(accepted, SO_SNDBUF, localSendBuffer);
    pair.local = std::make_unique<AsycnSocketWin32>(accepted);
    return pair;
}

UnixPair MakeUnixPair() {
    int fds[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return UnixPair{};
    return UnixPair{Fd(fds[0]), Fd(fds[1])};
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd writable{fd, POLLOUT, 0};
                poll(&writable, 1, 100);
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

bool WaitReadable(int fd, milliseconds timeout) {
    pollfd readable{fd, POLLIN, 0};
    return poll(&readable, 1, static_cast<int>(timeout.count())) == 1;
}

std::string ReadExactly(int fd, size_t size, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string data;
    std::vector<char> buffer(64 * 1024);
    while (data.size() < size) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, RemainingMs(deadline));
        if (ready == 0) break;
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        const ssize_t got = recv(fd, buffer.data(), std::min(buffer.size(), size - data.size()), MSG_DONTWAIT);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            break;
        }
        data.append(buffer.data(), static_cast<size_t>(got));
    }
    return data;
}

bool ReadUntilEof(int fd, std::string* data, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, RemainingMs(deadline));
        if (ready == 0) return false;
        if (ready < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        const ssize_t got = recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            return false;
        }
        data->append(buffer.data(), static_cast<size_t>(got));
    }
}

void ResetConnection(Fd* fd) {
    const linger abortive{1, 0};
    setsockopt(fd->get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
    fd->reset();
}

std::string Pattern(size_t size, uint32_t seed, size_t offset) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        // Mixes the position so that a lost, repeated or swapped block shows.
        uint32_t x = static_cast<uint32_t>(i + offset) * 2654435761u + seed;
        x ^= x >> 15;
        data[i] = static_cast<char>(x & 0xff);
    }
    return data;
}

bool WaitUntil(const std::function<bool()>& predicate, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!predicate()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

void RecordingObserver::OnRead(const char* data, int length) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (length > 0) {
            data_.append(data, static_cast<size_t>(length));
            chunks_.push_back(length);
        } else {
            ends_.push_back(length);
        }
    }
    changed_.notify_all();
    if (afterRead) afterRead(length);
}

bool RecordingObserver::WaitForBytes(size_t size, milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return data_.size() >= size; });
}

bool RecordingObserver::WaitForEnd(milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return !ends_.empty(); });
}

std::string RecordingObserver::Data() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return data_;
}

std::vector<int> RecordingObserver::Ends() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return ends_;
}

std::vector<int> RecordingObserver::ChunkSizes() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return chunks_;
}

int ProbeObject::GetEvents() const {
    ++log_->getEventsCalls;
    return events_.load();
}

void ProbeObject::OnReadable() {
    Record(&log_->reads);
    if (consume_.load()) {
        char buffer[256];
        while (recv(fd_, buffer, sizeof(buffer), MSG_DONTWAIT) > 0) {
        }
    }
    RunArmedRemoval();
}

void ProbeObject::OnWritable() {
    Record(&log_->writes);
    if (armed_.load() && victim_ != this) RunArmedRemoval();
}

void ProbeObject::ArmSelfRemoval(AsyncReactor* reactor, bool deleteAfterRemove) {
    reactor_ = reactor;
    victim_ = this;
    victimLog_ = log_;
    deleteAfterRemove_ = deleteAfterRemove;
    armed_.store(true);
}

void ProbeObject::ArmVictimRemoval(AsyncReactor* reactor, ProbeObject* victim, ProbeLog* victimLog,
                                   bool deleteAfterRemove) {
    reactor_ = reactor;
    victim_ = victim;
    victimLog_ = victimLog;
    deleteAfterRemove_ = deleteAfterRemove;
    armed_.store(true);
}

void ProbeObject::Record(std::atomic<int>* counter) {
    if (log_->removed.load()) ++log_->callsAfterRemoval;
    ++*counter;
}

bool ProbeObject::RunArmedRemoval() {
    if (!armed_.exchange(false)) return false;
    ProbeObject* const victim = victim_;
    ProbeLog* const victimLog = victimLog_;
    const bool deleteVictim = deleteAfterRemove_;
    reactor_->Remove(victim);
    victimLog->removed.store(true);
    if (deleteVictim) delete victim;  // may be this: no member is touched afterwards
    return victim == this && deleteVictim;
}

}  // namespace sockettest
