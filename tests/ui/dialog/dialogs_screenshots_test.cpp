// Each dialog, rendered and saved as a PNG for a person to look at (into
// $ZUCAM_SHOT_DIR, default /tmp/zucam-dialogs). The checks catch a dialog
// that renders blank or without its style sheet.
#include <QAbstractButton>
#include <QDir>
#include <QImage>
#include <QMovie>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include "core/qss/qss_manager.h"
#include "ui/dialog/aboutus-dialog.h"
#include "ui/dialog/custom-tips-dialog.h"
#include "ui/dialog/guid-widget.h"
#include "ui/dialog/help-dialog.h"
#include "ui/dialog/help-info-dialog.h"
#include "ui/dialog/ios-usb-server-dialog.h"
#include "ui/dialog/message-box-dialog.h"
#include "ui/dialog/setting-dialog.h"
#include "ui/dialog/net-check-dialog.h"
#include "ui/dialog/open-usb-help-dialog.h"
#include "zucam.h"

namespace {

QString ShotPath(const QString& name) {
    const QString dir = qEnvironmentVariable("ZUCAM_SHOT_DIR", "/tmp/zucam-dialogs");
    QDir().mkpath(dir);
    return QString("%1/%2@%3.png").arg(dir, name, QString::number(dpiScaleFactor(), 'f', 2));
}

// Saves the widget over a grey backdrop (so a translucent one shows its
// outline) and returns the image as grabbed.
QImage Shoot(QWidget& widget, const QString& name) {
    widget.show();
    QCoreApplication::processEvents();
    QTest::qWait(50);
    const QImage image = widget.grab().toImage();
    QImage shot(image.size() + QSize(16, 16), QImage::Format_RGB32);
    shot.fill(QColor("#8C939D"));
    QPainter painter(&shot);
    painter.drawImage(8, 8, image);
    painter.end();
    EXPECT_TRUE(shot.save(ShotPath(name))) << name.toStdString();
    return image;
}

int Colours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
    }
    return colours.size();
}

class DialogScreenshots : public testing::Test {
protected:
    void SetUp() override {
        QCoreApplication::processEvents();  // ZuCam's own start-up runs first
    }
};

TEST_F(DialogScreenshots, NetworkDiagnosisInEachState) {
    ZuCam* app = zucamApp();
    NetCheckDialog dialog(nullptr);
    const QImage stopped = Shoot(dialog, "net-check-0-stopped");
    EXPECT_EQ(stopped.pixelColor(stopped.width() / 2, 5), QColor("#F1F1F1"));  // the title bar
    EXPECT_GT(Colours(stopped), 10);

    app->setLocalIp("192.168.1.20");
    dialog.findChild<QAbstractButton*>("pushButton_open_check")->click();
    Shoot(dialog, "net-check-1-listening");
    dialog.findChild<QAbstractButton*>("pushButton_copy_url")->click();
    Shoot(dialog, "net-check-2-copied");
    dialog.findChild<QAbstractButton*>("pushButton_open_check")->click();
    app->setLocalIp(QString());
    dialog.findChild<QAbstractButton*>("pushButton_open_check")->click();
    Shoot(dialog, "net-check-3-no-local-address");
    dialog.findChild<QAbstractButton*>("pushButton_open_check")->click();
}

TEST_F(DialogScreenshots, AboutHelpAndHelpPage) {
    AboutUsDialog about(nullptr);
    const QImage a = Shoot(about, "about-us");
    EXPECT_GT(Colours(a), 10);

    HelpDialog help(nullptr);
    Shoot(help, "help-0-wifi");
    help.findChild<QAbstractButton*>("pushButton_usb_help")->click();
    const QImage usb = Shoot(help, "help-1-usb");
    EXPECT_GT(Colours(usb), 10);

    HelpInfoDialog page(nullptr);
    const QImage top = Shoot(page, "help-page-0-top");
    EXPECT_GT(Colours(top), 10);
    auto* scroll = page.findChild<QScrollArea*>("scrollArea");
    ASSERT_GT(scroll->verticalScrollBar()->maximum(), 0) << "the page does not scroll";
    for (int step = 1; step <= 4; ++step) {
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum() * step / 4);
        Shoot(page, QString("help-page-%1").arg(step));
    }
}

TEST_F(DialogScreenshots, IosOfferTipGuideAndUsbHelp) {
    IosUsbServerDialog offer(nullptr);
    const QImage o = Shoot(offer, "ios-usb-server");
    EXPECT_EQ(o.pixelColor(o.width() / 2, 5), QColor("#D8D8D8"));

    CustomTipsDialog tip(nullptr);
    tip.SetText(QString::fromUtf8("截屏成功，可在\n设置中打开目录查看"));
    Shoot(tip, "custom-tips");

    GuidWidget guide(nullptr);
    const QImage g = Shoot(guide, "guide-bubble");
    EXPECT_EQ(g.pixelColor(2, 2).alpha(), 0);

    OpenUSBHelpDialog usb(nullptr);
    Shoot(usb, "usb-help-0");
    for (int i = 0; i < 5; ++i) usb.movie()->jumpToNextFrame();
    const QImage later = Shoot(usb, "usb-help-5");
    EXPECT_GT(Colours(later), 10);
}

// What the program tells when the driver camera, the desktop's opener or the
// iOS service is missing.
TEST_F(DialogScreenshots, MissingCameraOpenerAndIosServiceNotices) {
    MessageBoxDialog camera(nullptr);
    camera.SetMessage(QString::fromUtf8(SettingDialog::kCameraDriverMissingNotice));
    camera.SetButtons(1, QString::fromUtf8("确定"), QString());
    EXPECT_GT(Colours(Shoot(camera, "camera-driver-missing")), 10);

    MessageBoxDialog opener(nullptr);
    opener.SetMessage(QString::fromUtf8("无法打开文件夹，文件保存在：\n/home/user/Videos/ZuCam/"));
    opener.SetButtons(1, QString::fromUtf8("确定"), QString());
    EXPECT_GT(Colours(Shoot(opener, "opener-missing")), 10);

    IosUsbServerDialog notice(nullptr);  // no package beside the test program
    EXPECT_GT(Colours(Shoot(notice, "ios-usb-service-notice")), 10);
}

}  // namespace
