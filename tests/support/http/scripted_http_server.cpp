#include "support/http/scripted_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace zucam::test {
namespace {

constexpr size_t kMaxHead = 16 * 1024;

const char* reasonOf(int status) {
    switch (status) {
        case 200: return "OK";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

}  // namespace

const TestCertificate& TestTlsCertificate() {
    static const TestCertificate certificate = [] {
        TestCertificate made;
        char folder[] = "/tmp/zucam-test-tls-XXXXXX";
        if (::mkdtemp(folder) == nullptr) return made;
        const std::string dir = folder;
        const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                                    " -addext subjectAltName=IP:127.0.0.1 -keyout '" + dir + "/key.pem' -out '" +
                                    dir + "/cert.pem' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return made;
        made.certificatePath = dir + "/cert.pem";
        made.keyPath = dir + "/key.pem";
        return made;
    }();
    return certificate;
}

bool HttpPeer::send(const std::string& bytes) {
    if (tls_ != nullptr) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const int n = SSL_write(static_cast<SSL*>(tls_), bytes.data() + sent, int(bytes.size() - sent));
            if (n <= 0) return false;
            sent += size_t(n);
        }
        return true;
    }
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += size_t(n);
    }
    return true;
}

bool HttpPeer::reply(int status, const std::string& body, const std::string& contentType) {
    return send("HTTP/1.1 " + std::to_string(status) + " " + reasonOf(status) + "\r\nContent-Type: " + contentType +
                "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

bool HttpPeer::pause(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(server_->mutex_);
    return !server_->stopped_.wait_for(lock, timeout, [this] { return server_->stopping_; });
}

ScriptedHttpServer::ScriptedHttpServer(Handler handler, Transport transport) : handler_(std::move(handler)) {
    if (transport == Transport::kTls) {
        // SSL_write to a client gone away must fail, not end the test.
        ::signal(SIGPIPE, SIG_IGN);
        const TestCertificate& certificate = TestTlsCertificate();
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        if (context == nullptr || certificate.certificatePath.empty() ||
            SSL_CTX_use_certificate_chain_file(context, certificate.certificatePath.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(context, certificate.keyPath.c_str(), SSL_FILETYPE_PEM) != 1) {
            SSL_CTX_free(context);
            return;  // not valid()
        }
        tlsContext_ = context;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) ::close(fd);
        return;
    }
    listener_ = fd;
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    if (acceptThread_.joinable()) acceptThread_.join();
    if (listener_ >= 0) ::close(listener_);
    std::vector<std::thread> connections;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        connections.swap(connections_);
    }
    for (std::thread& connection : connections) connection.join();
    SSL_CTX_free(static_cast<SSL_CTX*>(tlsContext_));
}

std::string ScriptedHttpServer::url(const std::string& path) const {
    return (tlsContext_ != nullptr ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + path;
}

std::vector<HttpRequestHead> ScriptedHttpServer::requests() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void ScriptedHttpServer::acceptLoop() {
    for (;;) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
        }
        pollfd entry{listener_, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0) continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const std::lock_guard<std::mutex> lock(mutex_);
        connections_.emplace_back([this, fd] { serve(fd); });
    }
}

void ScriptedHttpServer::serve(int fd) {
    HttpRequestHead request;
    std::string head;
    char buffer[4096];
    SSL* tls = nullptr;
    const auto stopping = [this] {
        const std::lock_guard<std::mutex> lock(mutex_);
        return stopping_;
    };
    if (tlsContext_ != nullptr) {
        // Reads wake every 50 ms so a stop is seen; the handshake gets 5 s.
        timeval wake{0, 50 * 1000};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wake, sizeof(wake));
        tls = SSL_new(static_cast<SSL_CTX*>(tlsContext_));
        SSL_set_fd(tls, fd);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int accepted = 0;
        while ((accepted = SSL_accept(tls)) != 1 && SSL_get_error(tls, accepted) == SSL_ERROR_WANT_READ &&
               std::chrono::steady_clock::now() < deadline && !stopping()) {
        }
        if (accepted != 1) {
            SSL_free(tls);
            ::close(fd);
            return;
        }
    }
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHead) {
        if (tls != nullptr) {
            const int n = SSL_read(tls, buffer, sizeof(buffer));
            if (n > 0) {
                head.append(buffer, size_t(n));
            } else if (SSL_get_error(tls, n) != SSL_ERROR_WANT_READ || stopping()) {
                break;
            }
            continue;
        }
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 50) == 0) {
            if (stopping()) break;
            continue;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) break;
        head.append(buffer, size_t(n));
    }
    const size_t end = head.find("\r\n\r\n");
    if (end != std::string::npos) {
        request.text = head.substr(0, end);
        const size_t space = request.text.find(' ');
        const size_t second = request.text.find(' ', space + 1);
        request.method = request.text.substr(0, space);
        if (space != std::string::npos) request.target = request.text.substr(space + 1, second - space - 1);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        HttpPeer peer(fd, tls, this);
        handler_(request, peer);
    }
    if (tls != nullptr) {
        SSL_shutdown(tls);
        SSL_free(tls);
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

RawHttpResult RawHttpExchange(uint16_t port, const std::string& requestText, std::chrono::milliseconds timeout) {
    return RawHttpExchange("127.0.0.1", port, requestText, timeout);
}

RawHttpResult RawHttpExchange(const std::string& host, uint16_t port, const std::string& requestText,
                              std::chrono::milliseconds timeout) {
    RawHttpResult result;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return result;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        ::close(fd);
        return result;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return result;
    }
    result.connected = true;
    ::send(fd, requestText.data(), requestText.size(), MSG_NOSIGNAL);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string all;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, int(left.count())) <= 0) break;
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) break;
        all.append(buffer, size_t(n));
    }
    ::close(fd);
    const size_t end = all.find("\r\n\r\n");
    result.headers = all.substr(0, end);
    if (end != std::string::npos) result.body = all.substr(end + 4);
    if (all.rfind("HTTP/1.", 0) == 0 && all.size() > 12) result.status = std::atoi(all.c_str() + 9);
    return result;
}

}  // namespace zucam::test
