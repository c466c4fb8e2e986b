// AsyncConneciton on real loopback TCP pairs: activation, reading, the output
// queue and its limits, the end of a connection, the flush before closing.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <ostream>

#include "socket/async_conneciton.h"
#include "socket/async_reactor.h"
#include "socket/async_socket.h"
#include "socket_test_util.h"

namespace sockettest {
namespace {

constexpr int kQueueSize = AsyncConneciton::kOutputBufferSize;

// count chunks of size, then the tail.
std::vector<int> Chunks(size_t count, int size, const std::vector<int>& tail = {}) {
    std::vector<int> chunks(count, size);
    chunks.insert(chunks.end(), tail.begin(), tail.end());
    return chunks;
}

// A connection over a fresh loopback pair. Not added to a reactor: each test
// decides whether a reactor drives it or it calls the callbacks itself.
class ConnectionTest : public ::testing::Test {
protected:
    void Connect(int readBufferSize = AsyncConneciton::kDefaultReadBufferSize, int peerReceiveBuffer = 0,
                 int localSendBuffer = 0) {
        TcpPair pair = MakeTcpPair(peerReceiveBuffer, localSendBuffer);
        ASSERT_TRUE(pair.local);
        ASSERT_NE(pair.local->GetFd(), -1);
        peer_ = std::move(pair.peer);
        localFd_ = pair.local->GetFd();
        connection_ = std::make_unique<AsyncConneciton>(std::move(pair.local), &observer_, readBufferSize);
    }

    // Bytes the kernel holds for the connection to read.
    int PendingBytes() const {
        int pending = 0;
        ioctl(localFd_, FIONREAD, &pending);
        return pending;
    }

    void TearDown() override {
        if (reactor_ && connection_) reactor_->Remove(connection_.get());
    }

    // Destroyed in reverse order: the reactor goes before the connection it
    // polls, the observer after both.
    RecordingObserver observer_;
    Fd peer_;
    int localFd_ = -1;
    std::unique_ptr<AsyncConneciton> connection_;
    std::unique_ptr<AsyncReactor> reactor_;
};

TEST_F(ConnectionTest, InactiveConnectionIsNeitherReadNorWrittenUntilActivated) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    reactor_ = std::make_unique<AsyncReactor>();
    reactor_->Add(connection_.get());
    EXPECT_EQ(connection_->GetEvents(), 0);

    ASSERT_TRUE(WriteAll(peer_.get(), "first,"));
    const std::string reply = Pattern(100, 7);
    EXPECT_EQ(connection_->Send(reply.data(), static_cast<int>(reply.size())), 100);
    // Several poll rounds pass; nothing may move in either direction.
    std::this_thread::sleep_for(milliseconds(250));
    EXPECT_EQ(observer_.Data(), "");
    EXPECT_FALSE(WaitReadable(peer_.get(), milliseconds(0)));
    EXPECT_EQ(connection_->GetQueuedBytes(), 100u);

    ASSERT_TRUE(WriteAll(peer_.get(), "second"));
    connection_->SetEvents(kAsyncEventRead);
    ASSERT_TRUE(observer_.WaitForBytes(12, milliseconds(5000)));
    EXPECT_EQ(observer_.Data(), "first,second");
    EXPECT_EQ(ReadExactly(peer_.get(), 100, milliseconds(5000)), reply);
    EXPECT_TRUE(observer_.Ends().empty());
}

struct EndCase {
    const char* name;
    bool reset;  // RST instead of FIN
    int expected;
};

void PrintTo(const EndCase& endCase, std::ostream* out) { *out << endCase.name; }

class ConnectionEnd : public ConnectionTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(ConnectionEnd, IsReportedOnceAndStopsPolling) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    reactor_ = std::make_unique<AsyncReactor>();
    connection_->SetEvents(kAsyncEventRead);
    reactor_->Add(connection_.get());
    ASSERT_TRUE(WriteAll(peer_.get(), "last words"));
    ASSERT_TRUE(observer_.WaitForBytes(10, milliseconds(5000)));
    if (GetParam().reset) {
        ResetConnection(&peer_);
    } else {
        peer_.reset();
    }
    ASSERT_TRUE(observer_.WaitForEnd(milliseconds(5000)));
    // More rounds: a second report would show up here.
    std::this_thread::sleep_for(milliseconds(150));
    EXPECT_EQ(observer_.Ends(), std::vector<int>{GetParam().expected});
    EXPECT_EQ(observer_.Data(), "last words");
    EXPECT_EQ(connection_->GetEvents(), 0);
    EXPECT_EQ(connection_->Send("x", 1), -1);
}

