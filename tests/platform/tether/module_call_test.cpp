// Module calls: the reply runs on the calling thread's event loop, after
// call() has returned, at most once, and never after its thread or its run of
// Tether has ended.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QSemaphore>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "running_tether.h"
#include "support/tether_environment.h"

namespace {

enum Command {
    kReplyInsideHandle = 1,
    kReplyFromWorker = 2,
    kKeepReply = 3,
    kReplyTwice = 4,
};

// Where the test finds a reply that a module kept for later.
struct KeptReply {
    std::mutex mutex;  // guards reply
    tq::ReplyFunction reply;

    void take(tq::ReplyFunction function) {
        const std::lock_guard<std::mutex> lock(mutex);
        reply = std::move(function);
    }
    void send(const tq::Value& value) {
        tq::ReplyFunction function;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            function = reply;
        }
        ASSERT_TRUE(function);
        function(value);
    }
};

class ProbeModule final : public tq::Module {
public:
    explicit ProbeModule(KeptReply* kept, std::atomic<int>* alive = nullptr) : kept_(kept), alive_(alive) {
        if (alive_ != nullptr) ++*alive_;
    }
    ~ProbeModule() override {
        for (std::thread& worker : workers_) worker.join();
        if (alive_ != nullptr) --*alive_;
    }

    tq::Value handle(int command, const tq::Value& param, tq::ReplyFunction reply) override {
        switch (command) {
        case kReplyInsideHandle: reply(param); break;
        case kReplyFromWorker: {
            const std::lock_guard<std::mutex> lock(workersMutex_);
            workers_.emplace_back([reply, param] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                reply(param);
            });
            break;
        }
        case kKeepReply: kept_->take(reply); break;
        case kReplyTwice:
            reply(tq::Value(1));
            reply(tq::Value(2));
            break;
        default: return tq::Value();
        }
        return tq::Value("handled");
    }

private:
    KeptReply* const kept_;
    std::atomic<int>* const alive_;
    std::mutex workersMutex_;  // guards workers_
    std::vector<std::thread> workers_;
};

// What reached the reply callback, and on which thread.
struct Received {
    int count = 0;
    tq::Value value;
    QThread* thread = nullptr;
};

class TqModuleCall : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tq::LoadModuleInstance("Probe", std::make_unique<ProbeModule>(&kept_)));
    }

    tq::Interface& tether() { return *zucam::test::runningTether(); }

    // Runs on the calling thread, like the program's own reply handlers.
    static tq::ReplyFunction recordInto(Received* received) {
        return [received](const tq::Value& value) {
            ++received->count;
            received->value = value;
            received->thread = QThread::currentThread();
        };
    }

    // Turns the main thread's event loop until done() or a generous deadline.
    static bool processEventsUntil(const std::function<bool()>& done) {
        QDeadlineTimer deadline(10000);
        while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return done();
    }

    static void processPendingEvents() {
        for (int turn = 0; turn < 5; ++turn) QCoreApplication::processEvents();
    }

    zucam::test::TetherEnvironment tether_;
    KeptReply kept_;
};

TEST_F(TqModuleCall, ReplyGivenInsideHandleRunsOnTheNextEventLoopTurn) {
    Received received;
    const tq::Value result = tether().call("Probe", kReplyInsideHandle, tq::Value("ping"), recordInto(&received));
    EXPECT_EQ(result.toStdString(), "handled");
    EXPECT_EQ(received.count, 0) << "the reply ran inside call()";

    QCoreApplication::processEvents();
    EXPECT_EQ(received.count, 1);
    EXPECT_EQ(received.value.toStdString(), "ping");
    EXPECT_EQ(received.thread, QThread::currentThread());
}

TEST_F(TqModuleCall, ReplyFromAWorkerThreadRunsOnTheCallingThread) {
    Received received;
    tether().call("Probe", kReplyFromWorker, tq::Value(17), recordInto(&received));
    EXPECT_EQ(received.count, 0);
    ASSERT_TRUE(processEventsUntil([&] { return received.count > 0; }));
    EXPECT_EQ(received.count, 1);
    EXPECT_EQ(received.value.toInt(), 17);
    EXPECT_EQ(received.thread, QThread::currentThread());
}

