// The real program, started as a user would (offscreen Qt, its own settings
// folders, inside the test's network namespace): start-up shows the window,
// a second start raises the first and leaves at once, SIGTERM shuts down in
// order and saves the settings.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

namespace {

QProcessEnvironment ProgramEnvironment(const QTemporaryDir& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/config");
    env.insert("XDG_DATA_HOME", home.path() + "/data");
    env.insert("XDG_RUNTIME_DIR", home.path());  // no microphone FIFO there
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_FONT_DPI", "96");
    // In the sanitizer build the program itself carries no suppressions for
    // the leaks of Qt's platform plugin and fontconfig: leak checks of our
    // own code are the unit tests' business, here only the exit codes count.
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    return env;
}

// Reads the process's merged output until it holds text or the deadline passes.
bool WaitForOutput(QProcess& process, QByteArray& seen, const QByteArray& text, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!seen.contains(text) && timer.elapsed() < ms) {
        process.waitForReadyRead(100);
        seen += process.readAll();
        if (process.state() == QProcess::NotRunning) {
            seen += process.readAll();
            break;
        }
    }
    return seen.contains(text);
}

TEST(Program, StartsRaisesOnASecondStartAndShutsDownInOrder) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcess first;
    first.setProcessEnvironment(ProgramEnvironment(home));
    first.setProcessChannelMode(QProcess::MergedChannels);
    first.start(QString(ZUCAM_PROGRAM), QStringList());
    ASSERT_TRUE(first.waitForStarted(5000));
    QByteArray firstOutput;
    ASSERT_TRUE(WaitForOutput(first, firstOutput, "loaded modules count=1", 15000)) << firstOutput.constData();

    QProcess second;
    second.setProcessEnvironment(ProgramEnvironment(home));
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(QString(ZUCAM_PROGRAM), QStringList());
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(WaitForOutput(first, firstOutput, "\"show\"", 5000)) << firstOutput.constData();

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0) << (firstOutput + first.readAll()).constData();
    QFile config(home.path() + "/config/ZuCam/config.json");
    ASSERT_TRUE(config.open(QIODevice::ReadOnly)) << config.fileName().toStdString();
    EXPECT_TRUE(config.readAll().contains("cfg_device_name"));
}

}  // namespace