INSTANTIATE_TEST_SUITE_P(PeerCloses, ConnectionEnd,
                         ::testing::Values(EndCase{"orderly", false, 0}, EndCase{"reset", true, -1}),
                         [](const ::testing::TestParamInfo<EndCase>& param) { return std::string(param.param.name); });

TEST_F(ConnectionTest, SendTakesWhatFitsAndMoreOnceTheReactorWrote) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    const std::string data = Pattern(50000, 11);
    // Queued while inactive, so that nothing is written between the calls.
    EXPECT_EQ(connection_->Send(data.data(), 50000), kQueueSize);
    EXPECT_EQ(connection_->GetQueuedBytes(), static_cast<uint64_t>(kQueueSize));
    connection_->SetEvents(kAsyncEventRead);
    EXPECT_EQ(connection_->Send(data.data() + kQueueSize, 50000 - kQueueSize), 0);  // full, being drained

    reactor_ = std::make_unique<AsyncReactor>();
    reactor_->Add(connection_.get());
    ASSERT_TRUE(WaitUntil([&] { return connection_->GetQueuedBytes() < static_cast<uint64_t>(kQueueSize); },
                          milliseconds(5000)));
    EXPECT_EQ(connection_->Send(data.data() + kQueueSize, 50000 - kQueueSize), 50000 - kQueueSize);
    EXPECT_EQ(ReadExactly(peer_.get(), data.size(), milliseconds(5000)), data);
}

struct FullQueueCase {
    const char* name;
    int events;
    int expected;
};

void PrintTo(const FullQueueCase& fullCase, std::ostream* out) { *out << fullCase.name; }

class ConnectionFullQueue : public ConnectionTest, public ::testing::WithParamInterface<FullQueueCase> {};

// A caller looping on Send must learn when waiting is pointless.
TEST_P(ConnectionFullQueue, SendSaysWhetherWaitingHelps) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    connection_->SetEvents(GetParam().events);
    const std::string data = Pattern(kQueueSize + 1, 3);
    EXPECT_EQ(connection_->Send(data.data(), kQueueSize - 1), kQueueSize - 1);
    EXPECT_EQ(connection_->Send(data.data(), 2), 1);
    EXPECT_EQ(connection_->Send(data.data(), 1), GetParam().expected);
    EXPECT_EQ(connection_->GetQueuedBytes(), static_cast<uint64_t>(kQueueSize));
}

INSTANTIATE_TEST_SUITE_P(Activation, ConnectionFullQueue,
                         ::testing::Values(FullQueueCase{"inactive", 0, -1}, FullQueueCase{"given_up", -1, -1},
                                           FullQueueCase{"active", kAsyncEventRead, 0}),
                         [](const ::testing::TestParamInfo<FullQueueCase>& param) {
                             return std::string(param.param.name);
                         });

