// The command server and the single-connection rules it shares with the
// media servers: one client at a time, nothing read before activation, the
// frames of a read handed on in order, replies flushed before a close, and
// no deadlock between the hub's thread and the reactor.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "core/system/time.h"
#include "server_test_util.h"
#include "stream_manager.h"
#include "support/phone/tcp_stream.h"

using namespace servertest;

namespace {

class CommandServerTest : public testing::Test {
protected:
    void SetUp() override {
        hub_ = MakeHub();
        server_ = std::make_unique<WatchedCommandServer>(&log_, hub_->reactor(), hub_.get());
        ASSERT_TRUE(ListenAnywhere(server_.get()));
    }
    void TearDown() override {
        server_.reset();
        hub_.reset();
    }

    // Connects a client and waits until the server reported it.
    std::unique_ptr<TestClient> ConnectAndWaitForAccept(int acceptsBefore = 0) {
        auto client = std::make_unique<TestClient>(server_->port());
        EXPECT_TRUE(client->connected());
        EXPECT_TRUE(WaitUntil(
            [&] { return log_.EventCount(kStreamEventCommandConnected) > acceptsBefore; }));
        return client;
    }

    HubLog log_;
    std::unique_ptr<StreamManager> hub_;
    std::unique_ptr<WatchedCommandServer> server_;
};

TEST_F(CommandServerTest, SecondClientIsTurnedAwayAfterTheGraceWhileALiveOneIsHeld) {
    auto first = ConnectAndWaitForAccept();
    server_->ActivateConnection();

    TestClient second(server_->port());
    ASSERT_TRUE(second.connected()) << "the system accepts the connection";
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventCommandConnected) == 2; }));
    // It waits for the grace in which an end of the held client still on its
    // way would come; the hub's watch then closes it.
    server_->ReviewWaitingClient(GetTimeNs());
    EXPECT_TRUE(second.StaysSilent(milliseconds(50))) << "turned away before the grace passed";
    server_->ReviewWaitingClient(GetTimeNs() + SingleConnectionServer::kWaitingGraceNs);
    EXPECT_TRUE(second.WaitForClose()) << "and the server closes it then";
    // The turned-away client is announced too; the hub's activation then
    // applies to the connection still held.
    EXPECT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventCommandConnected) == 2; }));
    server_->ActivateConnection();

    ASSERT_TRUE(first->SendAll(CommandFrame(R"({"type":1001})")));
    EXPECT_TRUE(WaitUntil([&] { return log_.Texts().size() == 1; }));
    EXPECT_EQ(log_.Texts(), std::vector<std::string>{R"({"type":1001})"});
}

TEST_F(CommandServerTest, DataSentBeforeActivationIsReadAfterItInOrder) {
    auto client = ConnectAndWaitForAccept();
    ASSERT_TRUE(client->SendAll(CommandFrame("first")));
    ASSERT_TRUE(client->SendAll(CommandFrame("second")));
    Settle(milliseconds(100));
    EXPECT_TRUE(log_.Texts().empty()) << "a pending connection is not read";

    server_->ActivateConnection();
    ASSERT_TRUE(WaitUntil([&] { return log_.Texts().size() == 2; }));
    EXPECT_EQ(log_.Texts(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(CommandServerTest, FramesReachTheHubInOrderHoweverTheyAreCut) {
    auto client = ConnectAndWaitForAccept();
    server_->ActivateConnection();

    // Three frames in one write, then one frame cut inside its length field
    // and inside its text, with pauses so that the server reads in between
    // (and finds nothing more for a while).
    ASSERT_TRUE(client->SendAll(CommandFrame("a") + CommandFrame(R"({"type":7})") + CommandFrame("c")));
    ASSERT_TRUE(WaitUntil([&] { return log_.Texts().size() == 3; }));
    const std::string cut = CommandFrame("split frame");
    for (const std::string& piece : {cut.substr(0, 2), cut.substr(2, 5), cut.substr(7)}) {
        ASSERT_TRUE(client->SendAll(piece));
        Settle(milliseconds(30));
    }
    ASSERT_TRUE(WaitUntil([&] { return log_.Texts().size() == 4; }));
    EXPECT_EQ(log_.Texts(), (std::vector<std::string>{"a", R"({"type":7})", "c", "split frame"}));
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 0);
}

TEST_F(CommandServerTest, PeerCloseIsReportedOnceAndTheNextClientIsTakenWhenTheHubCloses) {
    auto client = ConnectAndWaitForAccept();
    server_->ActivateConnection();
    testing::internal::CaptureStderr();
    client->Close();
    const bool lost = WaitUntil([&] { return log_.EventCount(kStreamEventConnectionLost) == 1; });
    const std::string printed = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(lost);
    EXPECT_NE(printed.find("---------------cmd: connection closed\n"), std::string::npos) << printed;

    // Still held while inactive, but dead: a new client is not turned away.
    // It waits (its accept is reported, the hub's activation goes to the
    // held connection) until the hub closes the old connection, which hands
    // the slot over to it at once.
    const int accepts = log_.EventCount(kStreamEventCommandConnected);
    TestClient next(server_->port());
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventCommandConnected) == accepts + 1; }));
    EXPECT_TRUE(next.StaysSilent(milliseconds(100))) << "the waiting client was closed";
    const uint64_t deadId = server_->HeldConnectionId();
    server_->CloseConnection();
    EXPECT_EQ(log_.EventCount(kStreamEventCommandConnected), accepts + 2) << "the adopted client is reported";
    EXPECT_NE(server_->HeldConnectionId(), 0u);
    EXPECT_NE(server_->HeldConnectionId(), deadId);
    server_->ActivateConnection();
    ASSERT_TRUE(next.SendAll(CommandFrame("again")));
    EXPECT_TRUE(WaitUntil([&] { return log_.Texts() == std::vector<std::string>{"again"}; }));
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 1);
}

