#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <unistd.h>

#include "adb/adb_program.h"
#include "processes/process_list.h"
#include "stream/server/server_test_util.h"

namespace zucam::test {
namespace {

const QString kRealAdb = QFileInfo("/usr/bin/adb").canonicalFilePath();

// The data folder of this test process, in a temporary folder of its own.
class AdbProgramTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        savedDataHome_ = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", (home_.path() + "/data").toLocal8Bit());
        QCoreApplication::setApplicationName(QString("zucam-adb-program-test-%1").arg(getpid()));
    }
    void TearDown() override {
        for (QProcess* process : started_) {
            process->kill();
            process->waitForFinished(3000);
            delete process;
        }
        qputenv("XDG_DATA_HOME", savedDataHome_);
    }

    // A process of this test; killed at the end whatever happens.
    QProcess* Start(const QString& program, const QStringList& arguments) {
        auto* process = new QProcess;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // adb keeps its keys under HOME; two servers creating them in one
        // folder at once race, and the loser aborts.
        const QString home = home_.path() + QString("/home%1").arg(started_.size());
        QDir().mkpath(home);
        environment.insert("HOME", home);
        process->setProcessEnvironment(environment);
        process->start(program, arguments);
        started_.push_back(process);
        return process;
    }

    // Whether some process of this user runs the given program file.
    static std::vector<pid_t> Running(const QString& program) {
        std::vector<pid_t> pids;
        for (const auto& entry : processes::ListProcesses()) {
            if (entry.uid == getuid() && entry.executable == program.toStdString()) pids.push_back(entry.pid);
        }
        return pids;
    }

    static bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
        QElapsedTimer clock;
        clock.start();
        while (!condition()) {
            if (clock.elapsed() > timeoutMs) return false;
            QThread::msleep(10);
        }
        return true;
    }

    QTemporaryDir home_;
    QByteArray savedDataHome_;
    std::vector<QProcess*> started_;
};

TEST_F(AdbProgramTest, TheOwnCopyComesFromPathAndIsRenewedWhenItsSourceChanges) {
    ASSERT_FALSE(kRealAdb.isEmpty()) << "Debian's adb is not installed";
    EXPECT_EQ(QFileInfo(LocateAdbSource()).canonicalFilePath(), kRealAdb);
    const QString own = PrepareOwnAdbProgram();
    EXPECT_EQ(own, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/adb");
    QFileInfo copy(own);
    ASSERT_TRUE(copy.isFile());
    EXPECT_TRUE(copy.isExecutable());
    EXPECT_EQ(copy.size(), QFileInfo(kRealAdb).size());

    // Left as it is while it matches.
    const QDateTime copied = copy.lastModified();
    QThread::msleep(20);
    PrepareOwnAdbProgram();
    copy.refresh();
    EXPECT_EQ(copy.lastModified(), copied);

    // A stale copy (another size) is replaced.
    {
        QFile stale(own);
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.write("#!/bin/sh\nexit 0\n");
    }
    PrepareOwnAdbProgram();
    copy.refresh();
    EXPECT_EQ(copy.size(), QFileInfo(kRealAdb).size());
}

TEST_F(AdbProgramTest, OnlyProcessesOfTheOwnCopyAreEnded) {
    const QString own = PrepareOwnAdbProgram();
    const uint16_t ports = servertest::FindFreePortRange(2);
    ASSERT_NE(ports, 0);
    // Two adb servers in the foreground: one of our copy, one of the
    // system's adb (another program's).
    QProcess* ours = Start(own, {"-P", QString::number(ports), "nodaemon", "server"});
    QProcess* theirs = Start(kRealAdb, {"-P", QString::number(ports + 1), "nodaemon", "server"});
    ASSERT_TRUE(ours->waitForStarted(3000));
    ASSERT_TRUE(theirs->waitForStarted(3000));
    const QString ownCanonical = QFileInfo(own).canonicalFilePath();
    ASSERT_TRUE(WaitFor([&] { return !Running(ownCanonical).empty() && !Running(kRealAdb).empty(); }));

    EXPECT_EQ(TerminateOwnAdbProcesses(own), 1);
    EXPECT_TRUE(ours->waitForFinished(3000));
    EXPECT_EQ(theirs->state(), QProcess::Running);
    EXPECT_TRUE(Running(ownCanonical).empty());
}

TEST_F(AdbProgramTest, TheServerOurCopyStartedIsEndedToo) {
    const QString own = PrepareOwnAdbProgram();
    const uint16_t port = servertest::FindFreePortRange(1);
    ASSERT_NE(port, 0);
    // "start-server" leaves a daemon behind that is no child of ours.
    QProcess* client = Start(own, {"-P", QString::number(port), "start-server"});
    ASSERT_TRUE(client->waitForFinished(15000));
    const QString ownCanonical = QFileInfo(own).canonicalFilePath();
    ASSERT_TRUE(WaitFor([&] { return !Running(ownCanonical).empty(); })) << "no adb server was left running";

    EXPECT_GE(TerminateOwnAdbProcesses(own), 1);
    EXPECT_TRUE(WaitFor([&] { return Running(ownCanonical).empty(); }));
}

TEST_F(AdbProgramTest, AScriptCopyIsToldApartFromTheSameScriptElsewhere) {
    // Waits on its standard input without starting children: a shell's
    // child between fork and exec runs the same script and would be
    // counted too.
    const QByteArray script = "#!/bin/sh\nread line\n";
    const QString own = home_.path() + "/own/adb";
    const QString other = home_.path() + "/other/adb";
    for (const QString& path : {own, other}) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(script);
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QProcess* ours = Start(own, {"devices", "-l"});
    QProcess* theirs = Start(other, {"devices", "-l"});
    ASSERT_TRUE(ours->waitForStarted(3000));
    ASSERT_TRUE(theirs->waitForStarted(3000));

    EXPECT_EQ(TerminateOwnAdbProcesses(own), 1);
    EXPECT_TRUE(ours->waitForFinished(3000));
    EXPECT_EQ(theirs->state(), QProcess::Running);
    // Nothing of ours is left, so nothing more is ended.
    EXPECT_EQ(TerminateOwnAdbProcesses(own), 0);
}

}  // namespace
}  // namespace zucam::test
