#include <QDir>
#include <gtest/gtest.h>

#include "core/tether/tq.h"
#include "core/values/value_qt.h"
#include "zucam.h"

namespace {

std::string stored(const char* key, bool* found = nullptr) {
    bool present = false;
    std::string text = g_cd->config->getString(key, &present);
    if (found != nullptr) *found = present;
    return text;
}

std::string uiText(const char* key) {
    const tq::Value value = g_cd->uiValues->get(key, tq::Value());
    EXPECT_EQ(value.type(), 31) << key;
    return value.toStdString();
}

TEST(ZuCamSettings, FreshStoreGetsEveryDefaultAtLoad) {
    ZuCam* app = zucamApp();
    ASSERT_NE(app, nullptr);
    app->loadConfig();

    EXPECT_EQ(app->saveDir, QDir::homePath());
    EXPECT_EQ(app->deviceName, ZuCam::defaultDeviceName());
    EXPECT_TRUE(app->deviceName.startsWith("ZuCam[") && app->deviceName.endsWith("]"));
    EXPECT_EQ(app->cameraName, "Zu Camera");
    EXPECT_TRUE(app->firstOpen);
    EXPECT_FALSE(app->shotOpenDir || app->windowStaysOnTop || app->openVmic || app->playAudio ||
                 app->useHardwareRender);

    // Written back at once, before any save.
    EXPECT_EQ(stored("cfg_save_dir"), QDir::homePath().toStdString());
    EXPECT_EQ(stored("cfg_device_name"), ZuCam::defaultDeviceName().toStdString());
    EXPECT_EQ(stored("cfg_camera_name"), "Zu Camera");
    EXPECT_EQ(stored("cfg_first_open"), "1");
    for (const char* key : {"cfg_shot_opendir", "cfg_window_stays_on_top", "cfg_open_vmic", "cfg_play_audio",
                            "cfg_use_hardware_render"}) {
        EXPECT_EQ(stored(key), "0") << key;
    }
    EXPECT_EQ(uiText("zucam_device_name"), app->deviceName.toStdString());
    EXPECT_EQ(uiText("zucam_camera_name"), "Zu Camera");
}

TEST(ZuCamSettings, SavedFieldsSurviveARestart) {
    ZuCam* app = zucamApp();
    app->loadConfig();
    app->cameraName = "  My  Cam 摄像头 ";
    app->deviceName = "桌面 PC";
    app->saveDir = "/tmp/zu cam/录像";
    app->firstOpen = false;
    app->windowStaysOnTop = true;
    app->useHardwareRender = true;
    app->saveConfig();

    g_cd->config->setString("cfg_camera_name", "changed without a flush");
    // A new run of Tether reads only what reached the disk.
    tq::UninitTether();
    tq::InitTether(0, nullptr);
    app->cameraName.clear();
    app->loadConfig();
    EXPECT_EQ(app->cameraName, "  My  Cam 摄像头 ");
    EXPECT_EQ(app->deviceName, "桌面 PC");
    EXPECT_EQ(app->saveDir, "/tmp/zu cam/录像");
    EXPECT_FALSE(app->firstOpen);
    EXPECT_TRUE(app->windowStaysOnTop);
    EXPECT_TRUE(app->useHardwareRender);
}

TEST(ZuCamSettings, EmptyTextsLoadAsTheirDefaultsAndAreSavedSo) {
    g_cd->config->setString("cfg_device_name", "");
    g_cd->config->setString("cfg_camera_name", "");
    g_cd->config->setString("cfg_save_dir", "");
    ZuCam* app = zucamApp();
    app->loadConfig();
    EXPECT_EQ(app->deviceName, ZuCam::defaultDeviceName());
    EXPECT_EQ(app->cameraName, "Zu Camera");
    EXPECT_EQ(app->saveDir, QDir::homePath());
    // The fallback reaches the store only with the next save.
    EXPECT_EQ(stored("cfg_device_name"), "");
    app->saveConfig();
    EXPECT_EQ(stored("cfg_device_name"), ZuCam::defaultDeviceName().toStdString());
}

TEST(ZuCamSettings, PlayAudioIsReadButNeverWritten) {
    g_cd->config->setString("cfg_play_audio", "1");
    ZuCam* app = zucamApp();
    app->loadConfig();
    EXPECT_TRUE(app->playAudio);
    app->playAudio = false;
    app->saveConfig();
    EXPECT_EQ(stored("cfg_play_audio"), "1");
}

TEST(ZuCamSettings, NothingIsSavedWithoutALoad) {
    // A secondary instance never loads: its exit must not overwrite the
    // primary's settings with blanks.
    ZuCam* app = zucamApp();
    app->saveConfig();
    bool found = true;
    stored("cfg_device_name", &found);
    EXPECT_FALSE(found);
}

TEST(ZuCamSettings, DeviceNameChangeRefreshesItsUiValue) {
    ZuCam* app = zucamApp();
    app->loadConfig();
    app->setDeviceName("会议室 Camera");
    EXPECT_EQ(app->deviceName, "会议室 Camera");
    EXPECT_EQ(uiText("zucam_device_name"), "会议室 Camera");
}

}  // namespace
