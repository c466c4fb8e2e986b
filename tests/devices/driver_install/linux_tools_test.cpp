// The Linux counterparts of devcon and regsvr32 that ship beside the
// program, driven through the installation functions: the audio driver
// follows the pipe source's FIFO (and, with a PulseAudio server, is really
// loaded and unloaded), the camera driver is the administrator's
// v4l2loopback device, the filters register as a no-op.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "devices/driver_install/driver_install.h"

namespace {

bool PulseAnswers() {
    QProcess pactl;
    pactl.start("pactl", {"info"});
    return pactl.waitForFinished(5000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
}

bool ZuCameraDeviceExists() {
    for (const QFileInfo& entry : QDir("/sys/class/video4linux").entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(entry.filePath() + "/name");
        if (!name.open(QIODevice::ReadOnly)) continue;
        const QByteArray label = name.readAll().trimmed();
        if (label == "Zu Camera Pro" || label == "Zu Camera") return true;
    }
    return false;
}

bool WaitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < ms) QThread::msleep(20);
    return condition();
}

class LinuxDriverTools : public testing::Test {
protected:
    LinuxDriverTools() {
        pulse_ = PulseAnswers();
        // pactl keeps finding the server when the runtime folder moves.
        hadRuntime_ = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
        savedRuntime_ = qgetenv("XDG_RUNTIME_DIR");
        hadPulse_ = qEnvironmentVariableIsSet("PULSE_SERVER");
        savedPulse_ = qgetenv("PULSE_SERVER");
        if (!hadPulse_ && hadRuntime_) qputenv("PULSE_SERVER", "unix:" + savedRuntime_ + "/pulse/native");
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());

        const QString tools = QStringLiteral(ZUCAM_DRIVER_TOOLS_DIR);
        for (const char* place : {"Drivers/audio/x64/devcon", "Drivers/audio/x86/devcon", "Drivers/camera/devcon"}) {
            const QString target = folder_.path() + "/" + place;
            QDir().mkpath(QFileInfo(target).path());
            EXPECT_TRUE(QFile::copy(tools + "/devcon", target));
        }
        EXPECT_TRUE(QFile::copy(tools + "/regsvr32", folder_.path() + "/regsvr32"));
        SetDriverToolFolderForTesting(folder_.path());
    }
    ~LinuxDriverTools() override {
        SetDriverToolFolderForTesting(QString());
        if (hadRuntime_) {
            qputenv("XDG_RUNTIME_DIR", savedRuntime_);
        } else {
            qunsetenv("XDG_RUNTIME_DIR");
        }
        if (hadPulse_) {
            qputenv("PULSE_SERVER", savedPulse_);
        } else {
            qunsetenv("PULSE_SERVER");
        }
    }
    QString link() const { return runtime_.path() + "/ZuAudioDeviceLink"; }

    QTemporaryDir folder_;
    QTemporaryDir runtime_;
    bool pulse_ = false;
    bool hadRuntime_ = false, hadPulse_ = false;
    QByteArray savedRuntime_, savedPulse_;
};

TEST_F(LinuxDriverTools, TheAudioDriverIsThereWhenThePipeSourcesFifoIs) {
    EXPECT_FALSE(findAudioDriver());
    QFile plain(link());
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_FALSE(findAudioDriver());  // a plain file is no pipe source
    QFile::remove(link());
    ASSERT_EQ(::mkfifo(link().toLocal8Bit().constData(), 0600), 0);
    EXPECT_TRUE(findAudioDriver());
}

