// The updater beside the program: it waits for the given process (bounded,
// and not fooled by a process id taken by another program), starts the
// installer (a runnable file is run, a package goes to the desktop's opener)
// and starts the program again.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include "support/test_files.h"

namespace {

using zucam::test::readFile;
using zucam::test::writeFile;

class UpdaterTest : public testing::Test {
protected:
    void SetUp() override {
        programDir = root.path() + "/Program Files/Zu Cam";
        dataDir = root.path() + "/data dir/ZuCam";
        ASSERT_TRUE(QDir().mkpath(programDir) && QDir().mkpath(dataDir));
        program = programDir + "/zucam";
        ASSERT_TRUE(QFile::copy(PROGRAM_STANDIN, program));
        installer = dataDir + "/installer.exe";
        updater = dataDir + "/updater";
        ASSERT_TRUE(QFile::copy(UPDATER_TOOL, updater));
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ZUCAM_STANDIN_MARK", root.path() + "/restarted.txt");
    }
    void TearDown() override {
        for (QProcess* running : running_) {
            running->kill();
            running->waitForFinished(5000);
            delete running;
        }
    }
    // The program (a copy of the stand-in) running for ms.
    qint64 startProgram(int ms, const QString& executable = QString()) {
        auto* process = new QProcess;
        running_.push_back(process);
        process->start(executable.isEmpty() ? program : executable, {"sleep", QString::number(ms)});
        EXPECT_TRUE(process->waitForStarted(5000));
        return process->processId();
    }
    struct Run {
        int exitCode = -1;
        qint64 elapsedMs = 0;
        QString log;
    };
    Run runUpdater(const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(environment);
        QElapsedTimer clock;
        clock.start();
        process.start(updater, arguments);
        Run run;
        if (!process.waitForStarted(5000) || !process.waitForFinished(30000)) return run;
        run.elapsedMs = clock.elapsed();
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.log = QString::fromUtf8(readFile(dataDir + "/updater.log"));
        return run;
    }
    bool restarted() {
        return QTest::qWaitFor([&] { return readFile(root.path() + "/restarted.txt") == "started\n"; }, 10000);
    }
    // A runnable installer that notes in ran.txt whether the process pid had
    // ended (gone, or only waiting to be reaped) when it ran.
    void writeScriptInstaller(qint64 pid) {
        writeFile(installer, QString("#!/bin/sh\nstate=$(sed 's/.*) //' /proc/%1/stat 2>/dev/null | cut -c1)\n"
                                     "case \"$state\" in '' | Z) r=gone ;; *) r=running ;; esac\n"
                                     "printf '%s\\n' \"$r\" >> \"%2/ran.txt\"\n")
                                 .arg(pid)
                                 .arg(root.path())
                                 .toUtf8());
    }
    QByteArray installerRan() { return readFile(root.path() + "/ran.txt"); }

    QTemporaryDir root;
    QString programDir, dataDir, program, installer, updater;
    QProcessEnvironment environment;

private:
    std::vector<QProcess*> running_;
};

TEST_F(UpdaterTest, WaitsForTheProgramToEndThenRunsTheInstallerAndStartsTheProgramAgain) {
    const qint64 pid = startProgram(800);
    writeScriptInstaller(pid);  // not executable: the updater makes it so
    const Run run = runUpdater({QString::number(pid), installer, program});
    EXPECT_EQ(run.exitCode, 0) << run.log.toStdString();
    EXPECT_GE(run.elapsedMs, 500);
    EXPECT_EQ(installerRan(), "gone\n");
    EXPECT_TRUE(restarted());
}

TEST_F(UpdaterTest, AProgramThatDoesNotEndInTimeGetsNothingInstalled) {
    const qint64 pid = startProgram(60000);
    writeScriptInstaller(pid);
    environment.insert("ZUCAM_UPDATER_WAIT_S", "1");
    const Run run = runUpdater({QString::number(pid), installer, program});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_LT(run.elapsedMs, 5000);
    EXPECT_TRUE(run.log.contains("still runs")) << run.log.toStdString();
    EXPECT_TRUE(installerRan().isEmpty());
}

TEST_F(UpdaterTest, AProcessIdNowHeldByAnotherProgramCountsAsEnded) {
    // The id stands for the program, but another executable runs under it.
    const QString other = root.path() + "/other";
    ASSERT_TRUE(QFile::copy(PROGRAM_STANDIN, other));
    const qint64 pid = startProgram(60000, other);
    writeScriptInstaller(pid);
    const Run run = runUpdater({QString::number(pid), installer, program});
    EXPECT_EQ(run.exitCode, 0) << run.log.toStdString();
    EXPECT_LT(run.elapsedMs, 5000);
    EXPECT_EQ(installerRan(), "running\n");
    EXPECT_TRUE(restarted());
}

TEST_F(UpdaterTest, APackageGoesToTheDesktopsOpener) {
    const QString bin = root.path() + "/bin";
    ASSERT_TRUE(QDir().mkpath(bin));
    writeFile(bin + "/xdg-open", QString("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"%1/opened.txt\"\n").arg(root.path()).toUtf8(),
              true);
    environment.insert("PATH", bin + ":" + environment.value("PATH"));
    writeFile(installer, "!<arch>\ndebian-binary   ");
    const Run run = runUpdater({"999999999", installer, program});  // a process long gone
    EXPECT_EQ(run.exitCode, 0) << run.log.toStdString();
    EXPECT_EQ(readFile(root.path() + "/opened.txt"), (installer + "\n").toUtf8());
    EXPECT_TRUE(restarted());
}

TEST_F(UpdaterTest, BadArgumentsAndMissingFilesEndWithTheirExitCodes) {
    writeScriptInstaller(1);
    const struct {
        QStringList arguments;
        int exitCode;
    } cases[] = {
        {{}, 2},
        {{"999999999", installer}, 2},
        {{"12x", installer, program}, 2},
        {{"999999999", installer, program, "extra"}, 2},
        {{"999999999", dataDir + "/no installer", program}, 4},
        {{"999999999", installer, programDir + "/no program"}, 5},
    };
    for (const auto& c : cases) {
        const Run run = runUpdater(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments.join('|').toStdString();
    }
    EXPECT_TRUE(readFile(root.path() + "/restarted.txt").isEmpty());
}

}  // namespace
