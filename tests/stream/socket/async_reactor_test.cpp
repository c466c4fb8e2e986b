// AsyncReactor: registration, removal from any thread and from callbacks,
// the per-set limit, idle waiting and stopping. Probe objects over AF_UNIX
// socketpairs record every callback.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <thread>
#include <memory>
#include <vector>
#include <ostream>

#include "socket/async_conneciton.h"
#include "socket/async_reactor.h"
#include "socket_test_util.h"

namespace sockettest {
namespace {

constexpr int kReadWrite = kAsyncEventRead | kAsyncEventWrite;

// A socketpair whose end `a` is readable (one byte pending, never consumed
// unless the probe consumes) and, like every socketpair end, writable.
UnixPair MakeReadyPair() {
    UnixPair pair = MakeUnixPair();
    if (pair.b.get() != -1) send(pair.b.get(), "!", 1, MSG_NOSIGNAL);
    return pair;
}

TEST(AsyncReactor, AddingTwiceKeepsOneEntry) {
    UnixPair pair = MakeUnixPair();
    ASSERT_NE(pair.a.get(), -1);
    ProbeLog log;
    ProbeObject probe(pair.a.get(), kAsyncEventRead, &log);
    probe.SetConsume(true);
    AsyncReactor reactor;
    reactor.Add(&probe);
    reactor.Add(&probe);

    ASSERT_TRUE(WriteAll(pair.b.get(), "x"));
    ASSERT_TRUE(WaitUntil([&] { return log.reads.load() > 0; }, milliseconds(5000)));
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(log.reads.load(), 1);  // a second entry would be dispatched in the same round

    // One Remove takes it out for good.
    reactor.Remove(&probe);
    ASSERT_TRUE(WriteAll(pair.b.get(), "y"));
    std::this_thread::sleep_for(milliseconds(150));
    EXPECT_EQ(log.reads.load(), 1);
}

struct CallbackRemovalCase {
    const char* name;
    bool removeSelf;  // else the callback removes the object after it in the list
    bool deleteAfterRemove;
};

void PrintTo(const CallbackRemovalCase& removalCase, std::ostream* out) { *out << removalCase.name; }

class AsyncReactorCallbackRemoval : public ::testing::TestWithParam<CallbackRemovalCase> {};

// Both probes are readable and writable in every round, so a removal inside a
// callback always has a callback of the removed object still ahead in the
// same round: the self-removing probe's OnWritable, or the victim's turn.
TEST_P(AsyncReactorCallbackRemoval, RemovedObjectGetsNoFurtherCallback) {
    const CallbackRemovalCase& removalCase = GetParam();
    UnixPair firstPair = MakeReadyPair();
    UnixPair secondPair = MakeReadyPair();
    ASSERT_NE(firstPair.a.get(), -1);
    ASSERT_NE(secondPair.a.get(), -1);
    ProbeLog firstLog;
    ProbeLog secondLog;
    auto* first = new ProbeObject(firstPair.a.get(), kReadWrite, &firstLog);
    auto* second = new ProbeObject(secondPair.a.get(), kReadWrite, &secondLog);
    ProbeLog& removedLog = removalCase.removeSelf ? firstLog : secondLog;
    ProbeObject* const survivor = removalCase.removeSelf ? second : first;
    ProbeLog& survivorLog = removalCase.removeSelf ? secondLog : firstLog;

    AsyncReactor reactor;
    reactor.Add(first);
    reactor.Add(second);
    ASSERT_TRUE(WaitUntil([&] { return firstLog.reads.load() > 0 && secondLog.reads.load() > 0; },
                          milliseconds(5000)));
    if (removalCase.removeSelf) {
        first->ArmSelfRemoval(&reactor, removalCase.deleteAfterRemove);
    } else {
        first->ArmVictimRemoval(&reactor, second, &secondLog, removalCase.deleteAfterRemove);
    }
    ASSERT_TRUE(WaitUntil([&] { return removedLog.removed.load(); }, milliseconds(5000)));
    const int survivorCalls = survivorLog.reads.load();
    std::this_thread::sleep_for(milliseconds(50));

    EXPECT_EQ(removedLog.callsAfterRemoval.load(), 0);
    EXPECT_GT(survivorLog.reads.load(), survivorCalls);  // the reactor went on with the rest
    reactor.Remove(survivor);
    delete survivor;
    if (!removalCase.deleteAfterRemove) delete (removalCase.removeSelf ? first : second);
}

INSTANTIATE_TEST_SUITE_P(Removal, AsyncReactorCallbackRemoval,
                         ::testing::Values(CallbackRemovalCase{"self", true, false},
                                           CallbackRemovalCase{"self_then_delete", true, true},
                                           CallbackRemovalCase{"other", false, false},
                                           CallbackRemovalCase{"other_then_delete", false, true}),
                         [](const ::testing::TestParamInfo<CallbackRemovalCase>& param) {
                             return std::string(param.param.name);
                         });

// Objects come and go on two threads while the reactor calls them without
// pause; each is deleted right after Remove returns (ASan reports a late call).
TEST(AsyncReactor, RemoveFromOtherThreadsWhileCallbacksRun) {
    AsyncReactor reactor;
    UnixPair backgroundPair = MakeReadyPair();
    ProbeLog backgroundLog;
    ProbeObject background(backgroundPair.a.get(), kReadWrite, &backgroundLog);
    reactor.Add(&background);

    constexpr int kThreads = 2;
    std::deque<ProbeLog> logs[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&reactor, &logs, t] {
            UnixPair pair = MakeReadyPair();
            const auto end = Clock::now() + milliseconds(500);
            for (int i = 0; Clock::now() < end; ++i) {
                ProbeLog& log = logs[t].emplace_back();
                auto* probe = new ProbeObject(pair.a.get(), kReadWrite, &log);
                reactor.Add(probe);
                // Alternate: remove before the first round, or once it is called.
                if (i % 2 == 1) WaitUntil([&] { return log.reads.load() + log.writes.load() > 0; }, milliseconds(100));
                reactor.Remove(probe);
                log.removed.store(true);
                delete probe;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    reactor.Remove(&background);

    int objects = 0;
    int called = 0;
    for (const std::deque<ProbeLog>& threadLogs : logs) {
        for (const ProbeLog& log : threadLogs) {
            ++objects;
            if (log.reads.load() + log.writes.load() > 0) ++called;
            EXPECT_EQ(log.callsAfterRemoval.load(), 0);
        }
    }
    EXPECT_GT(objects, 20);
    EXPECT_GT(called, 10);  // the removals did race with callbacks
}

// A sender streaming flat out keeps the reactor thread reading and taking
// its lock back at once; a thread waiting in Remove (the hub closing a
// connection while the phone streams) must still get in promptly.
TEST(AsyncReactor, RemoveIsNotStarvedByAStreamingPeer) {
    AsyncReactor reactor;
    constexpr int kStreams = 4;
    std::vector<std::unique_ptr<AsyncConneciton>> streams;
    std::vector<Fd> peers;
    for (int i = 0; i < kStreams; ++i) {
        TcpPair pair = MakeTcpPair();
        ASSERT_TRUE(pair.local);
        peers.push_back(std::move(pair.peer));
        streams.push_back(std::make_unique<AsyncConneciton>(std::move(pair.local), nullptr, 256 * 1024));
        streams.back()->SetEvents(kAsyncEventRead);
        reactor.Add(streams.back().get());
    }
    std::atomic<bool> sending{true};
    std::vector<std::thread> senders;
    for (Fd& peer : peers) {
        senders.emplace_back([&sending, fd = peer.get()] {
            const std::string chunk = Pattern(256 * 1024, 7);
            while (sending.load()) send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        });
    }

    UnixPair pair = MakeReadyPair();
    milliseconds slowest{0};
    const auto end = Clock::now() + milliseconds(1000);
    while (Clock::now() < end) {
        ProbeLog log;
        ProbeObject probe(pair.a.get(), kReadWrite, &log);
        reactor.Add(&probe);
        const auto start = Clock::now();
        reactor.Remove(&probe);
        slowest = std::max(slowest, std::chrono::duration_cast<milliseconds>(Clock::now() - start));
    }
    sending.store(false);
    for (const auto& stream : streams) reactor.Remove(stream.get());
    for (Fd& peer : peers) shutdown(peer.get(), SHUT_RDWR);
    for (std::thread& sender : senders) sender.join();
    // A fair hand-over takes microseconds; the margin covers loaded CI hosts.
    EXPECT_LT(slowest.count(), 250) << "Remove waited behind the reactor's passes";
}

// 64 readers before it in the list hold every read slot of a round.
TEST(AsyncReactor, ServesAtMost64ReadersAnd64WritersPerRound) {
    constexpr int kReaders = AsyncReactor::kMaxObjectsPerSet + 1;
    std::vector<UnixPair> pairs;
    std::deque<ProbeLog> logs;
    std::vector<std::unique_ptr<ProbeObject>> readers;
    for (int i = 0; i < kReaders; ++i) {
        pairs.push_back(MakeReadyPair());
        ASSERT_NE(pairs.back().a.get(), -1);
        readers.push_back(std::make_unique<ProbeObject>(pairs.back().a.get(), kAsyncEventRead, &logs.emplace_back()));
    }
    // After all readers: a writer, which counts against the write set only.
    UnixPair writerPair = MakeUnixPair();
    ProbeLog writerLog;
    ProbeObject writer(writerPair.a.get(), kAsyncEventWrite, &writerLog);

    AsyncReactor reactor;
    for (const auto& reader : readers) reactor.Add(reader.get());
    reactor.Add(&writer);
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (int i = 0; i < kReaders - 1; ++i) {
                if (logs[static_cast<size_t>(i)].reads.load() == 0) return false;
            }
            return writerLog.writes.load() > 0;
        },
        milliseconds(5000)));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(logs.back().reads.load(), 0);
    EXPECT_EQ(writerLog.reads.load(), 0);