TEST_F(LinuxDriverTools, InstallingTheAudioDriverLoadsAPipeSourceAndRemovingUnloadsIt) {
    if (!pulse_) GTEST_SKIP() << "no PulseAudio server (source scripts/start-audio.sh)";
    ASSERT_FALSE(findAudioDriver());
    QString reason = "unchanged";
    ASSERT_TRUE(installAudioDriver(kDriverToolTimeoutMs, &reason));
    EXPECT_EQ(reason, "");
    EXPECT_TRUE(QFileInfo(link()).exists());
    // The server makes its FIFO 0666; the install leaves it owner-only.
    struct stat made {};
    ASSERT_EQ(::stat(link().toLocal8Bit().constData(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0600u);
    EXPECT_TRUE(findAudioDriver());
    EXPECT_TRUE(removeAudioDriver());
    EXPECT_TRUE(WaitFor([&] { return !QFileInfo::exists(link()); }, 5000));
    EXPECT_FALSE(findAudioDriver());
    EXPECT_TRUE(removeAudioDriver());  // nothing left to remove
}

// What stands where the FIFO belongs and is not ours blocks the driver: it is
// not found, and installing loads nothing, says why and leaves it alone.
TEST_F(LinuxDriverTools, AnotherUsersFifoOrALinkBlocksTheAudioDriver) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a FIFO to another user";
    const QByteArray path = link().toLocal8Bit();
    QTemporaryDir elsewhere;
    const QByteArray target = elsewhere.filePath("fifo").toLocal8Bit();
    ASSERT_EQ(::mkfifo(target.constData(), 0600), 0);
    struct Case {
        const char* name;
        std::function<bool()> plant;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"another user's FIFO",
         [&] {
             return ::mkfifo(path.constData(), 0600) == 0 && ::chown(path.constData(), 65534, 65534) == 0 &&
                    ::chmod(path.constData(), 0622) == 0;
         },
         "belongs to another user (uid 65534)"},
        {"a link to our own FIFO", [&] { return ::symlink(target.constData(), path.constData()) == 0; },
         "is a symbolic link"},
        {"a plain file",
         [&] {
             QFile plain(link());
             return plain.open(QIODevice::WriteOnly);
         },
         "is not a FIFO"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(c.plant()) << c.name;
        struct stat planted {};
        ASSERT_EQ(::lstat(path.constData(), &planted), 0) << c.name;
        EXPECT_FALSE(findAudioDriver()) << c.name;
        QString reason;
        EXPECT_FALSE(installAudioDriver(kDriverToolTimeoutMs, &reason)) << c.name;
        EXPECT_TRUE(reason.contains(c.reason)) << c.name << ": " << reason.toStdString();
        struct stat after {};
        ASSERT_EQ(::lstat(path.constData(), &after), 0) << c.name;
        EXPECT_EQ(after.st_ino, planted.st_ino) << c.name;
        EXPECT_EQ(after.st_uid, planted.st_uid) << c.name;
        EXPECT_EQ(after.st_mode, planted.st_mode) << c.name;
        if (pulse_) {
            QProcess modules;
            modules.start("pactl", {"list", "short", "modules"});
            ASSERT_TRUE(modules.waitForFinished(5000));
            EXPECT_FALSE(modules.readAllStandardOutput().contains("file=" + path)) << c.name;
        }
        ASSERT_EQ(::unlink(path.constData()), 0);
    }
}

TEST_F(LinuxDriverTools, AnInstallThatNoAudioServerAnswersSaysSo) {
    qputenv("PULSE_SERVER", "unix:" + runtime_.filePath("no-such-server").toLocal8Bit());
    QString reason;
    EXPECT_FALSE(installAudioDriver(kDriverToolTimeoutMs, &reason));
    EXPECT_EQ(reason, "no audio server answers");
    EXPECT_FALSE(QFileInfo::exists(link()));
}

TEST_F(LinuxDriverTools, TheCameraDriverIsTheAdministratorsDevice) {
    if (ZuCameraDeviceExists()) {
        EXPECT_TRUE(checkCameraDriver());
        EXPECT_EQ(getCameraDriverInfo(), kRequiredCameraDriverVersion);
        return;
    }
    EXPECT_FALSE(checkCameraDriver());
    EXPECT_EQ(getCameraDriverInfo(), "");
    const DriverToolRun install = RunDriverTool(installCameraDriverCommand());
    EXPECT_TRUE(install.exitedWith(2));
    EXPECT_TRUE(install.standardOutput.contains("modprobe v4l2loopback")) << install.standardOutput.constData();
    EXPECT_TRUE(removeCameraDriver());
}

TEST_F(LinuxDriverTools, FiltersRegisterAndUnregisterAsANoOp) {
    EXPECT_TRUE(RunDriverTool(registerCameraFilterCommand("64")).exitedWith(0));
    EXPECT_TRUE(RunDriverTool(registerCameraFilterCommand("32")).exitedWith(0));
    EXPECT_TRUE(unregisterCameraFilter());
}

}  // namespace
