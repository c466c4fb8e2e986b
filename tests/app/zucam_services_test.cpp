// ZuCam's services against real peers: the stand-in driver tools in a
// temporary program folder, message boxes answered by the recorder, the
// registry file, real child processes holding the filter files and, when a
// PulseAudio server answers, a real pipe source.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "devices/audio/audio_device_link.h"
#include "devices/audio/virtaul_audio_device_manager.h"
#include "core/tether/tq.h"
#include "devices/driver_install/driver_install.h"
#include "devices/driver_install/file_holders.h"
#include "support/fake_driver_tools/fake_driver_tools.h"
#include "support/dialog_recorder.h"
#include "support/message_box_recorder.h"
#include "../devices/audio/fifo_reader.h"
#include "vexo/gs_device.h"
#include "zucam.h"

namespace {

using zucam::test::FakeDriverTools;
using zucam::test::MessageBoxRecorder;

const QString kQuestion =
    QString::fromUtf8("未安装虚拟麦克风驱动，需要先安装驱动才可使用，是否安装？\n安装后可能需要重启电脑才能正常使用。");
const QString kInstallFailed = QString::fromUtf8("虚拟麦克风驱动安装失败");
const QString kCannotOpen = QString::fromUtf8("无法打开虚拟麦克风设备！");

bool PulseAnswers() {
    QProcess pactl;
    pactl.start("pactl", {"info"});
    return pactl.waitForFinished(5000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
}

class ZuCamServices : public testing::Test {
protected:
    ZuCamServices() {
        SetDriverToolFolderForTesting(tools_.folder());
        app_ = zucamApp();
        app_->loadConfig();
    }
    ~ZuCamServices() override {
        app_->closeVirtualMic();
        SetDriverToolFolderForTesting(QString());
        SetAudioDeviceLinkPathForTesting(std::string());
    }

    FakeDriverTools tools_;
    ZuCam* app_ = nullptr;
};

TEST_F(ZuCamServices, WithoutTheDriverAndNoQuestionTheMicrophoneStaysOffSilently) {
    tools_.setOutput("audio-x64", "find", FakeDriverTools::NoDevicesFound());
    MessageBoxRecorder boxes(1);
    app_->openVmic = true;
    EXPECT_FALSE(app_->openVirtualMic(false));
    EXPECT_TRUE(boxes.messages().isEmpty());
    EXPECT_FALSE(app_->openVmic);
    EXPECT_FALSE(app_->VirtualMicOpen());
    EXPECT_FALSE(app_->audioDriverInstalled);
    EXPECT_EQ(tools_.callsOf("audio-x64"), QStringList({"[find][=media][*ZuWaveExtensible]"}));
}

TEST_F(ZuCamServices, CancelInTheDriverQuestionInstallsNothing) {
    for (int answer : {0, -1}) {
        MessageBoxRecorder boxes(answer);
        EXPECT_FALSE(app_->openVirtualMic(true));
        EXPECT_EQ(boxes.messages(), QStringList({kQuestion})) << answer;
        EXPECT_FALSE(app_->openVmic);
        EXPECT_FALSE(app_->audioDriverInstalled);
    }
    EXPECT_TRUE(tools_.callsOf("audio-x64").filter("[install]").isEmpty());
}

TEST_F(ZuCamServices, AFailedDriverInstallIsTold) {
    tools_.setExit("audio-x64", "install", 2);
    MessageBoxRecorder boxes(1);
    EXPECT_FALSE(app_->openVirtualMic(true));
    EXPECT_EQ(boxes.messages(), QStringList({kQuestion, kInstallFailed}));
    EXPECT_FALSE(app_->openVmic);
    EXPECT_FALSE(app_->audioDriverInstalled);
    EXPECT_EQ(tools_.callsOf("audio-x64").filter("[install]").size(), 1);
}

TEST_F(ZuCamServices, AFailedDriverInstallIsToldWithTheReasonTheToolGives) {
    tools_.setOutput("audio-x64", "install", "devcon failed: no audio server answers.\n");
    tools_.setExit("audio-x64", "install", 2);
    MessageBoxRecorder boxes(1);
    EXPECT_FALSE(app_->openVirtualMic(true));
    EXPECT_EQ(boxes.messages(), QStringList({kQuestion, kInstallFailed + "\nno audio server answers"}));
    EXPECT_FALSE(app_->openVmic);
    EXPECT_FALSE(app_->audioDriverInstalled);

    // A tool that cannot even be run is a reason too.
    tools_.remove("audio-x64");
    MessageBoxRecorder again(1);
    EXPECT_FALSE(app_->openVirtualMic(true));
    EXPECT_EQ(again.messages(), QStringList({kQuestion, kInstallFailed + "\ndevcon cannot be started"}));
}

// The shipped devcon, with another user's FIFO where the microphone's link
// belongs: no driver is found, the install refuses and the user reads why;
// nothing is written into that FIFO.
TEST_F(ZuCamServices, AnotherUsersFifoAtTheLinkBlocksTheMicrophoneAndTheUserIsToldWhy) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a FIFO to another user";
    const QString devcon = tools_.folder() + "/Drivers/audio/x64/devcon";
    ASSERT_TRUE(QFile::remove(devcon));
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZUCAM_DRIVER_TOOLS_DIR) + "/devcon", devcon));
    QTemporaryDir runtime;
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const bool hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const QByteArray link = (runtime.path() + "/ZuAudioDeviceLink").toLocal8Bit();
    ASSERT_EQ(::mkfifo(link.constData(), 0600), 0);
    ASSERT_EQ(::chown(link.constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(link.constData(), 0622), 0);
    const int listener = ::open(link.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(listener, 0);

    MessageBoxRecorder boxes(1);
    EXPECT_FALSE(app_->openVirtualMic(true));
    const QStringList told = boxes.messages();
    ASSERT_EQ(told.size(), 2);
    EXPECT_EQ(told[0], kQuestion);
    EXPECT_TRUE(told[1].startsWith(kInstallFailed + "\n")) << told[1].toStdString();
    EXPECT_TRUE(told[1].contains("belongs to another user (uid 65534)")) << told[1].toStdString();
    EXPECT_FALSE(app_->openVmic);
    EXPECT_FALSE(app_->audioDriverInstalled);
    char byte = 0;
    EXPECT_LE(::read(listener, &byte, 1), 0);
    ::close(listener);
    if (hadRuntime) {
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    } else {
        qunsetenv("XDG_RUNTIME_DIR");
    }
}

TEST_F(ZuCamServices, AnInstalledDriverWhoseLinkIsMissingCannotBeOpened) {
    tools_.setOutput("audio-x64", "install", FakeDriverTools::InstalledSuccessfully());
    QTemporaryDir dir;
    SetAudioDeviceLinkPathForTesting((dir.path() + "/no-link").toStdString());
    MessageBoxRecorder boxes(1);
    EXPECT_FALSE(app_->openVirtualMic(true));
    EXPECT_EQ(boxes.messages(), QStringList({kQuestion, kCannotOpen}));
    EXPECT_TRUE(app_->audioDriverInstalled);
    EXPECT_FALSE(app_->openVmic);
    EXPECT_EQ(app_->virtualMic(), nullptr);

    // At start (no question) the same failure is silent.
    tools_.setOutput("audio-x64", "find", FakeDriverTools::DevicesFound(1));
    MessageBoxRecorder quiet(1);
    EXPECT_FALSE(app_->openVirtualMic(false));
    EXPECT_TRUE(quiet.messages().isEmpty());
}

TEST_F(ZuCamServices, TheMicrophoneOpensReopensAndCloses) {
    if (!PulseAnswers()) GTEST_SKIP() << "no PulseAudio server (source scripts/start-audio.sh)";
    tools_.setOutput("audio-x64", "find", FakeDriverTools::DevicesFound(1));
    FifoReader link;
    ASSERT_TRUE(link.made());
    ASSERT_TRUE(link.OpenReader());
    SetAudioDeviceLinkPathForTesting(link.path());
    MessageBoxRecorder boxes(1);
    ASSERT_TRUE(app_->openVirtualMic(true));
    const std::weak_ptr<VirtaulAudioDeviceManager> first = app_->virtualMic();
    EXPECT_TRUE(app_->openVmic);
    EXPECT_TRUE(app_->VirtualMicOpen());
    // Opened again: the first manager is gone before the second opens.
    ASSERT_TRUE(app_->openVirtualMic(false));
    EXPECT_TRUE(first.expired());
    EXPECT_NE(app_->virtualMic(), nullptr);
    app_->closeVirtualMic();
    EXPECT_EQ(app_->virtualMic(), nullptr);
    EXPECT_FALSE(app_->openVmic);
    EXPECT_TRUE(boxes.messages().isEmpty());
}

TEST_F(ZuCamServices, StartUpWithTheMicrophoneOnButNoDriverWarnsOnceAndGoesOn) {
    g_cd->config->setString("cfg_open_vmic", "1");
    g_cd->config->setString("cfg_window_stays_on_top", "1");
    tools_.setOutput("audio-x64", "find", FakeDriverTools::NoDevicesFound());
    MessageBoxRecorder boxes(1);
    app_->Initialize();
    ASSERT_NE(app_->mainWindow, nullptr);
    EXPECT_TRUE(app_->mainWindow->isVisible());
    EXPECT_TRUE(app_->mainWindow->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    // One warning, no driver question (nobody asked at start).
    EXPECT_EQ(boxes.messages(), QStringList({kCannotOpen}));
    EXPECT_FALSE(app_->openVmic);
    EXPECT_FALSE(app_->audioDriverInstalled);
    EXPECT_TRUE(tools_.callsOf("audio-x64").filter("[install]").isEmpty());
    delete app_->mainWindow.data();
}

class IosOffer : public testing::Test {
protected:
    IosOffer() {
        hadAddress_ = qEnvironmentVariableIsSet("USBMUXD_SOCKET_ADDRESS");
        savedAddress_ = qgetenv("USBMUXD_SOCKET_ADDRESS");
        qputenv("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + dir_.path() + "/usbmuxd").toLocal8Bit());
    }
    ~IosOffer() override {
        if (hadAddress_) {
            qputenv("USBMUXD_SOCKET_ADDRESS", savedAddress_);
        } else {
            qunsetenv("USBMUXD_SOCKET_ADDRESS");
        }
    }
    QTemporaryDir dir_;
    bool hadAddress_ = false;
    QByteArray savedAddress_;
};

TEST_F(IosOffer, OfferedOncePerRunThroughTheUsbLinkAndEachTimeWithRearm) {
    ZuCam* app = zucamApp();
    zucam::test::DialogRecorder offers(0);  // each offer answered "取消"
    const QString offer = "IosUsbServerDialog";
    app->checkAppleMobileDeviceSupport(false, false);  // start-up: no offer
    EXPECT_FALSE(app->appleMobileDeviceInstalled);
    EXPECT_EQ(offers.count(offer), 0);
    app->checkAppleMobileDeviceSupport(true, false);
    app->checkAppleMobileDeviceSupport(true, false);
    EXPECT_EQ(offers.count(offer), 1);
    app->checkAppleMobileDeviceSupport(true, true);
    app->checkAppleMobileDeviceSupport(true, true);
    EXPECT_EQ(offers.count(offer), 3);
    app->checkAppleMobileDeviceSupport(true, false);  // the last rearm was used
    EXPECT_EQ(offers.count(offer), 3);
    EXPECT_EQ(offers.dialogs().size(), 3);

    // The daemon appears: no offer, even re-armed.
    QFile socket(dir_.path() + "/usbmuxd");
    ASSERT_TRUE(socket.open(QIODevice::WriteOnly));
    socket.close();
    app->checkAppleMobileDeviceSupport(true, true);
    EXPECT_TRUE(app->appleMobileDeviceInstalled);
    EXPECT_EQ(offers.dialogs().size(), 3);
}

class CameraName : public testing::Test {
protected:
    CameraName() : file_(dir_.path() + "/registry.ini") { SetCameraRegistryFileForTesting(file_); }
    ~CameraName() override { SetCameraRegistryFileForTesting(QString()); }

    static QString group(bool wow64) {
        return QString("HKEY_LOCAL_MACHINE/SOFTWARE/Classes/%1CLSID/{860BB310-5D01-11d0-BD3B-00A0C911CE86}/Instance/"
                       "{E34BCBC6-28E7-401D-9ECF-0AA9665C5245}")
            .arg(wow64 ? "WOW6432Node/" : "");
    }
    QVariant value(bool wow64, const QString& name) const {
        QSettings registry(file_, QSettings::IniFormat);
        return registry.value(group(wow64) + "/" + name);
    }

    QTemporaryDir dir_;
    QString file_;
};

TEST_F(CameraName, OnlyKeysThatCarryFriendlyNameAreWritten) {
    {
        QSettings registry(file_, QSettings::IniFormat);
        registry.setValue(group(false) + "/CLSID", "{27B05C2D-93DC-474A-A5DA-9BBA34CB2A9C}");
        registry.setValue(group(true) + "/CLSID", "{27B05C2D-93DC-474A-A5DA-9BBA34CB2A9C}");
        registry.setValue(group(true) + "/FriendlyName", "Zu Camera");
    }
    ZuCam* app = zucamApp();
    app->setCameraName(QString::fromUtf8("客厅 Cam"));
    EXPECT_EQ(value(true, "FriendlyName").toString(), QString::fromUtf8("客厅 Cam"));
    EXPECT_FALSE(value(false, "FriendlyName").isValid());
    EXPECT_EQ(value(false, "CLSID").toString(), "{27B05C2D-93DC-474A-A5DA-9BBA34CB2A9C}");
    EXPECT_EQ(app->cameraName, QString::fromUtf8("客厅 Cam"));
    EXPECT_EQ(g_cd->uiValues->get("zucam_camera_name", tq::Value()).toStdString(), "客厅 Cam");

    // A lower-case "friendlyname" is another value.
    {
        QSettings registry(file_, QSettings::IniFormat);
        registry.remove(group(true) + "/FriendlyName");
        registry.setValue(group(true) + "/friendlyname", "old");
    }
    app->setCameraName("Second");
    EXPECT_FALSE(value(true, "FriendlyName").isValid());
    EXPECT_EQ(value(true, "friendlyname").toString(), "old");
}

TEST_F(CameraName, NoRegistryFileIsCreated) {
    zucamApp()->setCameraName("Zu Camera");
    EXPECT_FALSE(QFile::exists(file_));
    EXPECT_EQ(zucamApp()->cameraName, "Zu Camera");
}

class FakeMainWindow : public QWidget {
    Q_OBJECT
public:
    QStringList names;
    int tipUpdates = 0;
public slots:
    void SetDeviceName(const QString& name) { names << name; }
    void UpdateIosServiceTip() { ++tipUpdates; }
};

TEST(ZuCamWindowServices, SettersReachTheWindowWhenItIsThere) {
    ZuCam* app = zucamApp();
    app->loadConfig();
    app->setDeviceName("before the window");  // only stored
    EXPECT_EQ(app->deviceName, "before the window");
    app->setWindowStaysOnTop(true);
    EXPECT_TRUE(app->windowStaysOnTop);

    auto window = std::make_unique<FakeMainWindow>();
    app->mainWindow = window.get();
    app->setDeviceName(QString::fromUtf8("书房"));
    EXPECT_EQ(window->names, QStringList({QString::fromUtf8("书房")}));
    app->setWindowStaysOnTop(true);
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window->isVisible());
    app->setWindowStaysOnTop(false);
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(app->windowStaysOnTop);
    app->checkAppleMobileDeviceSupport(false, false);
    EXPECT_EQ(window->tipUpdates, 1);
    app->setUseHardwareRender(true);
    EXPECT_TRUE(app->useHardwareRender);

    // A second start's "show", also inside a longer message, restores a
    // minimised window; other messages leave it.
    window->showMinimized();
    app->onReceivedMessage(2, "please hide");
    EXPECT_TRUE(window->isMinimized());
    app->onReceivedMessage(2, "reshow now");
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->isVisible());
    app->mainWindow = nullptr;
}

TEST(ZuCamShaders, TheBundlesShadersAreRegisteredWithTheDevice) {
    EXPECT_FALSE(ZuCam::readResourceFile(":/hlsl/tex.v.hlsl").empty());
    EXPECT_TRUE(ZuCam::readResourceFile(":/hlsl/missing.hlsl").empty());
    zucamApp()->registerShaders();  // no device: nothing happens
    ASSERT_TRUE(GsDevice::CreateDefaultDevice(false));
    zucamApp()->registerShaders();
    for (const char* name : {"zuc_rgba", "zuc_bgrx", "zuc_color_correction"}) {
        EXPECT_NE(GsDevice::DefaultDevice()->FindShader(name), nullptr) << name;
    }
    GsDevice::DestroyDefaultDevice();
}

TEST(ZuCamMicrophoneList, OnlyASourceNamedAsTheVirtualMicrophoneCounts) {
    const QString head = "Source #0\n\tState: SUSPENDED\n\tName: alsa_input.usb\n\tDescription: USB Mic\n"
                         "\tMonitor of Sink: n/a\n";
    struct Case {
        QString text;
        bool listed;
    };
    const Case cases[] = {
        {"", false},
        {head, false},
        {head + "Source #1\n\tName: zu_virtual_mic\n\tDescription: Zu Virtual Audio Device\n\tMonitor of Sink: n/a\n",
         true},
        {head + "Source #1\n\tName: zu_mic\n\tDescription: My Zu Virtual Audio Device (pipe)\n", true},
        {head + "Source #1\n\tName: zu_mic\n\tDescription: zu virtual audio device\n\tMonitor of Sink: n/a\n", false},
        // A sink's monitor is no microphone.
        {"Source #3\n\tName: zu.monitor\n\tDescription: Monitor of Zu Virtual Audio Device\n"
         "\tMonitor of Sink: zu_sink\n",
         false},
        // Fields before any source block belong to none.
        {"\tDescription: Zu Virtual Audio Device\n", false},
    };
    for (const Case& c : cases) EXPECT_EQ(ZuCam::sourcesListVirtualMic(c.text), c.listed) << c.text.toStdString();
}

TEST(ZuCamMicrophoneList, TheAudioServersPipeSourceIsSeen) {
    if (!PulseAnswers()) GTEST_SKIP() << "no PulseAudio server (source scripts/start-audio.sh)";
    QTemporaryDir dir;
    const QString source = QString("zu_services_test_%1").arg(QCoreApplication::applicationPid());
    QProcess load;
    load.start("pactl", {"load-module", "module-pipe-source", "source_name=" + source,
                         "file=" + dir.filePath("link"), "format=s16le", "rate=48000", "channels=1",
                         "source_properties=\"device.description='Zu Virtual Audio Device'\""});
    ASSERT_TRUE(load.waitForFinished(5000));
    ASSERT_EQ(load.exitCode(), 0) << load.readAllStandardError().toStdString();
    const QString module = QString::fromUtf8(load.readAllStandardOutput()).trimmed();
    EXPECT_TRUE(zucamApp()->checkSystemMicForbid());
    QProcess::execute("pactl", {"unload-module", module});
}

TEST(ZuCamPower, ThePowerSavingProfileIsRecognised) {
    QTemporaryDir dir;
    const QString profile = dir.filePath("platform_profile");
    const QString state = dir.filePath("state.ini");
    const auto write = [](const QString& path, const QByteArray& text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    };
    SetPowerProfileFilesForTesting(profile, state);
    EXPECT_FALSE(ZuCam::isPowerSaverScheme());  // neither file
    write(profile, "balanced\n");
    EXPECT_FALSE(ZuCam::isPowerSaverScheme());
    write(profile, "low-power\n");
    EXPECT_TRUE(ZuCam::isPowerSaverScheme());
    write(profile, "performance\n");
    write(state, "[State]\nDriver=placeholder\nProfile=power-saver\n");
    EXPECT_TRUE(ZuCam::isPowerSaverScheme());
    write(state, "[State]\nProfile=balanced\n");
    EXPECT_FALSE(ZuCam::isPowerSaverScheme());
    SetPowerProfileFilesForTesting(QString(), QString());
}

class Uninstall : public testing::Test {
protected:
    Uninstall() {
        SetDriverToolFolderForTesting(tools_.folder());
        setUninstallWarningHook([this](const QString& title, const QString& text) {
            titles_ << title;
            texts_ << text;
        });
    }
    ~Uninstall() override {
        setUninstallWarningHook(nullptr);
        SetDriverToolFolderForTesting(QString());
        for (auto& child : children_) {
            child->kill();
            child->waitForFinished(5000);
        }
    }
    QString filter(const char* bits) const {
        return tools_.folder() + "/Drivers/camera/zu-virtual-camera-dshow" + bits + ".dll";
    }
    void holdOpen(const QString& path) {
        children_.push_back(std::make_unique<QProcess>());
        children_.back()->start("sh", {"-c", "exec 3<\"$1\"; exec sleep 60", "sh", path});
        ASSERT_TRUE(children_.back()->waitForStarted(5000));
    }

    FakeDriverTools tools_;
    QStringList titles_;
    QStringList texts_;
    std::vector<std::unique_ptr<QProcess>> children_;
};

TEST_F(Uninstall, RemovesEverythingInOrderAndNamesTheHoldersOnce) {
    for (const char* bits : {"32", "64"}) {
        QFile file(filter(bits));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("MZ");
    }
    // Two processes of one name, one per filter file.
    holdOpen(filter("32"));
    holdOpen(filter("64"));
    // Wait until both shells have become "sleep".
    QElapsedTimer clock;
    clock.start();
    while (programsHoldingFiles({filter("32"), filter("64")}) != QStringList({"sleep"}) && clock.elapsed() < 5000) {
        QThread::msleep(20);
    }
    tools_.setDelay("camera", "remove", 0.2);

    uninstallDrivers();

    const std::vector<FakeDriverTools::Call> calls = tools_.calls();
    QStringList order;
    for (const auto& call : calls) {
        EXPECT_TRUE(call.ended) << call.tool.toStdString();
        order << call.tool + ":" + call.arguments.join(' ');
    }
    EXPECT_EQ(order, QStringList({"audio-x64:remove *ZuWaveExtensible", "regsvr32:/u /s " + filter("32"),
                                  "regsvr32:/u /s " + filter("64"), "camera:remove Root\\TAMRY\\ZuCamera"}));
    EXPECT_EQ(titles_, QStringList({QString::fromUtf8("警告")}));
    EXPECT_EQ(texts_, QStringList({QString::fromUtf8("由于以下软件占用驱动文件，软件将不能完全卸载\n1. sleep")}));
}

TEST_F(Uninstall, NoHoldersNoWarning) {
    uninstallDrivers();
    EXPECT_TRUE(texts_.isEmpty());
    EXPECT_EQ(tools_.calls().size(), 4u);
}

// Pictures of the boxes these services show, for a person to look at.
TEST_F(Uninstall, BoxesRenderForALook) {
    const QByteArray shots = qgetenv("ZUCAM_SCREENSHOT_DIR");
    if (shots.isEmpty()) GTEST_SKIP() << "set ZUCAM_SCREENSHOT_DIR to save the pictures";
    QStringList saved;
    MessageBoxDialog::setAnswerHook([&](MessageBoxDialog& box) {
        box.show();
        QApplication::processEvents();
        const QString name = QString("service-box-%1.png").arg(saved.size() + 1);
        EXPECT_TRUE(box.grab().save(QDir(shots).filePath(name)));
        saved << name;
        return 1;
    });
    QTemporaryDir dir;
    SetAudioDeviceLinkPathForTesting((dir.path() + "/no-link").toStdString());
    // The longest reason the shipped devcon gives.
    tools_.setOutput("audio-x64", "install",
                     "devcon failed: /tmp/ZuAudioDeviceLink belongs to another user (uid 65534); remove it or set "
                     "XDG_RUNTIME_DIR.\n");
    zucamApp()->openVirtualMic(true);  // the question, then the failed install with its reason
    tools_.setOutput("audio-x64", "install", FakeDriverTools::InstalledSuccessfully());
    zucamApp()->openVirtualMic(true);  // the question, then "cannot open"
    MessageBoxDialog::setAnswerHook(nullptr);
    EXPECT_EQ(saved.size(), 4);

    // The uninstaller's warning, through its real modal box.
    setUninstallWarningHook(nullptr);
    for (const char* bits : {"32", "64"}) {
        QFile file(filter(bits));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    holdOpen(filter("32"));
    QElapsedTimer clock;
    clock.start();
    while (programsHoldingFiles({filter("32")}) != QStringList({"sleep"}) && clock.elapsed() < 5000) QThread::msleep(20);
    bool grabbed = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (box == nullptr || grabbed) return;
        grabbed = box->grab().save(QDir(shots).filePath("uninstall-warning.png"));
        box->close();
    });
    poll.start(100);
    uninstallDrivers();
    EXPECT_TRUE(grabbed);
}

}  // namespace

#include "zucam_services_test.moc"
