// The POSIX socket and the acceptor on real loopback sockets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <ostream>

#include "socket/async_acceptor.h"
#include "socket/async_reactor.h"
#include "socket/async_socket.h"
#include "socket_test_util.h"

namespace sockettest {
namespace {

// Collects what the acceptor hands over (reactor thread) for the test thread.
class AcceptingObserver : public AsyncAcceptor::Observer {
public:
    void OnAccept(std::unique_ptr<AsyncSocket> socket) override {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            sockets_.push_back(std::move(socket));
        }
        changed_.notify_all();
    }

    bool WaitForCount(size_t count, milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return sockets_.size() >= count; });
    }

    std::vector<std::unique_ptr<AsyncSocket>> Take() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::move(sockets_);
    }

private:
    // Guards sockets_.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<AsyncSocket>> sockets_;
};

TEST(AsyncAcceptor, AcceptedConnectionsGoToTheObserverAsWorkingNonBlockingSockets) {
    AcceptingObserver observer;
    AsyncAcceptor acceptor(&observer);
    ASSERT_TRUE(acceptor.Bind("127.0.0.1", 0));
    ASSERT_TRUE(acceptor.Listen());
    const uint16_t port = acceptor.GetLocalPort();
    ASSERT_NE(port, 0);

    AsyncReactor reactor;
    reactor.Add(&acceptor);
    std::vector<Fd> clients;
    // One at a time: the backlog of 1 would make a third quick connect wait
    // for a SYN retransmission.
    for (size_t i = 0; i < 3; ++i) {
        clients.push_back(ConnectLoopback(port));
        ASSERT_NE(clients.back().get(), -1);
        ASSERT_TRUE(observer.WaitForCount(i + 1, milliseconds(5000)));
    }
    reactor.Remove(&acceptor);

    std::vector<std::unique_ptr<AsyncSocket>> accepted = observer.Take();
    ASSERT_EQ(accepted.size(), 3u);
    for (size_t i = 0; i < accepted.size(); ++i) {
        AsyncSocket& socket = *accepted[i];
        ASSERT_NE(socket.GetFd(), -1);
        EXPECT_NE(fcntl(socket.GetFd(), F_GETFL) & O_NONBLOCK, 0);
        char buffer[64];
        EXPECT_EQ(socket.Recv(buffer, sizeof(buffer)), AsyncSocket::kWouldBlock);
        // Every accepted socket is connected to one of the clients: a message
        // sent on it arrives at exactly one of them.
        const std::string message = "to client " + std::to_string(i);
        ASSERT_EQ(socket.Send(message.data(), static_cast<int>(message.size())), static_cast<int>(message.size()));
    }
    std::vector<std::string> received;
    for (Fd& client : clients) received.push_back(ReadExactly(client.get(), 11, milliseconds(2000)));
    std::sort(received.begin(), received.end());
    EXPECT_EQ(received, (std::vector<std::string>{"to client 0", "to client 1", "to client 2"}));
}

TEST(AsyncAcceptor, WithoutObserverTheAcceptedConnectionIsClosed) {
    AsyncAcceptor acceptor(nullptr);
    ASSERT_TRUE(acceptor.Bind("127.0.0.1", 0));
    ASSERT_TRUE(acceptor.Listen());
    AsyncReactor reactor;
    reactor.Add(&acceptor);
    Fd client = ConnectLoopback(acceptor.GetLocalPort());
    ASSERT_NE(client.get(), -1);
    std::string data;
    EXPECT_TRUE(ReadUntilEof(client.get(), &data, milliseconds(5000)));
    EXPECT_EQ(data, "");
    reactor.Remove(&acceptor);
}

struct BindCase {
    const char* name;
    const char* ip;
    bool expected;
};

void PrintTo(const BindCase& bindCase, std::ostream* out) { *out << bindCase.name; }

class AsyncAcceptorBind : public ::testing::TestWithParam<BindCase> {};

TEST_P(AsyncAcceptorBind, AcceptsOnlyDottedIpv4) {
    AsyncAcceptor acceptor(nullptr);
    EXPECT_EQ(acceptor.Bind(GetParam().ip, 0), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Addresses, AsyncAcceptorBind,
                         ::testing::Values(BindCase{"loopback", "127.0.0.1", true}, BindCase{"any", "0.0.0.0", true},
                                           BindCase{"host_name", "localhost", false},
                                           BindCase{"octet_out_of_range", "127.0.0.256", false},
                                           BindCase{"ipv6", "::1", false}, BindCase{"empty", "", false}),
                         [](const ::testing::TestParamInfo<BindCase>& param) { return std::string(param.param.name); });

TEST(AsyncAcceptor, PortHeldByAnotherListenerFailsBind) {
    AsyncAcceptor first(nullptr);
    ASSERT_TRUE(first.Bind("127.0.0.1", 0));
    ASSERT_TRUE(first.Listen());
    AsyncAcceptor second(nullptr);
    EXPECT_FALSE(second.Bind("127.0.0.1", first.GetLocalPort()));
}

// A restarted program must get its port back while connections of the
// previous run still linger in TIME_WAIT on it.
TEST(AsyncAcceptor, RebindsAPortWithAConnectionInTimeWait) {
    uint16_t port = 0;
    {
        AcceptingObserver observer;
        AsyncAcceptor acceptor(&observer);
        ASSERT_TRUE(acceptor.Bind("127.0.0.1", 0));
        ASSERT_TRUE(acceptor.Listen());
        port = acceptor.GetLocalPort();
        AsyncReactor reactor;
        reactor.Add(&acceptor);
        Fd client = ConnectLoopback(port);
        ASSERT_TRUE(observer.WaitForCount(1, milliseconds(5000)));
        reactor.Remove(&acceptor);
        // The server side closes first, so the TIME_WAIT sits on our port.
        observer.Take().clear();
        std::string ignored;
        ASSERT_TRUE(ReadUntilEof(client.get(), &ignored, milliseconds(2000)));
    }
    AsyncAcceptor restarted(nullptr);
    EXPECT_TRUE(restarted.Bind("127.0.0.1", port));
    EXPECT_TRUE(restarted.Listen());
}

TEST(AsycnSocketWin32, WithoutDescriptorEveryOperationFails) {
    AsycnSocketWin32 socket(-1);
    char buffer[8] = {};
    EXPECT_EQ(socket.GetFd(), -1);
    EXPECT_FALSE(socket.Bind("127.0.0.1", 0));
    EXPECT_FALSE(socket.Listen(1));
    EXPECT_EQ(socket.Accept(), nullptr);
    EXPECT_EQ(socket.Recv(buffer, sizeof(buffer)), -1);
    EXPECT_EQ(socket.Send(buffer, sizeof(buffer)), 0);
    EXPECT_EQ(socket.GetLocalPort(), 0);
}

// Sending to a peer that is gone fails with an error return; without
// MSG_NOSIGNAL the process would die of SIGPIPE here.
TEST(AsycnSocketWin32, SendToAClosedPeerReturnsAnErrorWithoutSignal) {
    TcpPair pair = MakeTcpPair();
    ASSERT_TRUE(pair.local);
    pair.peer.reset();
    const std::string chunk(4096, 'x');
    int result = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            result = pair.local->Send(chunk.data(), static_cast<int>(chunk.size()));
            return result == -1;
        },
        milliseconds(5000)));
    EXPECT_EQ(result, -1);
}

}  // namespace
}  // namespace sockettest
