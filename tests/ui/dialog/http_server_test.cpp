#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QThreadPool>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "http_server.h"
#include "net_check_page.h"
#include "support/http/scripted_http_server.h"

using namespace std::chrono_literals;
using zucam::test::RawHttpExchange;
using zucam::test::RawHttpResult;

namespace {

class FixedPage : public HttpServerCallback {
public:
    explicit FixedPage(std::string body) : body_(std::move(body)) {}
    std::string OnRequest(int, void*) override {
        ++calls;
        return body_;
    }
    std::atomic<int> calls{0};

private:
    std::string body_;
};

// A listener on 0.0.0.0:port held by "another program".
class HeldPort {
public:
    explicit HeldPort(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        const int reuse = 1;  // a port left in TIME_WAIT by an earlier case is still free
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
        held_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                ::listen(fd_, 4) == 0;
    }
    ~HeldPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool held() const { return held_; }

private:
    int fd_;
    bool held_ = false;
};

// A client that connects and then says nothing.
class IdleClient {
public:
    // from: the client's own address, "127.0.0.3" say; the system's choice when empty.
    explicit IdleClient(uint16_t port, const char* from = nullptr)
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (from != nullptr) {
            sockaddr_in source{};
            source.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &source.sin_addr);
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof(source)) != 0) return;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~IdleClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    // Sends one byte of a request that never ends; false once the server
    // closed the connection.
    bool sendByte() {
        if (!connected_) return false;
        char peek;
        const ssize_t got = ::recv(fd_, &peek, 1, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) connected_ = false;
        if (connected_ && ::send(fd_, "G", 1, MSG_NOSIGNAL) != 1) connected_ = false;
        return connected_;
    }

private:
    int fd_;
    bool connected_ = false;
};

bool refusedWithin(uint16_t port, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (!RawHttpExchange(port, "GET / HTTP/1.0\r\n\r\n", 500ms).connected) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

std::unique_ptr<HttpServer> startOnFreePort(HttpServerCallback* callback) {
    return StartHttpServerOnFirstFreePort(callback, kNetCheckFirstPort, kNetCheckLastPort);
}

struct RequestCase {
    const char* name;
    const char* text;
    bool expectBody;
};

class AnyRequest : public testing::TestWithParam<RequestCase> {};

TEST_P(AnyRequest, GetsStatus200AndThePage) {
    FixedPage page(NetCheckPage());
    auto server = startOnFreePort(&page);
    ASSERT_NE(server, nullptr);
    const RawHttpResult result = RawHttpExchange(server->Port(), GetParam().text);
    EXPECT_EQ(result.status, 200) << result.headers;
    EXPECT_NE(result.headers.find("Content-Length: " + std::to_string(NetCheckPage().size())), std::string::npos);
    EXPECT_NE(result.headers.find("charset=utf-8"), std::string::npos);
    EXPECT_EQ(result.body, GetParam().expectBody ? NetCheckPage() : std::string());
}

INSTANTIATE_TEST_SUITE_P(
    MethodsAndPaths, AnyRequest,
    testing::Values(RequestCase{"Root", "GET / HTTP/1.1\r\nHost: phone\r\n\r\n", true},
                    RequestCase{"SiteIcon", "GET /favicon.ico HTTP/1.1\r\nHost: x\r\n\r\n", true},
                    RequestCase{"Query", "GET /a/b?c=d&e=%25s HTTP/1.1\r\nHost: x\r\n\r\n", true},
                    RequestCase{"PostWithBody", "POST /form HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc", true},
                    RequestCase{"Http10", "GET /old HTTP/1.0\r\n\r\n", true},
                    RequestCase{"Delete", "DELETE /thing HTTP/1.1\r\nHost: x\r\n\r\n", true},
                    RequestCase{"Head", "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n", false}),
    [](const testing::TestParamInfo<RequestCase>& param) { return std::string(param.param.name); });

TEST(HttpServer, PageIsTheHeadlineAlone) {
    const std::string& page = NetCheckPage();
    EXPECT_NE(page.find("<meta charset=\"UTF-8\">"), std::string::npos);
    EXPECT_NE(page.find("<h1>网络可连接！(Network connected!)</h1>"), std::string::npos);
    EXPECT_NE(page.find("justify-content: center"), std::string::npos);
}

TEST(HttpServer, BodyGoesOutAsBytesNeverAsAFormat) {
    const std::string tricky = std::string("100% %s %n %d %%") + '\0' + "after zero";
    FixedPage page(tricky);
    auto server = startOnFreePort(&page);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(RawHttpExchange(server->Port(), "GET / HTTP/1.0\r\n\r\n").body, tricky);
}

TEST(HttpServer, ListensOnEveryIpv4AddressNotJustLoopback) {
    FixedPage page("ok");
    auto server = startOnFreePort(&page);
    ASSERT_NE(server, nullptr);
    // 127.0.0.2 reaches only a listener bound to every address.
    EXPECT_EQ(RawHttpExchange("127.0.0.2", server->Port(), "GET / HTTP/1.0\r\n\r\n").status, 200);
}

TEST(HttpServer, TakenPortsAreSkipped) {
    FixedPage page("ok");
    {
        HeldPort first(kNetCheckFirstPort);
        ASSERT_TRUE(first.held());
        auto server = startOnFreePort(&page);
        ASSERT_NE(server, nullptr);
        EXPECT_EQ(server->Port(), kNetCheckFirstPort + 1);
        EXPECT_EQ(RawHttpExchange(server->Port(), "GET / HTTP/1.0\r\n\r\n").body, "ok");
    }
    std::vector<std::unique_ptr<HeldPort>> all;
    for (uint32_t port = kNetCheckFirstPort; port <= kNetCheckLastPort; ++port) {
        all.push_back(std::make_unique<HeldPort>(uint16_t(port)));
    }
    EXPECT_EQ(startOnFreePort(&page), nullptr);
    all.pop_back();
    auto last = startOnFreePort(&page);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->Port(), kNetCheckLastPort);
}

