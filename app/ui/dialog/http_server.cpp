#include "http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QThreadPool>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// What a client may still send after its reply before the connection is
// closed anyway (a request body, say): read and dropped so that the close
// does not reset the connection before the client has read its reply.
constexpr size_t kMaxDrainBytes = 64 * 1024;
// Connections taken from the listener per wake, so that a flood of them
// never starves the connections already held.
constexpr int kAcceptsPerWake = 64;

struct Connection {
    enum class Stage { ReadingHead, Writing, Draining };

    int fd = -1;
    in_addr_t address = 0;  // the client's IPv4 address
    uint64_t order = 0;     // accept sequence: lower is older
    Clock::time_point deadline;
    Stage stage = Stage::ReadingHead;
    std::string head;   // the request so far
    std::string reply;  // what is still to be written
    size_t drained = 0;
};

bool headComplete(const std::string& head) {
    return head.find("\r\n\r\n") != std::string::npos || head.find("\n\n") != std::string::npos;
}

bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

// Closes connections[index] and removes it, keeping the others' order.
void closeConnection(std::vector<Connection>* connections, size_t index) {
    ::close((*connections)[index].fd);
    connections->erase(connections->begin() + static_cast<std::ptrdiff_t>(index));
}

// The index of the oldest connection of address.
size_t oldestOf(const std::vector<Connection>& connections, in_addr_t address) {
    size_t oldest = connections.size();
    for (size_t i = 0; i < connections.size(); ++i) {
        if (connections[i].address != address) continue;
        if (oldest == connections.size() || connections[i].order < connections[oldest].order) oldest = i;
    }
    return oldest;
}

}  // namespace

HttpServer::HttpServer(HttpServerCallback* callback) : callback_(callback) {}

HttpServer::~HttpServer() {
    detachCallback();
    if (thread_.joinable()) {
        const uint64_t one = 1;
        // An eventfd write of 8 bytes cannot fail short of a counter overflow.
        (void)!::write(wake_, &one, sizeof(one));
        thread_.join();
    }
    if (listener_ >= 0) ::close(listener_);
    if (wake_ >= 0) ::close(wake_);
}

bool HttpServer::Start(uint16_t port) {
    if (started_) return false;
    started_ = true;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener < 0) return false;
    const int reuse = 1;  // a port left in TIME_WAIT by an earlier run is free
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, SOMAXCONN) != 0) {
        ::close(listener);
        return false;
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        ::close(listener);
        return false;
    }
    listener_ = listener;
    port_ = port;
    thread_ = std::thread([this] { serve(); });
    return true;
}

void HttpServer::detachCallback() {
    const std::unique_lock<std::shared_mutex> lock(callbackMutex_);
    callback_ = nullptr;
}

void HttpServer::StopInBackground(std::unique_ptr<HttpServer> server) {
    if (!server) return;
    server->detachCallback();
    HttpServer* const stopping = server.release();
    // The global pool is waited for when the application ends, so no stop is
    // cut off at exit.
    QThreadPool::globalInstance()->start([stopping] { delete stopping; });
}

std::string HttpServer::body() {
    const std::shared_lock<std::shared_mutex> lock(callbackMutex_);
    return callback_ != nullptr ? callback_->OnRequest(0, nullptr) : std::string();
}

namespace {

// Reads what the client sent and moves the connection on; false when it is
// to be closed (done, gone, or over a bound).
bool advance(Connection& connection, const std::function<std::string(const std::string& head)>& answer) {
    char buffer[4096];
    if (connection.stage == Connection::Stage::ReadingHead) {
        for (;;) {
            const size_t room = HttpServer::kMaxHeadBytes + 1 - connection.head.size();
            const ssize_t got = ::recv(connection.fd, buffer, std::min(room, sizeof(buffer)), 0);
            if (got == 0) return false;  // gone before its request was whole
            if (got < 0) {
                if (wouldBlock()) break;
                return false;
            }
            connection.head.append(buffer, size_t(got));
            if (headComplete(connection.head)) break;
            if (connection.head.size() > HttpServer::kMaxHeadBytes) return false;
        }
        if (!headComplete(connection.head)) return true;
        connection.reply = answer(connection.head);
        connection.head.clear();
        connection.stage = Connection::Stage::Writing;
        connection.deadline = Clock::now() + std::chrono::milliseconds(HttpServer::kLingerMs);
    }
    if (connection.stage == Connection::Stage::Writing) {
        while (!connection.reply.empty()) {
            const ssize_t sent = ::send(connection.fd, connection.reply.data(), connection.reply.size(), MSG_NOSIGNAL);
            if (sent < 0) return wouldBlock();
            connection.reply.erase(0, size_t(sent));
        }
        ::shutdown(connection.fd, SHUT_WR);
        connection.stage = Connection::Stage::Draining;
    }
    for (;;) {  // draining: until the client closes its side
        const ssize_t got = ::recv(connection.fd, buffer, sizeof(buffer), 0);
        if (got == 0) return false;
        if (got < 0) return wouldBlock();
        connection.drained += size_t(got);
        if (connection.drained > kMaxDrainBytes) return false;
    }
}

}  // namespace

