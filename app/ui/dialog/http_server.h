// The network diagnosis page's HTTP server: a thin layer over civetweb.
//
// civetweb answers on worker threads of its own (at most kWorkerThreads), so
// nothing needs polling from the GUI thread; the callback runs on those
// workers and must only read data that stays constant while the server runs.
// Every request, whatever its method and path, is answered 200 with the
// callback's body (headers only for HEAD) and the connection is closed.
// A client that sends nothing is dropped after kRequestTimeoutMs.
#pragma once

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>

struct mg_context;
struct mg_connection;

class HttpServerCallback {
public:
    virtual ~HttpServerCallback() = default;
    // The reply body as UTF-8 bytes; any thread. event and eventData are
    // unused by this server (0 and the civetweb connection).
    virtual std::string OnRequest(int event, void* eventData) = 0;
};

class HttpServer {
public:
    static constexpr int kWorkerThreads = 4;
    static constexpr int kRequestTimeoutMs = 3000;

    explicit HttpServer(HttpServerCallback* callback);
    // Stops listening and waits for the workers (up to kRequestTimeoutMs for
    // a client that is still sending its request).
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on every IPv4 interface at port. False when the port does not
    // take a listener (in use, not permitted) or the server was started before.
    bool Start(uint16_t port);
    bool IsListening() const { return context_ != nullptr; }
    uint16_t Port() const { return port_; }

    // Detaches the callback at once (no call reaches it after this returns)
    // and finishes the stop on a pool thread, so the caller never waits for a
    // slow client. The port is free again shortly after.
    static void StopInBackground(std::unique_ptr<HttpServer> server);

private:
    static int OnBeginRequest(mg_connection* connection);
    void detachCallback();

    // Guards callback_: requests read it shared, detachCallback clears it.
    mutable std::shared_mutex callbackMutex_;
    HttpServerCallback* callback_;
    mg_context* context_ = nullptr;
    uint16_t port_ = 0;
    bool started_ = false;
};

// Tries first..last in turn with a fresh server each; the first that listens,
// or null when none does.
std::unique_ptr<HttpServer> StartHttpServerOnFirstFreePort(HttpServerCallback* callback, uint16_t first,
                                                           uint16_t last);
