#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <signal.h>

#include <memory>
#include <vector>

#include "adb/adb_process.h"
#include "adb/adb_process_impl.h"
#include "support/fake_adb/fake_adb.h"

namespace zucam::test {
namespace {

using qsc::AdbProcess;

// Results of one wrapper, in order.
class ResultLog {
public:
    explicit ResultLog(AdbProcess* process) {
        QObject::connect(process, &AdbProcess::adbProcessResult, process,
                         [this](AdbProcess::ADB_EXEC_RESULT result) { results.push_back(result); });
    }
    bool hasFinal() const {
        for (int result : results) {
            if (result != AdbProcess::AER_SUCCESS_START) return true;
        }
        return false;
    }
    // Runs the event loop until a final result came (or the time is up).
    bool waitFinal(int timeoutMs = 8000) {
        QElapsedTimer clock;
        clock.start();
        while (!hasFinal() && clock.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(2);
        }
        return hasFinal();
    }
    void settle(int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    std::vector<int> results;
};

bool ProcessAlive(qint64 pid) {
    // A reaped process is gone; a zombie has no program any more.
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    return !status.readAll().contains("State:\tZ");
}

class AdbProcessTest : public testing::Test {
protected:
    void SetUp() override { AdbProcess::setAdbPath(FakeAdb::ScriptPath()); }
    void TearDown() override { AdbProcess::setAdbPath(QString()); }