void HttpServer::serve() {
    const auto answer = [this](const std::string& head) {
        const std::string page = body();
        const bool headOnly = head.compare(0, 5, "HEAD ") == 0;
        std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                            std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n";
        if (!headOnly) reply += page;
        return reply;
    };
    std::vector<Connection> connections;
    std::vector<pollfd> polled;
    uint64_t accepted = 0;
    for (;;) {
        polled.clear();
        polled.push_back({wake_, POLLIN, 0});
        polled.push_back({listener_, POLLIN, 0});
        auto nextDeadline = Clock::now() + std::chrono::seconds(1);
        for (const Connection& connection : connections) {
            const short events = connection.stage == Connection::Stage::Writing ? POLLOUT : POLLIN;
            polled.push_back({connection.fd, events, 0});
            nextDeadline = std::min(nextDeadline, connection.deadline);
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextDeadline - Clock::now());
        if (::poll(polled.data(), polled.size(), int(std::max<int64_t>(0, wait.count()))) < 0 && errno != EINTR) {
            break;
        }
        if (polled[0].revents != 0) break;  // the destructor asks to stop

        // polled[2 + i] belongs to connections[i]; closed ones are marked
        // first and removed after, so the two stay in step.
        const auto now = Clock::now();
        for (size_t i = 0; i < connections.size(); ++i) {
            Connection& connection = connections[i];
            bool keep = now < connection.deadline;
            if (keep && polled[2 + i].revents != 0) keep = advance(connection, answer);
            if (!keep) {
                ::close(connection.fd);
                connection.fd = -1;
            }
        }
        connections.erase(std::remove_if(connections.begin(), connections.end(),
                                         [](const Connection& connection) { return connection.fd < 0; }),
                          connections.end());

        if ((polled[1].revents & POLLIN) == 0) continue;
        for (int n = 0; n < kAcceptsPerWake; ++n) {
            sockaddr_in peer{};
            socklen_t length = sizeof(peer);
            const int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                break;  // none left, or out of descriptors: the rest waits in the backlog
            }
            const in_addr_t address = peer.sin_addr.s_addr;
            const auto held = std::count_if(connections.begin(), connections.end(),
                                            [address](const Connection& c) { return c.address == address; });
            if (held >= kMaxConnectionsPerClient) {
                closeConnection(&connections, oldestOf(connections, address));
            } else if (connections.size() >= size_t(kMaxConnections)) {
                std::map<in_addr_t, int> perAddress;
                for (const Connection& c : connections) ++perAddress[c.address];
                const auto heaviest = std::max_element(perAddress.begin(), perAddress.end(),
                                                       [](const auto& a, const auto& b) { return a.second < b.second; });
                closeConnection(&connections, oldestOf(connections, heaviest->first));
            }
            Connection connection;
            connection.fd = fd;
            connection.address = address;
            connection.order = accepted++;
            connection.deadline = Clock::now() + std::chrono::milliseconds(kRequestTimeoutMs);
            connections.push_back(std::move(connection));
        }
    }
    for (const Connection& connection : connections) ::close(connection.fd);
}

std::unique_ptr<HttpServer> StartHttpServerOnFirstFreePort(HttpServerCallback* callback, uint16_t first,
                                                           uint16_t last) {
    for (uint32_t port = first; port <= last; ++port) {
        auto server = std::make_unique<HttpServer>(callback);
        if (server->Start(uint16_t(port))) return server;
    }
    return nullptr;
}
