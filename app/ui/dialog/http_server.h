// The network diagnosis page's HTTP server: one thread of its own over
// non-blocking sockets, answering every request, whatever its method and
// path, with 200 and the callback's body (headers only for HEAD), then
// closing the connection.
//
// The page listens on the whole network, so what one client may take is
// bounded: at most kMaxConnectionsPerClient connections per IPv4 address and
// kMaxConnections in all; a connection over either bound closes the oldest
// one of that address (of the address holding most, for the total), so the
// newest request is always read. The request head must be complete within
// kRequestTimeoutMs of the connection (bytes trickling in do not extend it)
// and hold at most kMaxHeadBytes; the reply and the close after it take at
// most kLingerMs more. No client waits for another: a slow or idle one only
// holds its own connection until its deadline.
#pragma once

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>
#include <thread>

class HttpServerCallback {
public:
    virtual ~HttpServerCallback() = default;
    // The reply body as UTF-8 bytes, on the server's thread. event and
    // eventData are unused by this server (0 and null).
    virtual std::string OnRequest(int event, void* eventData) = 0;
};

class HttpServer {
public:
    static constexpr int kMaxConnectionsPerClient = 8;
    static constexpr int kMaxConnections = 128;
    static constexpr int kRequestTimeoutMs = 3000;
    static constexpr int kLingerMs = 2000;
    static constexpr size_t kMaxHeadBytes = 8192;

    explicit HttpServer(HttpServerCallback* callback);
    // Stops listening, closes every connection and joins the thread (which
    // never blocks on a client, so this returns at once).
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on every IPv4 interface at port. False when the port does not
    // take a listener (in use, not permitted) or the server was started before.
    bool Start(uint16_t port);
    bool IsListening() const { return listener_ >= 0; }
    uint16_t Port() const { return port_; }

    // Detaches the callback at once (no call reaches it after this returns)
    // and finishes the stop on a pool thread, so the caller never waits. The
    // port is free again shortly after.
    static void StopInBackground(std::unique_ptr<HttpServer> server);

private:
    void serve();
    std::string body();
    void detachCallback();

    // Guards callback_: requests read it shared, detachCallback clears it.
    mutable std::shared_mutex callbackMutex_;
    HttpServerCallback* callback_;
    int listener_ = -1;
    int wake_ = -1;  // an eventfd: the destructor's stop signal
    uint16_t port_ = 0;
    bool started_ = false;
    std::thread thread_;
};

// Tries first..last in turn with a fresh server each; the first that listens,
// or null when none does.
std::unique_ptr<HttpServer> StartHttpServerOnFirstFreePort(HttpServerCallback* callback, uint16_t first,
                                                           uint16_t last);
