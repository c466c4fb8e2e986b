// A loopback HTTP server whose answers a test scripts, standing for the
// program's web host (version replies, installer downloads) in tests. It
// listens on 127.0.0.1 at a port the OS picks; each connection gets a thread
// of its own that reads one request head and hands it to the handler, which
// writes whatever bytes it likes (honest, lying, slow or endless answers) and
// closes the connection by returning. With Transport::kTls it speaks HTTPS
// with a self-signed certificate for 127.0.0.1 made at test time (the
// openssl command); TrustTestCertificate() makes this process's Qt trust it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zucam::test {

struct HttpRequestHead {
    std::string method;
    std::string target;  // path and query as sent
    std::string text;    // the whole head
};

class ScriptedHttpServer;

enum class Transport { kPlain, kTls };

// The PEM files of the test certificate (made once per process, in a
// temporary folder); empty paths when the openssl command failed.
struct TestCertificate {
    std::string certificatePath;
    std::string keyPath;
};
const TestCertificate& TestTlsCertificate();
// Adds the test certificate to the CA certificates of Qt's default TLS
// configuration in this process; false when there is none.
bool TrustTestCertificate();

// The server's end of one connection, for the handler.
class HttpPeer {
public:
    // False once the client went away.
    bool send(const std::string& bytes);
    // A complete response with Content-Length.
    bool reply(int status, const std::string& body, const std::string& contentType = "text/plain");
    // Waits up to timeout or until the server stops; false when stopped.
    bool pause(std::chrono::milliseconds timeout);

private:
    friend class ScriptedHttpServer;

    HttpPeer(int fd, void* tls, ScriptedHttpServer* server) : fd_(fd), tls_(tls), server_(server) {}
    int fd_;
    void* tls_;  // the connection's SSL, or null
    ScriptedHttpServer* server_;
};

class ScriptedHttpServer {
public:
    using Handler = std::function<void(const HttpRequestHead& request, HttpPeer& peer)>;

    explicit ScriptedHttpServer(Handler handler, Transport transport = Transport::kPlain);
    ~ScriptedHttpServer();  // stops: pauses end, every connection thread is joined
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    bool valid() const { return listener_ >= 0; }
    uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>" (https with TLS) followed by path.
    std::string url(const std::string& path) const;
    std::vector<HttpRequestHead> requests() const;

private:
    friend class HttpPeer;
    void acceptLoop();
    void serve(int fd);

    Handler handler_;
    void* tlsContext_ = nullptr;  // SSL_CTX with TLS
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread acceptThread_;

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::vector<std::thread> connections_;
    std::vector<HttpRequestHead> requests_;
};

struct RawHttpResult {
    bool connected = false;
    int status = 0;          // 0 when no status line came
    std::string headers;     // the head, status line included
    std::string body;
};

// Sends requestText as it stands to 127.0.0.1:port and reads until the peer
// closes or timeout passes (the body is what follows the head).
RawHttpResult RawHttpExchange(uint16_t port, const std::string& requestText,
                              std::chrono::milliseconds timeout = std::chrono::seconds(5));
// The same towards another IPv4 address of this machine ("127.0.0.2", say).
RawHttpResult RawHttpExchange(const std::string& host, uint16_t port, const std::string& requestText,
                              std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace zucam::test
