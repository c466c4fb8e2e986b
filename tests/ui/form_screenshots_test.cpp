// The two forms in each of their states, rendered and saved as PNG files for
// a person to look at (into $ZUCAM_SHOT_DIR, default /tmp/zucam-forms; run
// with QT_FONT_DPI=120 for the 1.25 scale). The checks here catch a form
// that renders blank or without its style sheet.
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include "core/qss/qss_manager.h"
#include "support/message_box_recorder.h"
#include "ui/main-form.h"
#include "ui/menu-state-form.h"
#include "ui/widgets/usb-listview-item.h"
#include "zucam.h"

namespace {

QString ShotPath(const QString& name) {
    QString dir = qEnvironmentVariable("ZUCAM_SHOT_DIR", "/tmp/zucam-forms");
    QDir().mkpath(dir);
    return QString("%1/%2@%3.png").arg(dir, name, QString::number(dpiScaleFactor(), 'f', 2));
}

QImage Shoot(QWidget& widget, const QString& name) {
    QCoreApplication::processEvents();
    QTest::qWait(150);  // let the waiting indicator draw a step
    const QImage image = widget.grab().toImage();
    image.save(ShotPath(name));
    return image;
}

TEST(FormScreenshots, ConnectionFormInEveryState) {
    ZuCam* app = zucamApp();
    ASSERT_NE(app, nullptr);
    QCoreApplication::processEvents();  // ZuCam loads its settings first
    app->useHardwareRender = false;
    app->appleMobileDeviceInstalled = false;
    app->deviceName = "ZuCam[desk-01]";
    MainForm form;
    form.SetDeviceNameLookup([](const QString& serial, QString* error) {
        if (serial == "untrusted") {
            *error = "Could not connect to lockdownd";
            return QString();
        }
        return QString("iPhone of %1").arg(serial);
    });
    form.resize(656, 673);
    form.show();
    form.findChild<QLabel*>("label_device_name")->setText(app->deviceName);
    form.SetIpAddress({"192.168.1.20", "10.1.2.3"});

    const QImage wifi = Shoot(form, "main-form-0-wifi");
    EXPECT_EQ(wifi.pixelColor(5, 100), QColor("#F5F5F5"));

    form.ShowState(MainForm::kUsbWaiting);
    form.UpdateIosServiceTip();
    const QImage usbSteps = Shoot(form, "main-form-1-usb-steps");
    EXPECT_EQ(usbSteps.pixelColor(5, 100), QColor("#F5F5F5"));

    form.UpdateUsbDeviceList({"Anna", "untrusted", "Bob"});
    QTRY_COMPARE_WITH_TIMEOUT(form.lookupsInFlight(), 0, 5000);
    QTest::mouseClick(form.deviceEntries().value("Bob").widget->findChild<QWidget*>("pushButton_connect"),
                      Qt::LeftButton);
    QTest::mouseClick(form.deviceEntries().value("Anna").widget->findChild<QWidget*>("pushButton_connect"),
                      Qt::LeftButton);
    form.OnUsbConnectError("pairing refused");
    Shoot(form, "main-form-1-usb-list");

    form.ShowConnectedDevice("Anna's iPhone");
    form.ShowState(MainForm::kConnected);
    const QImage connected = Shoot(form, "main-form-2-connected");
    EXPECT_EQ(connected.pixelColor(5, 100), QColor("#F5F5F5"));

    form.ShowState(MainForm::kPreview);
    QTest::qWait(700);  // the overlays' first check of the picture flag
    const QImage preview = Shoot(form, "main-form-3-preview");
    EXPECT_EQ(preview.pixelColor(100, 100), QColor(Qt::black));  // no picture yet: black

    app->setVideoTransport(false);
    QTest::qWait(700);  // the overlay checks every 500 ms
    const QImage masked = Shoot(form, "main-form-3-preview-picture-off");
    EXPECT_NE(masked, preview);
    app->setVideoTransport(true);
}

TEST(FormScreenshots, ToolBarInEveryState) {
    zucam::test::MessageBoxRecorder boxes;
    ZuCam* app = zucamApp();
    ASSERT_NE(app, nullptr);
    QCoreApplication::processEvents();
    app->openVmic = true;
    app->firstOpen = false;
    QWidget window;
    window.resize(823, 128);
    auto* form = new MenuStateForm(&window);
    form->setGeometry(0, 0, 823, 128);
    window.show();

    const QImage idle = Shoot(window, "menu-state-form-0-idle");
    EXPECT_EQ(idle.pixelColor(400, 64), QColor(Qt::white));

    form->SetConnectState("Pixel 8");
    form->SetTransportEnabled(true);
    form->SetCaptureEnabled(true);
    form->UpdateVolumeIcon(6, true);
    const QImage connected = Shoot(window, "menu-state-form-1-connected");
    EXPECT_NE(connected, idle);

    form->SetRecordingState(true);
    form->SetRecordDuration(90061000);
    Shoot(window, "menu-state-form-2-recording");

    app->setVideoTransport(false);
    form->slot_updateTransportBtnState();
    form->UpdateVolumeIcon(-1, true);
    Shoot(window, "menu-state-form-3-picture-off-mic-off");
    app->setVideoTransport(true);
}

}  // namespace