TEST(HttpServer, StartsOnce) {
    FixedPage page("ok");
    auto server = startOnFreePort(&page);
    ASSERT_NE(server, nullptr);
    EXPECT_FALSE(server->Start(uint16_t(server->Port() + 1)));
}

TEST(HttpServer, StopInBackgroundReturnsAtOnceDespiteIdleClientsAndThenRefuses) {
    FixedPage page("ok");
    auto server = startOnFreePort(&page);
    ASSERT_NE(server, nullptr);
    const uint16_t port = server->Port();
    std::vector<std::unique_ptr<IdleClient>> idle;
    for (int i = 0; i < HttpServer::kMaxConnectionsPerClient; ++i) idle.push_back(std::make_unique<IdleClient>(port));
    QElapsedTimer clock;
    clock.start();
    HttpServer::StopInBackground(std::move(server));
    EXPECT_LT(clock.elapsed(), 100);
    EXPECT_TRUE(refusedWithin(port, 3s));
    idle.clear();
    QThreadPool::globalInstance()->waitForDone(10000);
}

// How long a real request from the same address as the hostile clients
// takes to be answered while they hold their connections.
int64_t timeToAnswerMs(uint16_t port) {
    const auto started = std::chrono::steady_clock::now();
    const RawHttpResult result = RawHttpExchange(port, "GET / HTTP/1.1\r\nHost: phone\r\n\r\n", 15s);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    EXPECT_EQ(result.status, 200);
    return took.count();
}

