#include "http_server.h"

#include <civetweb.h>

#include <QThreadPool>
#include <mutex>

namespace {

// civetweb writes its errors (a port in use, for one) through this; the
// caller learns of them from the results, so they are not printed.
int quietLog(const mg_connection*, const char*) { return 1; }

void initLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mg_init_library(0); });
}

}  // namespace

HttpServer::HttpServer(HttpServerCallback* callback) : callback_(callback) {}

HttpServer::~HttpServer() {
    detachCallback();
    if (context_ != nullptr) mg_stop(context_);
}

bool HttpServer::Start(uint16_t port) {
    if (started_) return false;
    started_ = true;
    initLibraryOnce();
    const std::string ports = "0.0.0.0:" + std::to_string(port);
    const std::string threads = std::to_string(kWorkerThreads);
    const std::string timeout = std::to_string(kRequestTimeoutMs);
    const char* options[] = {"listening_ports", ports.c_str(),
                             "num_threads", threads.c_str(),
                             "request_timeout_ms", timeout.c_str(),
                             "enable_keep_alive", "no",
                             nullptr};
    mg_callbacks callbacks{};
    callbacks.begin_request = &HttpServer::OnBeginRequest;
    callbacks.log_message = &quietLog;
    context_ = mg_start(&callbacks, this, options);
    if (context_ == nullptr) return false;
    port_ = port;
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

int HttpServer::OnBeginRequest(mg_connection* connection) {
    const mg_request_info* const info = mg_get_request_info(connection);
    auto* const server = static_cast<HttpServer*>(info != nullptr ? info->user_data : nullptr);
    std::string body;
    if (server != nullptr) {
        const std::shared_lock<std::shared_mutex> lock(server->callbackMutex_);
        if (server->callback_ != nullptr) body = server->callback_->OnRequest(0, connection);
    }
    // The body goes out as bytes; it is never a format text.
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    mg_write(connection, head.data(), head.size());
    const bool headOnly = info != nullptr && info->request_method != nullptr &&
                          std::string(info->request_method) == "HEAD";
    if (!headOnly && !body.empty()) mg_write(connection, body.data(), body.size());
    return 200;  // handled; civetweb reads the number as the status it logs
}

std::unique_ptr<HttpServer> StartHttpServerOnFirstFreePort(HttpServerCallback* callback, uint16_t first,
                                                           uint16_t last) {
    for (uint32_t port = first; port <= last; ++port) {
        auto server = std::make_unique<HttpServer>(callback);
        if (server->Start(uint16_t(port))) return server;
    }
    return nullptr;
}