// The held connection has not been activated yet (its accept is still on
// its way to the hub) when the next client arrives. A held client whose
// peer is already gone (closed, stopped writing, reset) does not keep the
// newcomer out: the newcomer waits until the hub, activating the held one,
// learns of its end and closes it. A live held client keeps the slot and the
// newcomer is closed once the grace has passed (the hub's watch).
TEST_F(CommandServerTest, ANewcomerWaitsBehindADeadPendingClientAndIsTurnedAwayByALiveOne) {
    enum class Held { kClosed, kStoppedWriting, kReset, kLive };
    const std::pair<Held, const char*> cases[] = {{Held::kClosed, "closed"},
                                                  {Held::kStoppedWriting, "stopped writing"},
                                                  {Held::kReset, "reset"},
                                                  {Held::kLive, "live"}};
    for (const auto& [held, name] : cases) {
        SCOPED_TRACE(name);
        const int acceptsBefore = log_.EventCount(kStreamEventCommandConnected);
        const int lostBefore = log_.EventCount(kStreamEventConnectionLost);
        zucam::phone::TcpStream first;
        ASSERT_TRUE(first.connect("127.0.0.1", server_->port(), milliseconds(1000))) << first.lastError();
        ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventCommandConnected) == acceptsBefore + 1; }));
        if (held == Held::kClosed) first.close();
        if (held == Held::kStoppedWriting) first.shutdownWrite();
        if (held == Held::kReset) first.resetClose();

        TestClient newcomer(server_->port());
        ASSERT_TRUE(newcomer.connected());
        ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventCommandConnected) == acceptsBefore + 2; }));
        if (held == Held::kLive) {
            server_->ActivateConnection();
            EXPECT_TRUE(newcomer.StaysSilent(milliseconds(50)));
            server_->ReviewWaitingClient(GetTimeNs() + SingleConnectionServer::kWaitingGraceNs);
            EXPECT_TRUE(newcomer.WaitForClose()) << "a live client lost its slot";
            ASSERT_TRUE(first.sendAll(CommandFrame("still mine"), milliseconds(1000)));
            EXPECT_TRUE(WaitUntil([&] { return !log_.Texts().empty() && log_.Texts().back() == "still mine"; }));
            server_->CloseConnection();
            continue;
        }
        EXPECT_TRUE(newcomer.StaysSilent(milliseconds(50))) << "the newcomer was turned away";
        // The hub's part: activation, the end reported, the close.
        server_->ActivateConnection();
        ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventConnectionLost) == lostBefore + 1; }));
        server_->CloseConnection();
        EXPECT_EQ(log_.EventCount(kStreamEventCommandConnected), acceptsBefore + 3);
        server_->ActivateConnection();
        ASSERT_TRUE(newcomer.SendAll(CommandFrame(name)));
        EXPECT_TRUE(WaitUntil([&] { return !log_.Texts().empty() && log_.Texts().back() == name; }));
        EXPECT_FALSE(newcomer.WaitForClose(milliseconds(50)));
        server_->CloseConnection();
        EXPECT_EQ(server_->HeldConnectionId(), 0u);
    }
}

