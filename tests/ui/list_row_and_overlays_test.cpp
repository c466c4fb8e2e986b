#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "ui/widgets/plain-text.h"
#include "ui/widgets/rotate-label.h"
#include "ui/widgets/show-mask-widget.h"
#include "ui/widgets/usb-listview-item.h"
#include "zucam.h"

namespace {

QLabel* NameLabel(USBListViewItem& row) { return row.findChild<QLabel*>("label_name"); }
QPushButton* ConnectButton(USBListViewItem& row) { return row.findChild<QPushButton*>("pushButton_connect"); }
QPushButton* ErrorMark(USBListViewItem& row) { return row.findChild<QPushButton*>("pushButton_error"); }

TEST(USBListViewItem, EveryStateShowsItsButtonAndMark) {
    struct Case {
        int state;
        const char* button;
        bool enabled;
        bool errorShown;
    };
    const Case cases[] = {
        {UsbDeviceEntry::kIdle, "连接", true, false},
        {UsbDeviceEntry::kConnecting, "连接中...", false, false},
        {UsbDeviceEntry::kFailed, "重连", true, true},
    };
    for (const Case& c : cases) {
        USBListViewItem row;
        row.show();
        UsbDeviceEntry entry;
        entry.serial = "00008030-001A";
        entry.name = "iPhone";
        entry.error = "pairing refused";
        entry.state = c.state;
        row.SetState(entry);
        EXPECT_EQ(ConnectButton(row)->text(), QString::fromUtf8(c.button)) << c.state;
        EXPECT_EQ(ConnectButton(row)->isEnabled(), c.enabled) << c.state;
        EXPECT_EQ(ErrorMark(row)->isVisible(), c.errorShown) << c.state;
        row.resize(388, 53);
        QCoreApplication::processEvents();
        row.grab().save(QString("/tmp/zucam-usb-row-%1.png").arg(c.state));
        if (c.errorShown) {
            EXPECT_EQ(ErrorMark(row)->toolTip(), QString("pairing refused"));
        }
    }
}

TEST(USBListViewItem, UnknownStateChangesNothing) {
    USBListViewItem row;
    UsbDeviceEntry entry;
    entry.state = UsbDeviceEntry::kConnecting;
    row.SetState(entry);
    entry.state = 7;
    row.SetState(entry);
    EXPECT_EQ(ConnectButton(row)->text(), QString::fromUtf8("连接中..."));
    EXPECT_FALSE(ConnectButton(row)->isEnabled());
}

TEST(USBListViewItem, EmptyNameShowsTheTrustHintInEveryState) {
    for (int state : {0, 1, 2}) {
        USBListViewItem row;
        UsbDeviceEntry entry;
        entry.state = state;
        row.SetState(entry);
        EXPECT_EQ(NameLabel(row)->text(), QString::fromUtf8(USBListViewItem::kUntrustedNameHint)) << state;
    }
}

TEST(USBListViewItem, DeviceNameAndErrorAreShownAsPlainText) {
    USBListViewItem row;
    UsbDeviceEntry entry;
    entry.name = "<b>Eve</b><img src=x>";
    entry.error = "<a href='http://evil.example'>click</a>";
    entry.state = UsbDeviceEntry::kFailed;
    row.SetState(entry);
    EXPECT_EQ(NameLabel(row)->textFormat(), Qt::PlainText);
    EXPECT_EQ(NameLabel(row)->text(), entry.name);
    // The tooltip renders to the literal text, not to a link.
    const QString tip = ErrorMark(row)->toolTip();
    EXPECT_TRUE(tip.contains("&lt;a href="));
    EXPECT_FALSE(tip.contains("<a href"));
    EXPECT_EQ(PlainToolTip(""), QString());
}

TEST(USBListViewItem, ConnectButtonSendsTheRowsSerial) {
    USBListViewItem row;
    UsbDeviceEntry entry;
    entry.serial = "abc123";
    row.SetState(entry);
    QSignalSpy spy(&row, &USBListViewItem::sig_Connect);
    QTest::mouseClick(ConnectButton(row), Qt::LeftButton);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), QString("abc123"));
}

TEST(ShowMaskWidget, NoticeFollowsThePictureSwitch) {
    ZuCam* app = zucamApp();
    ASSERT_NE(app, nullptr);
    ShowMaskWidget mask;
    mask.resize(451, 333);
    mask.show();
    app->videoTransport = false;
    // The widget looks every 500 ms; the deadline leaves room for a loaded sanitizer run.
    EXPECT_TRUE(QTest::qWaitFor([&] { return mask.noticeShown(); }, 5000));
    mask.grab().save("/tmp/zucam-mask-on.png");
    app->videoTransport = true;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !mask.noticeShown(); }, 5000));
}

TEST(RotateLabel, StepsOnlyWhileVisibleAndSharesOneAngle) {
    RotateLabel::resetAngle();
    RotateLabel hidden;
    hidden.Step();
    EXPECT_EQ(RotateLabel::angle(), 0.0);

    RotateLabel a;
    RotateLabel b;
    a.resize(280, 280);
    b.resize(280, 280);
    a.SetBackgroundPixmap(":/image/display_waitting.png");
    a.SetRotatePixmap(":/image/display_waitting_cursor.png");
    a.show();
    b.show();
    a.Step();
    b.Step();
    EXPECT_DOUBLE_EQ(RotateLabel::angle(), 15.0);  // two labels, one shared angle
    EXPECT_FALSE(a.pixmap(Qt::ReturnByValue).isNull());
    for (int i = 0; i < 46; ++i) a.Step();
    EXPECT_DOUBLE_EQ(RotateLabel::angle(), 0.0);  // 48 steps make one turn and wrap
}

TEST(RotateLabel, MissingFileKeepsThePixmapAndStartRestarts) {
    RotateLabel label;
    label.resize(100, 100);
    label.SetBackgroundPixmap(":/image/display_waitting.png");
    label.SetBackgroundPixmap(":/image/no_such_image.png");
    label.show();
    label.Step();
    EXPECT_FALSE(label.pixmap(Qt::ReturnByValue).isNull());
    label.Stop();  // stopping a stopped label is harmless
    EXPECT_FALSE(label.isRunning());
    label.SetInterval(100);
    label.Start();
    label.Start();
    EXPECT_TRUE(label.isRunning());
    label.Stop();
    EXPECT_FALSE(label.isRunning());
}

}  // namespace
