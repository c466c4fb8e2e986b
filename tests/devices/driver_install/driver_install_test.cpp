#include "devices/driver_install/driver_install.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <functional>

#include "core/system/system_info.h"
#include "support/fake_driver_tools/fake_driver_tools.h"

namespace {

using zucam::test::FakeDriverTools;

class DriverInstall : public testing::Test {
protected:
    // A folder whose name holds a space and both placeholders, so that a
    // command built by filling one placeholder after the other shows.
    DriverInstall() : tools_("zu tools %2 %1-XXXXXX") { SetDriverToolFolderForTesting(tools_.folder()); }
    ~DriverInstall() override {
        SetDriverToolFolderForTesting(QString());
        SetSystemVersionOverrideForTesting(std::nullopt, std::nullopt);
    }
    QString f() const { return tools_.folder(); }

    FakeDriverTools tools_;
};

TEST_F(DriverInstall, EachFunctionRunsItsToolWithTheExactArguments) {
    tools_.setOutput("camera", "find", FakeDriverTools::DevicesFound(1));
    tools_.setOutput("camera", "drivernodes", "Driver version is 1.0.1.1\n");
    struct Case {
        const char* name;
        std::function<void()> run;
        QString tool;
        QStringList runs;
    };
    const QString audio = f() + "/Drivers/audio/x64/";
    const QString camera = f() + "/Drivers/camera/";
    const std::vector<Case> cases = {
        {"installAudioDriver", [] { installAudioDriver(); }, "audio-x64",
         {"[/r][install][" + audio + "ZuVirtualAudioDevice.inf][*ZuWaveExtensible]"}},
        {"findAudioDriver", [] { findAudioDriver(); }, "audio-x64", {"[find][=media][*ZuWaveExtensible]"}},
        {"removeAudioDriver", [] { removeAudioDriver(); }, "audio-x64", {"[remove][*ZuWaveExtensible]"}},
        {"removeCameraDriver", [] { removeCameraDriver(); }, "camera", {"[remove][Root\\TAMRY\\ZuCamera]"}},
        {"getCameraDriverInfo", [] { getCameraDriverInfo(); }, "camera",
         {"[drivernodes][=Camera][Root\\TAMRY\\ZuCamera]"}},
        {"checkCameraDriver", [] { checkCameraDriver(); }, "camera",
         {"[find][=][Root\\TAMRY\\ZuCamera]", "[drivernodes][=Camera][Root\\TAMRY\\ZuCamera]"}},
        {"unregisterCameraFilter", [] { unregisterCameraFilter(); }, "regsvr32",
         {"[/u][/s][" + camera + "zu-virtual-camera-dshow32.dll]",
          "[/u][/s][" + camera + "zu-virtual-camera-dshow64.dll]"}},
    };
    for (const Case& c : cases) {
        const size_t before = tools_.calls().size();
        c.run();
        const std::vector<FakeDriverTools::Call> calls = tools_.calls();
        QStringList runs;
        for (size_t i = before; i < calls.size(); ++i) {
            EXPECT_EQ(calls[i].tool, c.tool) << c.name;
            EXPECT_TRUE(calls[i].ended) << c.name;
            QString text;
            for (const QString& argument : calls[i].arguments) text += "[" + argument + "]";
            runs << text;
        }
        EXPECT_EQ(runs, c.runs) << c.name;
    }
    // The program run is the one under the program's folder.
    for (const FakeDriverTools::Call& call : tools_.calls()) {
        const QString expected = call.tool == "audio-x64" ? audio + "devcon"
                                 : call.tool == "camera"  ? camera + "devcon"
                                                          : f() + "/regsvr32";
        EXPECT_EQ(call.program, expected) << call.tool.toStdString();
    }
}

TEST_F(DriverInstall, CommandTextsForCallersThatRunThemThemselves) {
    const QString camera = f() + "/Drivers/camera/";
    EXPECT_EQ(installCameraDriverCommand(),
              "\"" + camera + "devcon\" install \"" + camera + "ZuCamera.inf\" Root\\TAMRY\\ZuCamera");
    EXPECT_EQ(removeCameraDriverCommand(), "\"" + camera + "devcon\" remove Root\\TAMRY\\ZuCamera");
    EXPECT_EQ(registerCameraFilterCommand("64"),
              "\"" + f() + "/regsvr32\" /i /s \"" + camera + "zu-virtual-camera-dshow64.dll\"");
    EXPECT_EQ(unregisterCameraFilterCommand("32"),
              "\"" + f() + "/regsvr32\" /u /s \"" + camera + "zu-virtual-camera-dshow32.dll\"");
    // The placeholder form keeps "%2" only where the bits go; the folder's own
    // "%1" and "%2" stay as they are.
    EXPECT_EQ(registerCameraFilterCommand(),
              "\"" + f() + "/regsvr32\" /i /s \"" + camera + "zu-virtual-camera-dshow%2.dll\"");

    // Run as texts, the tools get the same arguments as the functions give.
    EXPECT_TRUE(RunDriverTool(installCameraDriverCommand()).exitedWith(0));
    EXPECT_TRUE(RunDriverTool(registerCameraFilterCommand("32")).exitedWith(0));
    EXPECT_EQ(tools_.callsOf("camera"), QStringList({"[install][" + camera + "ZuCamera.inf][Root\\TAMRY\\ZuCamera]"}));
    EXPECT_EQ(tools_.callsOf("regsvr32"), QStringList({"[/i][/s][" + camera + "zu-virtual-camera-dshow32.dll]"}));
}

TEST(DevconRecognisers, MatchOnlyWhatDevconPrints) {
    struct Case {
        const char* output;
        bool installed;
        bool present;
    };
    const Case cases[] = {
        {"Drivers installed successfully.\r\n", true, false},
        {"Updating drivers...\nDrivers installed successfully.", true, false},
        {"drivers installed successfully.", false, false},
        {"Drivers installed", false, false},
        {"1 matching device(s) found.\r\n", false, true},
        {"ROOT\\MEDIA\\0000 : Zu\n12 matching device(s) found.", false, true},
        {"No matching devices found.\r\n", false, false},
        {"matching device(s) found.", false, false},
        {"1 matching devices found.", false, false},
        {"1 Matching device(s) found.", false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(devconReportsInstalled(c.output), c.installed) << c.output;
        EXPECT_EQ(devconReportsDevicePresent(c.output), c.present) << c.output;
    }
}

TEST_F(DriverInstall, AudioDriverAnswersComeFromDevconsOutputAndExitCode) {
    EXPECT_FALSE(findAudioDriver());  // prints nothing
    tools_.setOutput("audio-x64", "find", FakeDriverTools::NoDevicesFound());
    EXPECT_FALSE(findAudioDriver());
    tools_.setOutput("audio-x64", "find", FakeDriverTools::DevicesFound(1));
    EXPECT_TRUE(findAudioDriver());

    EXPECT_FALSE(installAudioDriver());  // exit 0, but no success line
    tools_.setOutput("audio-x64", "install", FakeDriverTools::InstalledSuccessfully());
    EXPECT_TRUE(installAudioDriver());

    // Removal: judged by the exit code (devcon: 0 done, 1 needs a restart).
    const std::pair<int, bool> exits[] = {{0, true}, {1, true}, {2, false}, {3, false}};
    for (const auto& [code, expected] : exits) {
        tools_.setExit("audio-x64", "remove", code);
        EXPECT_EQ(removeAudioDriver(), expected) << code;
    }
    tools_.remove("audio-x64");
    EXPECT_FALSE(removeAudioDriver());
    EXPECT_FALSE(findAudioDriver());
}

TEST_F(DriverInstall, AToolPastItsTimeLimitIsKilledAndCountsAsFailure) {
    tools_.setOutput("audio-x64", "find", FakeDriverTools::DevicesFound(1));
    tools_.setDelay("audio-x64", "find", 20);
    tools_.setDelay("audio-x64", "remove", 20);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(findAudioDriver(400));
    EXPECT_FALSE(removeAudioDriver(400));
    EXPECT_LT(clock.elapsed(), 8000);
    const std::vector<FakeDriverTools::Call> calls = tools_.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_FALSE(calls[0].ended);
    EXPECT_FALSE(calls[1].ended);

    const DriverToolRun run = RunDriverTool(findAudioDriverCommand(), 300);
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.finished);
    EXPECT_FALSE(run.exitedWith(0));
}

TEST_F(DriverInstall, CameraDriverOfTheRightVersionIsKept) {
    tools_.setOutput("camera", "find", FakeDriverTools::DevicesFound(1));
    tools_.setOutput("camera", "drivernodes",
                     "ROOT\\CAMERA\\0000\nDriver node #0:\n    Inf file is C:\\Windows\\INF\\oem7.inf\n"
                     "    Driver version is 1.0.1.1\n");
    EXPECT_EQ(getCameraDriverInfo(), "1.0.1.1");
    EXPECT_TRUE(checkCameraDriver());
    EXPECT_EQ(tools_.callsOf("camera").filter("[remove]").size(), 0);
}

TEST_F(DriverInstall, CameraDriverOfAnotherVersionIsRemovedBeforeTheCheckReturns) {
    tools_.setOutput("camera", "find", FakeDriverTools::DevicesFound(1));
    // Two nodes: the last one counts.
    tools_.setOutput("camera", "drivernodes", "Driver version is 1.0.1.1\nDriver version is 1.0.1.0\n");
    tools_.setDelay("camera", "remove", 0.3);
    EXPECT_EQ(getCameraDriverInfo(), "1.0.1.0");
    EXPECT_FALSE(checkCameraDriver());
    // The removal has ended already: an install started now cannot race it.
    const std::vector<FakeDriverTools::Call> calls = tools_.calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().arguments, QStringList({"remove", "Root\\TAMRY\\ZuCamera"}));
    EXPECT_TRUE(calls.back().ended);
}