// Behind a dead held client, a waiting client that is gone itself gives way
// to the next one; a live waiting client turns the next one away.
TEST_F(CommandServerTest, AGoneWaitingClientGivesWayAndALiveOneKeepsItsTurn) {
    auto dead = ConnectAndWaitForAccept();
    dead->Close();
    // Under load the kernel takes a close in a moment later: the case is
    // about a held connection already seen to have ended.
    ASSERT_TRUE(WaitUntil([&] { return server_->HeldConnectionHasEnded(); }));
    int accepts = log_.EventCount(kStreamEventCommandConnected);
    auto connectAndWaitForReport = [&] {
        auto client = std::make_unique<TestClient>(server_->port());
        EXPECT_TRUE(client->connected());
        EXPECT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventCommandConnected) == accepts + 1; }));
        accepts = log_.EventCount(kStreamEventCommandConnected);
        return client;
    };
    auto gone = connectAndWaitForReport();
    gone->Close();
    ASSERT_TRUE(WaitUntil([&] { return server_->WaitingClientHasGone(); }));
    auto waiting = connectAndWaitForReport();   // takes the gone one's place
    auto turnedAway = connectAndWaitForReport();  // behind a live waiting client
    EXPECT_TRUE(turnedAway->WaitForClose());
    // The held client is dead: the grace does not end the wait.
    server_->ReviewWaitingClient(GetTimeNs() + SingleConnectionServer::kWaitingGraceNs);
    EXPECT_TRUE(waiting->StaysSilent(milliseconds(50)));

    server_->ActivateConnection();
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventConnectionLost) == 1; }));
    server_->CloseConnection();
    server_->ActivateConnection();
    ASSERT_TRUE(waiting->SendAll(CommandFrame("the waiting one")));
    EXPECT_TRUE(WaitUntil([&] { return log_.Texts() == std::vector<std::string>{"the waiting one"}; }));
    EXPECT_EQ(log_.EventCount(kStreamEventConnectionLost), 1);
}

// The hub's watch reads the clock, then judges the held and the waiting
// client; a client accepted on the reactor thread in between started its
// watch after that reading. Such a time is before its deadlines, not (by
// unsigned wrap-around) far past them.
TEST_F(CommandServerTest, ATimeReadBeforeAClientCameIsNotPastItsDeadlines) {
    const uint64_t before = GetTimeNs();
    auto held = ConnectAndWaitForAccept();
    EXPECT_EQ(server_->OverdueReason(before), nullptr);
    EXPECT_STREQ(server_->OverdueReason(GetTimeNs() + CommandServer::kHelloTimeoutNs), "sent no hello in time");

    const uint64_t beforeWaiting = GetTimeNs();
    TestClient waiting(server_->port());
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventCommandConnected) == 2; }));
    server_->ReviewWaitingClient(beforeWaiting);
    EXPECT_TRUE(waiting.StaysSilent(milliseconds(50))) << "turned away by a time before it came";
}

TEST_F(CommandServerTest, BrokenFrameEndsTheConnectionAndNothingAfterItIsRead) {
    auto client = ConnectAndWaitForAccept();
    server_->ActivateConnection();
    // A length over the 4092-byte limit, followed by a frame that would be
    // valid on its own.
    const std::string tooLong("\x00\x00\x10\x00", 4);
    ASSERT_TRUE(client->SendAll(tooLong + CommandFrame("after")));
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventConnectionLost) == 1; }));
    ASSERT_TRUE(client->SendAll(CommandFrame("later")));
    Settle(milliseconds(100));
    EXPECT_TRUE(log_.Texts().empty());
}

TEST_F(CommandServerTest, NewConnectionStartsWithAnEmptyFrameBuffer) {
    auto client = ConnectAndWaitForAccept();
    server_->ActivateConnection();
    // Half a frame, then the client goes and a new one comes.
    ASSERT_TRUE(client->SendAll(CommandFrame("never finished").substr(0, 8)));
    Settle(milliseconds(50));
    client->Close();
    ASSERT_TRUE(WaitUntil([&] { return log_.EventCount(kStreamEventConnectionLost) == 1; }));
    server_->CloseConnection();

    auto next = ConnectAndWaitForAccept(1);
    server_->ActivateConnection();
    ASSERT_TRUE(next->SendAll(CommandFrame("fresh")));
    ASSERT_TRUE(WaitUntil([&] { return !log_.Texts().empty(); }));
    EXPECT_EQ(log_.Texts(), std::vector<std::string>{"fresh"});
}