    FakeAdb adb_;
};

TEST_F(AdbProcessTest, ArgumentsAreExactlyTheRequest) {
    struct Case {
        const char* what;
        std::function<void(AdbProcess&)> run;
        QStringList arguments;
    };
    const std::vector<Case> cases = {
        {"devices without serial", [](AdbProcess& p) { p.execute("", {"devices", "-l"}); }, {"devices", "-l"}},
        {"reverse", [](AdbProcess& p) { p.reverse("ABC", 10080, 11080); },
         {"-s", "ABC", "reverse", "tcp:10080", "tcp:11080"}},
        {"reverse high port", [](AdbProcess& p) { p.reverse("R58M12345", 65535, 1); },
         {"-s", "R58M12345", "reverse", "tcp:65535", "tcp:1"}},
        {"remove all", [](AdbProcess& p) { p.reverseRemoveAll("X"); }, {"-s", "X", "reverse", "--remove-all"}},
        {"forward", [](AdbProcess& p) { p.forward("X", 27183, "scrcpy"); },
         {"-s", "X", "forward", "tcp:27183", "localabstract:scrcpy"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t before = adb_.calls().size();
        AdbProcess process;
        ResultLog log(&process);
        c.run(process);
        ASSERT_TRUE(log.waitFinal());
        EXPECT_EQ(log.results, (std::vector<int>{AdbProcess::AER_SUCCESS_START, AdbProcess::AER_SUCCESS_EXEC}));
        const auto calls = adb_.calls();
        ASSERT_EQ(calls.size(), before + 1);
        EXPECT_EQ(calls.back().arguments, c.arguments);
    }
}

TEST_F(AdbProcessTest, EveryEndingGivesExactlyOneFinalResult) {
    struct Case {
        const char* what;
        QByteArray script;  // for the "devices" command
        int expected;
    };
    const std::vector<Case> cases = {
        {"exit 0", "", AdbProcess::AER_SUCCESS_EXEC},
        {"exit 1", "echo 'error: no devices/emulators found' >&2; exit 1", AdbProcess::AER_ERROR_EXEC},
        {"crash", "kill -SEGV $$", AdbProcess::AER_ERROR_EXEC},
        {"killed", "kill -KILL $$", AdbProcess::AER_ERROR_EXEC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        adb_.setScript("devices", c.script);
        AdbProcess process;
        ResultLog log(&process);
        process.execute("", {"devices", "-l"});
        ASSERT_TRUE(log.waitFinal());
        log.settle(100);
        EXPECT_EQ(log.results, (std::vector<int>{AdbProcess::AER_SUCCESS_START, c.expected}));
    }
}

TEST_F(AdbProcessTest, MissingProgramIsReportedWithoutCriticalLog) {
    static int criticals = 0;
    criticals = 0;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
        if (type == QtCriticalMsg) ++criticals;
    });
    for (const QString& path : {QString("/nonexistent/adb"), QString()}) {
        SCOPED_TRACE(path.toStdString());
        // Nothing on PATH either.
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        AdbProcess::setAdbPath(path);
        AdbProcess process;
        ResultLog log(&process);
        process.execute("", {"devices", "-l"});
        ASSERT_TRUE(log.waitFinal());
        qputenv("PATH", savedPath);
        EXPECT_EQ(log.results, std::vector<int>{AdbProcess::AER_ERROR_MISSING_BINARY});
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(criticals, 0);
}

TEST_F(AdbProcessTest, OutputSplitAcrossChunksIsDecodedWhole) {
    // Line breaks and a two-byte character ("ü" is C3 BC) fall on the edges
    // of what the program writes at a time.
    adb_.setScript("devices",
                   "printf 'List of devices attached\\nR58M'; sleep 0.1\n"
                   "printf '12345 device Z\\303'; sleep 0.1\n"
                   "printf '\\274rich\\n'; sleep 0.1\n"
                   "printf 'emulator-5554 device\\n'; sleep 0.1\n"
                   "printf '\\n'\n");
    AdbProcess process;
    ResultLog log(&process);
    process.execute("", {"devices", "-l"});
    ASSERT_TRUE(log.waitFinal());
    EXPECT_EQ(log.results.back(), AdbProcess::AER_SUCCESS_EXEC);
    EXPECT_EQ(process.getStdOut(),
              QString::fromUtf8("List of devices attached\nR58M12345 device Zürich\nemulator-5554 device"));
}

TEST_F(AdbProcessTest, StandardErrorIsKeptApart) {
    adb_.setScript("reverse", "echo 'error: device unauthorized.' >&2; echo 'half' >&2; exit 1");
    AdbProcess process;
    ResultLog log(&process);
    process.reverse("R58M12345", 10080, 11080);
    ASSERT_TRUE(log.waitFinal());
    EXPECT_EQ(log.results.back(), AdbProcess::AER_ERROR_EXEC);
    EXPECT_EQ(process.getErrorOut(), "error: device unauthorized.\nhalf");
    EXPECT_EQ(process.getStdOut(), "");
}

TEST_F(AdbProcessTest, HungAdbEndsAtItsDeadline) {
    adb_.setScript("devices", "exec sleep 30\n");
    AdbProcess process;
    process.setTimeout(300);
    ResultLog log(&process);
    QElapsedTimer clock;
    clock.start();
    process.execute("", {"devices", "-l"});
    ASSERT_TRUE(log.waitFinal(5000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_EQ(log.results.back(), AdbProcess::AER_ERROR_EXEC);
    const auto calls = adb_.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_FALSE(ProcessAlive(calls[0].pid));
}

TEST_F(AdbProcessTest, FloodingAdbIsCutOffAtTheBound) {
    // An endless stream of lines: it must be ended, not collected.
    adb_.setScript("devices", "while :; do echo 'R58M12345 device usb:1-1 product:x model:y device:z'; done\n");
    AdbProcess process;
    process.setTimeout(20000);
    ResultLog log(&process);
    QElapsedTimer clock;
    clock.start();
    process.execute("", {"devices", "-l"});
    ASSERT_TRUE(log.waitFinal(15000));
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_EQ(log.results.back(), AdbProcess::AER_ERROR_EXEC);
    EXPECT_LE(process.getStdOut().toUtf8().size(), AdbProcessImpl::kMaxOutputBytes);
    EXPECT_GT(process.getStdOut().size(), 0);
    EXPECT_FALSE(ProcessAlive(adb_.calls().at(0).pid));
}

TEST_F(AdbProcessTest, ADestroyedWrapperEndsItsRunAndReportsNothing) {
    adb_.setScript("devices", "exec sleep 30\n");
    std::vector<int> results;
    {
        AdbProcess process;
        QObject::connect(&process, &AdbProcess::adbProcessResult, [&](AdbProcess::ADB_EXEC_RESULT r) {
            results.push_back(r);
        });
        process.execute("", {"devices", "-l"});
        QElapsedTimer clock;
        clock.start();
        // Until the stand-in runs (it logs first, then sleeps).
        while ((results.empty() || adb_.calls().empty()) && clock.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        ASSERT_EQ(results, std::vector<int>{AdbProcess::AER_SUCCESS_START});
        ASSERT_EQ(adb_.calls().size(), 1u);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QElapsedTimer clock;
    clock.start();
    const qint64 pid = adb_.calls().at(0).pid;
    while (ProcessAlive(pid) && clock.elapsed() < 3000) QThread::msleep(10);
    EXPECT_FALSE(ProcessAlive(pid));
    EXPECT_EQ(results, std::vector<int>{AdbProcess::AER_SUCCESS_START});
}

TEST_F(AdbProcessTest, TheRealAdbRunsThroughTheWrapper) {
    for (const QString& path : {QString("/usr/bin/adb"), QString()}) {  // given, and found on PATH
        SCOPED_TRACE(path.toStdString());
        AdbProcess::setAdbPath(path);
        AdbProcess process;
        ResultLog log(&process);
        process.execute("", {"version"});
        ASSERT_TRUE(log.waitFinal());
        EXPECT_EQ(log.results.back(), AdbProcess::AER_SUCCESS_EXEC);
        EXPECT_TRUE(process.getStdOut().startsWith("Android Debug Bridge version")) << process.getStdOut().toStdString();
    }
}

}  // namespace
}  // namespace zucam::test