TEST_F(TqModuleCall, CallFromAThreadWithItsOwnEventLoopIsAnsweredOnThatThread) {
    for (const int command : {kReplyInsideHandle, kReplyFromWorker}) {
        SCOPED_TRACE(command);
        QThread caller;
        caller.start();
        QObject inCaller;
        inCaller.moveToThread(&caller);
        QSemaphore answered;
        QThread* replyThread = nullptr;
        bool repliedInsideCall = true;
        bool callReturned = false;  // both touched on the caller thread only
        QMetaObject::invokeMethod(&inCaller, [&] {
            tether().call("Probe", command, tq::Value(), [&](const tq::Value&) {
                replyThread = QThread::currentThread();
                repliedInsideCall = !callReturned;
                answered.release();
            });
            callReturned = true;
        });
        const bool gotReply = answered.tryAcquire(1, 10000);
        caller.quit();
        caller.wait();
        ASSERT_TRUE(gotReply);
        EXPECT_EQ(replyThread, &caller);
        EXPECT_FALSE(repliedInsideCall);
    }
}

TEST_F(TqModuleCall, ModuleRepliesAtMostOnce) {
    Received received;
    tether().call("Probe", kReplyTwice, tq::Value(), recordInto(&received));
    processPendingEvents();
    EXPECT_EQ(received.count, 1);
    EXPECT_EQ(received.value.toInt(), 1);
}

TEST_F(TqModuleCall, UnknownModuleGivesAnEmptyValueAndNoReply) {
    Received received;
    EXPECT_TRUE(tether().call("Absent", kReplyInsideHandle, tq::Value(1), recordInto(&received)).isNull());
    EXPECT_TRUE(tether().call(nullptr, kReplyInsideHandle, tq::Value(1), recordInto(&received)).isNull());
    processPendingEvents();
    EXPECT_EQ(received.count, 0);
}

TEST_F(TqModuleCall, ModuleMayReplyWhenTheCallerWantsNoCallback) {
    EXPECT_EQ(tether().call("Probe", kReplyInsideHandle, tq::Value(), tq::ReplyFunction()).toStdString(), "handled");
    tether().call("Probe", kKeepReply, tq::Value(), nullptr);
    kept_.send(tq::Value(3));
    processPendingEvents();
}

TEST_F(TqModuleCall, ReplyAfterTetherRestartedIsDropped) {
    Received received;
    tether().call("Probe", kKeepReply, tq::Value(), recordInto(&received));
    tether_.restart();
    kept_.send(tq::Value(5));
    processPendingEvents();
    EXPECT_EQ(received.count, 0);
}

TEST_F(TqModuleCall, ReplyQueuedBeforeTetherEndedIsDropped) {
    Received received;
    tether().call("Probe", kReplyInsideHandle, tq::Value(), recordInto(&received));
    tether_.restart();
    processPendingEvents();
    EXPECT_EQ(received.count, 0);
}

TEST_F(TqModuleCall, ReplyAfterTheCallingThreadEndedIsDropped) {
    // The reply is sent after the caller's thread and its reply context are
    // gone; nothing may touch them (AddressSanitizer watches).
    std::atomic<int> received{0};
    std::thread caller([&] {
        tether().call("Probe", kKeepReply, tq::Value(), [&](const tq::Value&) { ++received; });
    });
    caller.join();
    kept_.send(tq::Value(9));
    processPendingEvents();
    EXPECT_EQ(received.load(), 0);
}

TEST(TqModuleLoading, LoadModulesCountsTheListedModulesAndSkipsUnknownNames) {
    KeptReply kept;
    std::atomic<int> alive{0};
    std::atomic<int> made{0};
    tq::RegisterModuleLibrary("Trevane59_vs.dll", "Trevane", [&]() -> std::unique_ptr<tq::Module> {
        ++made;
        return std::make_unique<ProbeModule>(&kept, &alive);
    });
    const char* const names[] = {"Trevane59_vs.dll", "Missing42_vs.dll", nullptr};
    EXPECT_EQ(tq::LoadModules(names, 3, false), 0) << "loaded while Tether was not running";
    {
        zucam::test::TetherEnvironment tether;
        tq::Interface& table = *zucam::test::runningTether();
        EXPECT_TRUE(table.call("Trevane", kReplyInsideHandle, tq::Value(), nullptr).isNull());

        EXPECT_EQ(tq::LoadModules(names, 3, true), 1);
        EXPECT_EQ(tq::LoadModules(names, 3, false), 1);
        EXPECT_EQ(made.load(), 1) << "a loaded module was made again";
        EXPECT_EQ(alive.load(), 1);
        EXPECT_EQ(table.call("Trevane", kReplyInsideHandle, tq::Value(), nullptr).toStdString(), "handled");
        EXPECT_FALSE(tq::LoadModuleInstance("Trevane", std::make_unique<ProbeModule>(&kept, &alive)));
        EXPECT_EQ(alive.load(), 1) << "the refused instance is destroyed";
    }
    EXPECT_EQ(alive.load(), 0) << "modules outlived UninitTether";
}

}  // namespace
