// The real program, started as a user would (offscreen Qt, its own settings
// folders, inside the test's network namespace): start-up shows the window,
// a second start raises the first and leaves at once, SIGTERM shuts down in
// order and saves the settings; "--uninstall" runs the stand-in driver tools
// beside a copy of the program and nothing else.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include "support/fake_driver_tools/fake_driver_tools.h"

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

// Starts the program with its settings under home, merged output.
void StartProgram(QProcess& program, const QTemporaryDir& home) {
    program.setProcessEnvironment(ProgramEnvironment(home));
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QString(ZUCAM_PROGRAM), QStringList());
}

TEST(Program, StartsRaisesOnASecondStartAndShutsDownInOrder) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QProcess first;
    StartProgram(first, home);
    ASSERT_TRUE(first.waitForStarted(5000));
    QByteArray firstOutput;
    ASSERT_TRUE(WaitForOutput(first, firstOutput, "loaded modules count=1", 15000)) << firstOutput.constData();

    QProcess second;
    StartProgram(second, home);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(WaitForOutput(first, firstOutput, "ZuCam raised its window", 5000)) << firstOutput.constData();
    EXPECT_TRUE(firstOutput.contains("ZuCam started")) << firstOutput.constData();

    QElapsedTimer shutdown;
    shutdown.start();
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(10000));
    // The version query that start-up sent (it cannot reach its host here)
    // does not hold the shutdown up until its own time limit.
    EXPECT_LT(shutdown.elapsed(), 5000);
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0) << (firstOutput + first.readAll()).constData();
    QFile config(home.path() + "/config/ZuCam/config.json");
    ASSERT_TRUE(config.open(QIODevice::ReadOnly)) << config.fileName().toStdString();
    EXPECT_TRUE(config.readAll().contains("cfg_device_name"));
}

// A settings file nested past jsoncpp's stack limit once ended the program
// before it started, every time; a member of the wrong kind cost every
// setting. Now the program starts and ends normally, an unreadable file is
// kept aside and the readable members survive the save.
TEST(Program, DamagedSettingsNeitherStopTheStartNorCostTheGoodMembers) {
    const std::string nested = std::string(1001, '[') + std::string(1001, ']');
    struct Case {
        std::string contents;
        bool membersKept;
    };
    const Case cases[] = {
        {nested, false},
        {R"({"cfg_device_name":"Mine","cfg_save_dir":"/srv/rec","cfg_first_open":0})", true},
        {R"({"cfg_device_name":"Mine","cfg_first_open":1e400,"cfg_save_dir":"/srv/rec"})", true},
        {R"({"cfg_device_name":"Mine","cfg_camera_name":)" + nested + R"(,"cfg_save_dir":"/srv/rec"})", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.contents.substr(0, 80));
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        const QString folder = home.path() + "/config/ZuCam";
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile file(folder + "/config.json");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.contents.data(), qint64(c.contents.size()));
        file.close();

        QProcess program;
        StartProgram(program, home);
        ASSERT_TRUE(program.waitForStarted(5000));
        QByteArray output;
        ASSERT_TRUE(WaitForOutput(program, output, "ZuCam started", 15000)) << output.constData();
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << (output + program.readAll()).constData();

        QFile aside(folder + "/config.json.bad");
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll().toStdString(), c.contents);
        QFile saved(folder + "/config.json");
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        const QByteArray settings = saved.readAll();
        EXPECT_TRUE(settings.contains("cfg_first_open")) << settings.constData();
        EXPECT_EQ(settings.contains("\"Mine\"") && settings.contains("\"/srv/rec\""), c.membersKept)
            << settings.constData();
    }
}

// The program, copied into the stand-in tools' folder, so that it finds them
// beside itself as it would find the real ones.
QString CopyProgramInto(const zucam::test::FakeDriverTools& tools) {
    const QString copy = tools.folder() + "/zucam";
    EXPECT_TRUE(QFile::copy(QString(ZUCAM_PROGRAM), copy));
    QFile(copy).setPermissions(QFile(copy).permissions() | QFileDevice::ExeOwner);
    return copy;
}

