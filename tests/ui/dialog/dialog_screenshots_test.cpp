// The settings, rename, picture-adjustment and mode-switch dialogs rendered
// and saved as PNG files for a person to look at (into $ZUCAM_SHOT_DIR,
// default /tmp/zucam-dialogs). The checks catch a dialog that renders blank
// or without its style sheet.
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

#include "core/qss/qss_manager.h"
#include "core/tether/tq.h"
#include "core/tether/tq_config.h"
#include "ui/dialog/camera-model-dialog.h"
#include "ui/dialog/frame-adjustment-dialog.h"
#include "ui/dialog/modify-info-dialog.h"
#include "ui/dialog/setting-dialog.h"
#include "zucam.h"

namespace {

QImage Shoot(QWidget& widget, const QString& name) {
    widget.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&widget));
    QCoreApplication::processEvents();
    const QImage image = widget.grab().toImage();
    const QString dir = qEnvironmentVariable("ZUCAM_SHOT_DIR", "/tmp/zucam-dialogs");
    QDir().mkpath(dir);
    EXPECT_TRUE(image.save(QString("%1/%2@%3.png").arg(dir, name, QString::number(dpiScaleFactor(), 'f', 2))));
    return image;
}

class DialogScreenshots : public testing::Test {
protected:
    void SetUp() override {
        app = zucamApp();
        ASSERT_NE(app, nullptr);
        QCoreApplication::processEvents();  // ZuCam loads its settings first
        SettingDialog::SetCameraModeToolsForTesting(CameraModeTools{});  // run nothing
        app->deviceName = "ZuCam[desk-01]";
        app->saveDir = "/home/user/Videos/ZuCam";
        app->cameraName = "Zu Camera";
    }
    void TearDown() override { SettingDialog::SetCameraModeToolsForTesting(std::nullopt); }
    ZuCam* app = nullptr;
};

TEST_F(DialogScreenshots, SettingDialogInBothModes) {
    for (int mode : {0, 1}) {
        tq::SetConfig<int>(g_cd->config, "camera_mode", mode);
        app->shotOpenDir = mode == 1;
        app->useHardwareRender = mode == 1;
        SettingDialog dialog(nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.cameraModeSwitchBusy(), 5000);
        const QImage image = Shoot(dialog, QString("setting-dialog-%1").arg(mode == 0 ? "dshow" : "driver"));
        EXPECT_EQ(image.pixelColor(image.width() / 2, 3), QColor("#F1F1F1"));  // the title bar
        EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() - 3), QColor("#FFFFFF"));
    }
}

TEST_F(DialogScreenshots, RenamePictureAdjustmentAndModeSwitchNotice) {
    ModifyInfoDialog rename(nullptr);
    rename.SetOldName("Zu Camera");
    rename.findChild<QLineEdit*>("lineEdit_new_name")->setText(QString::fromUtf8("会议室摄像头"));
    const QImage renameShot = Shoot(rename, "modify-info-dialog");
    EXPECT_EQ(renameShot.pixelColor(3, 3), QColor("#FFFFFF"));

    FrameAdjustmentDialog adjustment(nullptr);
    const QImage adjustmentZero = Shoot(adjustment, "frame-adjustment-dialog-0");
    EXPECT_EQ(adjustmentZero.pixelColor(adjustmentZero.width() / 2, 5), QColor("#F1F1F1"));
    adjustment.findChild<QSlider*>("horizontalSlider_color_correction")->setValue(250);
    adjustment.findChild<QSlider*>("horizontalSlider_brightness")->setValue(-37);
    Shoot(adjustment, "frame-adjustment-dialog-set");

    CameraModelDialog busy(nullptr);
    busy.SetText(QString::fromUtf8("正在切换模式...."));
    Shoot(busy, "camera-model-dialog");
}

}  // namespace