// Once 200 idle connections of one client cost a real client 150 s (queued
// for four workers); now a client over its bound loses its oldest
// connection, clients over the total lose the oldest of the one holding
// most, and nobody waits for anybody.
TEST(HttpServer, IdleConnectionsDoNotKeepTheAnswerBack) {
    struct Crowd {
        const char* name;
        int addresses;  // 127.0.0.10 onwards; 0: the system's own choice, 127.0.0.1
        int connectionsEach;
    };
    for (const Crowd& crowd : {Crowd{"200 of one client", 0, 200},
                               Crowd{"20 clients at their bound", 20, HttpServer::kMaxConnectionsPerClient}}) {
        SCOPED_TRACE(crowd.name);
        FixedPage page("ok");
        auto server = startOnFreePort(&page);
        ASSERT_NE(server, nullptr);
        std::vector<std::unique_ptr<IdleClient>> idle;
        for (int host = 0; host < std::max(crowd.addresses, 1); ++host) {
            const std::string from = "127.0.0." + std::to_string(10 + host);
            for (int i = 0; i < crowd.connectionsEach; ++i) {
                idle.push_back(std::make_unique<IdleClient>(server->Port(), crowd.addresses > 0 ? from.c_str() : nullptr));
                ASSERT_TRUE(idle.back()->connected()) << from << " " << i;
            }
        }
        EXPECT_LT(timeToAnswerMs(server->Port()), 1000);
        // Again while they are still there, and from another address.
        EXPECT_LT(timeToAnswerMs(server->Port()), 1000);
        EXPECT_EQ(RawHttpExchange("127.0.0.2", server->Port(), "GET / HTTP/1.0\r\n\r\n", 2s).status, 200);
    }
}

// A client that sends its request a byte at a time, never finishing.
class TricklingClient {
public:
    explicit TricklingClient(uint16_t port) : connection_(port) {}
    bool connected() const { return connection_.connected(); }
    // One more byte; false once the server has closed the connection.
    bool trickle() { return connection_.sendByte(); }

private:
    IdleClient connection_;
};

// Once 40 of these timed a real client out after 15 s; now each holds only
// its own connection, and for at most the request time-out.
TEST(HttpServer, FortySlowlorisConnectionsDoNotKeepTheAnswerBack) {
    FixedPage page("ok");
    auto server = startOnFreePort(&page);
    ASSERT_NE(server, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<int> open{0};
    std::thread slow([&] {
        std::vector<std::unique_ptr<TricklingClient>> clients;
        for (int i = 0; i < 40; ++i) clients.push_back(std::make_unique<TricklingClient>(server->Port()));
        while (!stop) {
            int stillOpen = 0;
            for (auto& client : clients) stillOpen += client->trickle() ? 1 : 0;
            open = stillOpen;
            std::this_thread::sleep_for(500ms);
        }
    });
    std::this_thread::sleep_for(1200ms);  // every one of them has begun its request
    for (int i = 0; i < 5; ++i) EXPECT_LT(timeToAnswerMs(server->Port()), 1000) << i;
    // None of them outlives the request time-out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(HttpServer::kRequestTimeoutMs) + 3s;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
    EXPECT_EQ(open.load(), 0);
    stop = true;
    slow.join();
}

TEST(HttpServer, AnOverlongRequestHeadIsCut) {
    FixedPage page("ok");
    auto server = startOnFreePort(&page);
    ASSERT_NE(server, nullptr);
    const std::string longHead = "GET / HTTP/1.1\r\nX: " + std::string(HttpServer::kMaxHeadBytes, 'a') + "\r\n\r\n";
    EXPECT_EQ(RawHttpExchange(server->Port(), longHead, 3s).status, 0);
    EXPECT_EQ(RawHttpExchange(server->Port(), "GET / HTTP/1.0\r\n\r\n").status, 200);
}

TEST(HttpServer, AFloodOfClientsIsAnsweredAndTheCallbackCanGoRightAfterTheStop) {
    auto page = std::make_unique<FixedPage>(NetCheckPage());
    auto server = startOnFreePort(page.get());
    ASSERT_NE(server, nullptr);
    const uint16_t port = server->Port();
    std::atomic<int> answered{0};
    std::atomic<bool> keepGoing{true};
    std::vector<std::thread> clients;
    for (int t = 0; t < 8; ++t) {
        clients.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                if (RawHttpExchange(port, "GET /flood HTTP/1.0\r\n\r\n").status == 200) ++answered;
            }
            // Then keep asking through the stop.
            while (keepGoing) RawHttpExchange(port, "GET / HTTP/1.0\r\n\r\n", 200ms);
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (answered < 200 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(answered.load(), 200);
    HttpServer::StopInBackground(std::move(server));
    page.reset();  // no worker may reach it any more
    std::this_thread::sleep_for(300ms);
    keepGoing = false;
    for (std::thread& client : clients) client.join();
    QThreadPool::globalInstance()->waitForDone(10000);
}

}  // namespace