TEST(Program, UninstallRemovesTheDriversAndFiltersAndExits) {
    QTemporaryDir home;
    zucam::test::FakeDriverTools tools;
    const QString program = CopyProgramInto(tools);
    QProcess uninstall;
    uninstall.setProcessEnvironment(ProgramEnvironment(home));
    uninstall.setProcessChannelMode(QProcess::MergedChannels);
    uninstall.start(program, {"--uninstall"});
    ASSERT_TRUE(uninstall.waitForFinished(60000));
    const QByteArray output = uninstall.readAll();
    EXPECT_EQ(uninstall.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(uninstall.exitCode(), 0) << output.constData();

    QStringList order;
    for (const auto& call : tools.calls()) {
        EXPECT_TRUE(call.ended);
        order << call.tool + ":" + call.arguments.join(' ');
    }
    const QString camera = tools.folder() + "/Drivers/camera/";
    EXPECT_EQ(order, QStringList({"audio-x64:remove *ZuWaveExtensible",
                                  "regsvr32:/u /s " + camera + "zu-virtual-camera-dshow32.dll",
                                  "regsvr32:/u /s " + camera + "zu-virtual-camera-dshow64.dll",
                                  "camera:remove Root\\TAMRY\\ZuCamera"}));
    // Nothing of a normal start: no modules, no window, no settings.
    EXPECT_FALSE(output.contains("loaded modules")) << output.constData();
    EXPECT_FALSE(QFile::exists(home.path() + "/config/ZuCam/config.json"));
}

TEST(Program, UninstallWithoutADisplayNamesTheHoldersOnStandardError) {
    QTemporaryDir home;
    zucam::test::FakeDriverTools tools;
    const QString program = CopyProgramInto(tools);
    const QString filter = tools.folder() + "/Drivers/camera/zu-virtual-camera-dshow64.dll";
    {
        QFile file(filter);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QProcess holder;
    holder.start("sh", {"-c", "exec 3<\"$1\"; exec sleep 60", "sh", filter});
    ASSERT_TRUE(holder.waitForStarted(5000));
    // The shell has become "sleep" once its command line is sleep's.
    QElapsedTimer clock;
    clock.start();
    QByteArray command;
    while (!command.startsWith("sleep") && clock.elapsed() < 5000) {
        QFile cmdline(QString("/proc/%1/cmdline").arg(holder.processId()));
        if (cmdline.open(QIODevice::ReadOnly)) command = cmdline.readAll();
        QThread::msleep(10);
    }

    QProcessEnvironment environment = ProgramEnvironment(home);
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) environment.remove(name);
    QProcess uninstall;
    uninstall.setProcessEnvironment(environment);
    uninstall.start(program, {"--uninstall"});
    ASSERT_TRUE(uninstall.waitForFinished(60000));
    EXPECT_EQ(uninstall.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(uninstall.exitCode(), 0);
    EXPECT_TRUE(uninstall.readAllStandardError().contains(
        QString::fromUtf8("由于以下软件占用驱动文件，软件将不能完全卸载\n1. sleep").toUtf8()));
    EXPECT_EQ(tools.calls().size(), 4u);
    holder.kill();
    holder.waitForFinished(5000);
}

TEST(Program, TheMicrophoneStopsBeforeTheWindowGoes) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":detect_leaks=0");
    QProcess probe;
    probe.setProcessEnvironment(environment);
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(QString(ZUCAM_SHUTDOWN_PROBE), QStringList());
    ASSERT_TRUE(probe.waitForFinished(30000));
    ASSERT_EQ(probe.exitStatus(), QProcess::NormalExit) << probe.readAll().constData();
    if (probe.exitCode() == 77) GTEST_SKIP() << "the microphone cannot open here (source scripts/start-audio.sh)";
    EXPECT_EQ(probe.exitCode(), 0) << probe.readAll().constData();
}

TEST(Program, UninstallAsALaterArgumentIsANormalStart) {
    QTemporaryDir home;
    zucam::test::FakeDriverTools tools;
    tools.setOutput("audio-x64", "find", zucam::test::FakeDriverTools::NoDevicesFound());
    const QString program = CopyProgramInto(tools);
    QProcess run;
    run.setProcessEnvironment(ProgramEnvironment(home));
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(program, {"--verbose", "--uninstall"});
    ASSERT_TRUE(run.waitForStarted(5000));
    QByteArray output;
    ASSERT_TRUE(WaitForOutput(run, output, "ZuCam started", 15000)) << output.constData();
    QElapsedTimer shutdown;
    shutdown.start();
    ::kill(static_cast<pid_t>(run.processId()), SIGTERM);
    ASSERT_TRUE(run.waitForFinished(10000));
    EXPECT_LT(shutdown.elapsed(), 5000);
    EXPECT_EQ(run.exitCode(), 0);
    // Start-up asked for the audio driver and re-applied the stored camera
    // mode (by default the driver: looked for, installed, the filters
    // unregistered); nothing was removed.
    EXPECT_EQ(tools.callsOf("audio-x64"), QStringList({"[find][=media][*ZuWaveExtensible]"}));
    EXPECT_TRUE(tools.callsOf("regsvr32").filter("[/i]").isEmpty());
    EXPECT_TRUE(tools.callsOf("camera").filter("[remove]").isEmpty()) << tools.callsOf("camera").join(' ').toStdString();
}

}  // namespace