    // A free slot goes to the next reader in line.
    reactor.Remove(readers.front().get());
    EXPECT_TRUE(WaitUntil([&] { return logs.back().reads.load() > 0; }, milliseconds(5000)));
    for (const auto& reader : readers) reactor.Remove(reader.get());
    reactor.Remove(&writer);
}

struct IdleCase {
    const char* name;
    bool validFd;
    int events;
};

void PrintTo(const IdleCase& idleCase, std::ostream* out) { *out << idleCase.name; }

class AsyncReactorIdle : public ::testing::TestWithParam<IdleCase> {};

// Registered objects that want nothing leave nothing to poll but the round
// must still wait instead of spinning. Each round asks every object once.
TEST_P(AsyncReactorIdle, RoundsWaitWhenNothingIsWanted) {
    UnixPair pair = MakeReadyPair();
    ProbeLog log;
    ProbeObject probe(GetParam().validFd ? pair.a.get() : -1, GetParam().events, &log);
    AsyncReactor reactor;
    reactor.Add(&probe);
    std::this_thread::sleep_for(milliseconds(300));
    reactor.Remove(&probe);
    EXPECT_LT(log.getEventsCalls.load(), 30);  // ~4 rounds at 100 ms; a spin makes thousands
    EXPECT_EQ(log.reads.load() + log.writes.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(NothingWanted, AsyncReactorIdle,
                         ::testing::Values(IdleCase{"no_events", true, 0}, IdleCase{"given_up", true, -1},
                                           IdleCase{"no_descriptor", false, kReadWrite}),
                         [](const ::testing::TestParamInfo<IdleCase>& param) { return std::string(param.param.name); });

struct StopCase {
    const char* name;
    bool withObjects;
    double limitMs;
};

void PrintTo(const StopCase& stopCase, std::ostream* out) { *out << stopCase.name; }

class AsyncReactorStop : public ::testing::TestWithParam<StopCase> {};

TEST_P(AsyncReactorStop, DestructorReturnsPromptly) {
    UnixPair pair = MakeUnixPair();
    ProbeLog log;
    ProbeObject quiet(pair.a.get(), kAsyncEventRead, &log);  // polled, never ready
    auto reactor = std::make_unique<AsyncReactor>();
    if (GetParam().withObjects) reactor->Add(&quiet);
    std::this_thread::sleep_for(milliseconds(30));  // the thread is in its wait now
    const auto start = Clock::now();
    reactor.reset();
    const double elapsedMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_LT(elapsedMs, GetParam().limitMs);
}

INSTANTIATE_TEST_SUITE_P(Lists, AsyncReactorStop,
                         ::testing::Values(StopCase{"empty", false, 60.0}, StopCase{"with_objects", true, 300.0}),
                         [](const ::testing::TestParamInfo<StopCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace sockettest