// Small kernel buffers and a reader that starts late make the reactor meet
// a full socket (EAGAIN) and the caller a full queue many times.
TEST_F(ConnectionTest, LargeTransferArrivesCompleteAndInOrder) {
    ASSERT_NO_FATAL_FAILURE(Connect(AsyncConneciton::kDefaultReadBufferSize, 16 * 1024, 16 * 1024));
    constexpr size_t kSize = 8u << 20;
    const std::string data = Pattern(kSize, 42);
    connection_->SetEvents(kAsyncEventRead);
    reactor_ = std::make_unique<AsyncReactor>();
    reactor_->Add(connection_.get());

    std::string received;
    std::thread reader([&] {
        std::this_thread::sleep_for(milliseconds(100));
        received = ReadExactly(peer_.get(), kSize, milliseconds(30000));
    });
    size_t offset = 0;
    int fullQueueReturns = 0;
    bool refused = false;
    const auto deadline = Clock::now() + milliseconds(30000);
    while (offset < kSize && Clock::now() < deadline) {
        const int chunk = static_cast<int>(std::min<size_t>(kSize - offset, 100000));
        const int taken = connection_->Send(data.data() + offset, chunk);
        if (taken < 0) {
            refused = true;
            break;
        }
        if (taken == 0) {
            ++fullQueueReturns;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        offset += static_cast<size_t>(taken);
    }
    reader.join();
    EXPECT_FALSE(refused);
    EXPECT_EQ(offset, kSize);
    EXPECT_GT(fullQueueReturns, 0);
    ASSERT_EQ(received.size(), kSize);
    EXPECT_TRUE(received == data) << "bytes lost, repeated or reordered";
    EXPECT_TRUE(observer_.Ends().empty());
}

// Without a wake-up a reply would wait for the reactor's poll time-out.
TEST_F(ConnectionTest, QueuedReplyIsWrittenPromptly) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    connection_->SetEvents(kAsyncEventRead);
    reactor_ = std::make_unique<AsyncReactor>();
    reactor_->Add(connection_.get());
    std::this_thread::sleep_for(milliseconds(20));

    std::vector<double> latenciesMs;
    for (int i = 0; i < 20; ++i) {
        const std::string reply = "reply " + std::to_string(i % 10);
        const auto start = Clock::now();
        ASSERT_EQ(connection_->Send(reply.data(), static_cast<int>(reply.size())), static_cast<int>(reply.size()));
        ASSERT_EQ(ReadExactly(peer_.get(), reply.size(), milliseconds(5000)), reply);
        latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::nth_element(latenciesMs.begin(), latenciesMs.begin() + 10, latenciesMs.end());
    EXPECT_LT(latenciesMs[10], 50.0);
}

struct ReadLoopCase {
    const char* name;
    int sent;
    bool stopAfterFirst;  // the observer gives the connection up on the first chunk
    std::vector<int> firstCall;
    std::vector<int> secondCall;
};

void PrintTo(const ReadLoopCase& loopCase, std::ostream* out) { *out << loopCase.name; }

class ConnectionReadLoop : public ConnectionTest, public ::testing::WithParamInterface<ReadLoopCase> {};

// One readable event reads chunk after chunk until the socket is empty,
// within a bound, and stops as soon as the observer gives the connection up.
TEST_P(ConnectionReadLoop, DeliversChunksInOrder) {
    constexpr int kChunk = 1024;
    ASSERT_NO_FATAL_FAILURE(Connect(kChunk));
    const ReadLoopCase& loopCase = GetParam();
    connection_->SetEvents(kAsyncEventRead);
    if (loopCase.stopAfterFirst) {
        observer_.afterRead = [this](int) { connection_->SetEvents(0); };
    }
    const std::string data = Pattern(static_cast<size_t>(loopCase.sent), 5);
    ASSERT_TRUE(WriteAll(peer_.get(), data));
    ASSERT_TRUE(WaitUntil([&] { return PendingBytes() >= loopCase.sent; }, milliseconds(5000)));

    connection_->OnReadable();
    EXPECT_EQ(observer_.ChunkSizes(), loopCase.firstCall);
    connection_->SetEvents(kAsyncEventRead);
    observer_.afterRead = nullptr;
    connection_->OnReadable();
    std::vector<int> both = loopCase.firstCall;
    both.insert(both.end(), loopCase.secondCall.begin(), loopCase.secondCall.end());
    EXPECT_EQ(observer_.ChunkSizes(), both);
    EXPECT_TRUE(observer_.Data() == data.substr(0, observer_.Data().size()));
    EXPECT_TRUE(observer_.Ends().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, ConnectionReadLoop,
    ::testing::Values(ReadLoopCase{"drains_in_one_event", 10 * 1024 + 100, false, Chunks(10, 1024, {100}), {}},
                      ReadLoopCase{"bounded_per_event", 20 * 1024, false, Chunks(16, 1024), Chunks(4, 1024)},
                      ReadLoopCase{"stops_when_given_up", 3 * 1024, true, Chunks(1, 1024), Chunks(2, 1024)}),
    [](const ::testing::TestParamInfo<ReadLoopCase>& param) { return std::string(param.param.name); });

// A readable event that finds nothing (spurious, or the data was taken by an
// earlier read) is not the end of the connection.
TEST_F(ConnectionTest, NothingToReadIsNotABreak) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    connection_->SetEvents(kAsyncEventRead);
    ASSERT_TRUE(WriteAll(peer_.get(), "abc"));
    ASSERT_TRUE(WaitReadable(localFd_, milliseconds(5000)));
    connection_->OnReadable();
    connection_->OnReadable();
    connection_->OnReadable();
    EXPECT_EQ(observer_.Data(), "abc");
    EXPECT_TRUE(observer_.Ends().empty());
    EXPECT_EQ(connection_->GetEvents(), kAsyncEventRead);
    // Nothing queued: a writable event writes nothing and reports nothing.
    connection_->OnWritable();
    EXPECT_TRUE(observer_.Ends().empty());
}

TEST_F(ConnectionTest, FlushBlockingWritesTheQueueBeforeClose) {
    ASSERT_NO_FATAL_FAILURE(Connect(AsyncConneciton::kDefaultReadBufferSize, 4096, 4096));
    connection_->SetEvents(kAsyncEventRead);
    reactor_ = std::make_unique<AsyncReactor>();
    reactor_->Add(connection_.get());
    reactor_->Remove(connection_.get());
    const std::string last = Pattern(kQueueSize, 9);
    ASSERT_EQ(connection_->Send(last.data(), kQueueSize), kQueueSize);

    std::string received;
    bool sawEof = false;
    std::thread reader([&] {
        // Starts late, so the flush has to wait for room more than once.
        std::this_thread::sleep_for(milliseconds(50));
        sawEof = ReadUntilEof(peer_.get(), &received, milliseconds(10000));
    });
    EXPECT_TRUE(connection_->FlushBlocking(5000));
    EXPECT_EQ(connection_->GetQueuedBytes(), 0u);
    connection_.reset();  // closes the socket
    reader.join();
    EXPECT_TRUE(sawEof);
    EXPECT_TRUE(received == last);
}

// Over a socketpair: unlike loopback TCP, its buffers stay full exactly
// while the peer does not read.
TEST(AsyncConnecitonFlush, GivesUpAtTheTimeOut) {
    UnixPair pair = MakeUnixPair();
    ASSERT_NE(pair.a.get(), -1);
    const int localFd = pair.a.get();
    RecordingObserver observer;
    AsyncConneciton connection(std::make_unique<AsycnSocketWin32>(pair.a.release()), &observer);
    const std::string filler(4096, 'f');
    for (const size_t size : {size_t{4096}, size_t{256}, size_t{1}}) {
        while (send(localFd, filler.data(), size, MSG_DONTWAIT | MSG_NOSIGNAL) > 0) {
        }
    }
    ASSERT_EQ(connection.Send(filler.data(), 100), 100);
    const auto start = Clock::now();
    EXPECT_FALSE(connection.FlushBlocking(100));
    const double elapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_GE(elapsedMs, 90.0);
    EXPECT_LT(elapsedMs, 2000.0);
    EXPECT_EQ(connection.GetQueuedBytes(), 100u);
    EXPECT_TRUE(observer.Ends().empty());
}

}  // namespace
}  // namespace sockettest