TEST_F(DriverInstall, NoCameraDriverMeansNoVersionQuery) {
    tools_.setOutput("camera", "find", FakeDriverTools::NoDevicesFound());
    EXPECT_FALSE(checkCameraDriver());
    EXPECT_EQ(tools_.callsOf("camera"), QStringList({"[find][=][Root\\TAMRY\\ZuCamera]"}));
    // A version line that is not a whole line is no version.
    tools_.setOutput("camera", "drivernodes", "Driver version is\nxDriver version is 9 9\n");
    EXPECT_EQ(getCameraDriverInfo(), "");
}

TEST_F(DriverInstall, On32BitSystemsCameraFunctionsFailAndAudioUsesX86) {
    SetSystemVersionOverrideForTesting(false, std::nullopt);
    tools_.setOutput("camera", "find", FakeDriverTools::DevicesFound(1));
    tools_.setOutput("audio-x86", "find", FakeDriverTools::DevicesFound(1));
    EXPECT_EQ(installCameraDriverCommand(), "");
    EXPECT_EQ(removeCameraDriverCommand(), "");
    EXPECT_FALSE(checkCameraDriver());
    EXPECT_FALSE(removeCameraDriver());
    EXPECT_EQ(getCameraDriverInfo(), "");
    EXPECT_TRUE(findAudioDriver());
    EXPECT_TRUE(tools_.callsOf("camera").isEmpty());
    EXPECT_TRUE(tools_.callsOf("audio-x64").isEmpty());
    EXPECT_EQ(tools_.callsOf("audio-x86"), QStringList({"[find][=media][*ZuWaveExtensible]"}));
    EXPECT_EQ(installAudioDriverCommand(), "\"" + f() + "/Drivers/audio/x86/devcon\" /r install \"" + f() +
                                               "/Drivers/audio/x86/ZuVirtualAudioDevice.inf\" *ZuWaveExtensible");
}

TEST(ServiceCheck, TheIosServiceIsThereWhenUsbmuxdsSocketIs) {
    const QByteArray saved = qgetenv("USBMUXD_SOCKET_ADDRESS");
    const bool had = qEnvironmentVariableIsSet("USBMUXD_SOCKET_ADDRESS");
    QTemporaryDir dir;
    const QString socket = dir.path() + "/usbmuxd";
    qputenv("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + socket).toLocal8Bit());
    EXPECT_FALSE(isServiceExist("Apple Mobile Device Service"));
    QFile file(socket);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_TRUE(isServiceExist("Apple Mobile Device Service"));
    EXPECT_FALSE(isServiceExist("apple mobile device service"));
    EXPECT_FALSE(isServiceExist("Some Other Service"));
    qputenv("USBMUXD_SOCKET_ADDRESS", "127.0.0.1:27015");
    EXPECT_TRUE(isServiceExist("Apple Mobile Device Service"));
    if (had) {
        qputenv("USBMUXD_SOCKET_ADDRESS", saved);
    } else {
        qunsetenv("USBMUXD_SOCKET_ADDRESS");
    }
}

}  // namespace