TEST_F(CommandServerTest, ReplyQueuedRightBeforeCloseReachesThePeer) {
    // Queued on a connection the reactor does not poll yet, so only the
    // close itself can write it out: what happens to the answer of a
    // disconnect when the reactor has not got round to it.
    auto pending = ConnectAndWaitForAccept();
    const std::string reply = R"({"type":0,"data":null,"version":"1.0"})";
    ASSERT_TRUE(server_->SendCommand(reply));
    server_->CloseConnection();
    EXPECT_EQ(pending->ReadFrame(), reply);
    EXPECT_TRUE(pending->WaitForClose());

    // The same on an active connection, with several replies in a row.
    auto active = ConnectAndWaitForAccept(1);
    server_->ActivateConnection();
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(server_->SendCommand(reply + std::to_string(i)));
    server_->CloseConnection();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(active->ReadFrame(), reply + std::to_string(i));
    EXPECT_TRUE(active->WaitForClose());
}

// With no client there is nobody to drop: the reply is dropped alone.
TEST_F(CommandServerTest, SendWithoutConnectionDropsOnlyTheReply) {
    EXPECT_EQ(server_->Send("x", 1), -1);
    EXPECT_TRUE(server_->SendCommand("{}"));
    // Activating or closing with no connection is harmless.
    server_->ActivateConnection();
    server_->CloseConnection();
}

TEST_F(CommandServerTest, ListenOnATakenPortFailsAndKeepsNoPort) {
    HubLog otherLog;
    WatchedCommandServer other(&otherLog, hub_->reactor(), hub_.get());
    EXPECT_FALSE(other.Listen(server_->port()));
    EXPECT_EQ(other.port(), 0);
}

TEST_F(CommandServerTest, ListenAgainMovesTheServerToTheNewPort) {
    const uint16_t oldPort = server_->port();
    ASSERT_TRUE(server_->Listen(0));
    ASSERT_NE(server_->port(), oldPort);
    EXPECT_TRUE(PortIsFree(oldPort)) << "the old listener is gone";
    auto client = ConnectAndWaitForAccept();
    server_->ActivateConnection();
    ASSERT_TRUE(client->SendAll(CommandFrame("moved")));
    EXPECT_TRUE(WaitUntil([&] { return log_.Texts() == std::vector<std::string>{"moved"}; }));
}

// The reactor thread holds its lock while it calls OnAccept (which takes the
// server's lock); the hub's thread activates and closes connections. If the
// hub's side held the server's lock while calling into the reactor, the two
// would deadlock. Both sides run flat out for a second; a watchdog turns a
// hang into a failure with a message instead of a time-out.
TEST_F(CommandServerTest, ActivateAndCloseRacingWithAcceptsNeverDeadlock) {
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(doneMutex);
        if (!doneChanged.wait_for(lock, std::chrono::seconds(30), [&] { return done; })) {
            fprintf(stderr, "deadlock: activation/close racing with accepts did not finish\n");
            std::abort();
        }
    });

    std::atomic<bool> stop{false};
    std::atomic<int> clients{0};
    const uint16_t port = server_->port();
    auto connect = [&] {
        while (!stop.load()) {
            TestClient client(port, milliseconds(10));
            if (client.connected()) {
                client.SendAll(CommandFrame("x"));
                clients.fetch_add(1);
            }
        }
    };
    std::thread connectors[] = {std::thread(connect), std::thread(connect), std::thread(connect)};

    int rounds = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < end) {
        // Repeated activations spend most of the time where the hub's side
        // meets the reactor's lock.
        for (int i = 0; i < 10; ++i) server_->ActivateConnection();
        server_->SendCommand("{}");
        server_->CloseConnection();
        ++rounds;
    }
    stop.store(true);
    for (std::thread& connector : connectors) connector.join();
    {
        std::lock_guard<std::mutex> lock(doneMutex);
        done = true;
    }
    doneChanged.notify_all();
    watchdog.join();

    EXPECT_GT(rounds, 0);
    EXPECT_GT(clients.load(), 0);
    EXPECT_GT(log_.EventCount(kStreamEventCommandConnected), 0);
    // The server still works afterwards, once the last accepts are through.
    int accepts = -1;
    while (accepts != log_.EventCount(kStreamEventCommandConnected)) {
        accepts = log_.EventCount(kStreamEventCommandConnected);
        Settle(milliseconds(100));
    }
    // A client left waiting behind the held one takes the slot at the close:
    // close that one too.
    for (int i = 0; i < 2 && server_->HeldConnectionId() != 0; ++i) server_->CloseConnection();
    ASSERT_EQ(server_->HeldConnectionId(), 0u);
    auto client = ConnectAndWaitForAccept(log_.EventCount(kStreamEventCommandConnected));
    server_->ActivateConnection();
    const size_t before = log_.Texts().size();
    ASSERT_TRUE(client->SendAll(CommandFrame("alive")));
    EXPECT_TRUE(WaitUntil([&] { return log_.Texts().size() > before && log_.Texts().back() == "alive"; }));
}

}  // namespace
