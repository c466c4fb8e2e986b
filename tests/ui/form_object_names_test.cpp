// Every object the forms' code, style sheets and slot names rely on exists
// under its name, of its class, with its designer text: one table per form.
#include <QAbstractButton>
#include <QLabel>
#include <QVariant>
#include <gtest/gtest.h>

#include "support/named_objects.h"
#include "ui/main-form.h"
#include "ui/menu-state-form.h"
#include "ui/widgets/show-mask-widget.h"
#include "ui/widgets/usb-listview-item.h"

namespace {

using zucam::test::NamedObject;

const NamedObject kMainFormObjects[] = {
    {"gridLayout", "QGridLayout", nullptr},
    {"stackedWidget", "QStackedWidget", nullptr},
    {"page_waitlink", "QWidget", nullptr},
    {"gridLayout_5", "QGridLayout", nullptr},
    {"horizontalLayout_3", "QHBoxLayout", nullptr},
    {"frame_selection_1", "QFrame", nullptr},
    {"horizontalLayout_4", "QHBoxLayout", nullptr},
    {"pushButton_wire_link_1", "QPushButton", "无线连接"},
    {"pushButton_usb_link_1", "QPushButton", "USB连接"},
    {"verticalLayout", "QVBoxLayout", nullptr},
    {"label_imgwait", "RotateLabel", nullptr},
    {"gridLayout_2", "QGridLayout", nullptr},
    {"label_inner_img", "QLabel", nullptr},
    {"label_device_name", "QLabel", nullptr},
    {"label_wait", "QLabel", "正在等待连接"},
    {"label_ip", "QLabel", nullptr},
    {"page_usb_wait_link", "QWidget", nullptr},
    {"gridLayout_9", "QGridLayout", nullptr},
    {"horizontalLayout_2", "QHBoxLayout", nullptr},
    {"frame_selection_2", "QFrame", nullptr},
    {"horizontalLayout", "QHBoxLayout", nullptr},
    {"pushButton_wire_link_2", "QPushButton", "无线连接"},
    {"pushButton_usb_link_2", "QPushButton", "USB连接"},
    {"stackedWidget_usb_step", "QStackedWidget", nullptr},
    {"page_noLink", "QWidget", nullptr},
    {"verticalLayout_5", "QVBoxLayout", nullptr},
    {"verticalLayout_3", "QVBoxLayout", nullptr},
    {"frame_andusb_title", "QFrame", nullptr},
    {"horizontalLayout_5", "QHBoxLayout", nullptr},
    {"label_andusb_logo", "QLabel", nullptr},
    {"label_andusb_title", "QLabel", "安卓连接"},
    {"gridLayout_7", "QGridLayout", nullptr},
    {"label_andusb_slogo_1", "QLabel", nullptr},
    {"label_andusb_step_1", "QLabel", "手机打开Zu虚拟摄像头，设置中连接方式选择USB连接"},
    {"label_andusb_slogo_2", "QLabel", nullptr},
    {"horizontalLayout_7", "QHBoxLayout", nullptr},
    {"label_andusb_step_2", "QLabel", "手机开启调试模式并连接USB线到电脑"},
    {"label_how_to_open", "QLabel", nullptr},
    {"label_andusb_slogo_3", "QLabel", nullptr},
    {"label_andusb_step_3", "QLabel", "手机出现的弹框中选择“传输文件”“始终允许调试”"},
    {"label_andusb_slogo_4", "QLabel", nullptr},
    {"label_andusb_step_4", "QLabel", "手机端点击检测到的设备连接即可"},
    {"verticalLayout_4", "QVBoxLayout", nullptr},
    {"frame_iosusb_title", "QFrame", nullptr},
    {"horizontalLayout_6", "QHBoxLayout", nullptr},
    {"label_iosusb_logo", "QLabel", nullptr},
    {"label_iosusb_title", "QLabel", "苹果连接"},
    {"pushButton_ios_usb_server_tips", "QPushButton", nullptr},
    {"gridLayout_8", "QGridLayout", nullptr},
    {"label_iosusb_slogo_1", "QLabel", nullptr},
    {"label_iosusb_step_1", "QLabel", "手机打开Zu虚拟摄像头，在设置中连接方式选择USB连接"},
    {"label_iosusb_slogo_2", "QLabel", nullptr},
    {"horizontalLayout_8", "QHBoxLayout", nullptr},
    {"label_iosusb_step_2", "QLabel", "手机连接USB线到电脑"},
    {"label_iosusb_slogo_3", "QLabel", nullptr},
    {"label_iosusb_step_3", "QLabel", "电脑端选择检测到的设备连接"},
    {"label_iosusb_slogo_4", "QLabel", nullptr},
    {"label_iosusb_step_4", "QLabel", "手机端选择信任设备，输入设备密码即可连接成功"},
    {"label_usb_notice", "QLabel", "注意：USB连接时电脑请保持在本页面"},
    {"page_checkLink", "QWidget", nullptr},
    {"verticalLayout_9", "QVBoxLayout", nullptr},
    {"verticalLayout_8", "QVBoxLayout", nullptr},
    {"frame_ios_select_1", "QFrame", nullptr},
    {"verticalLayout_6", "QVBoxLayout", nullptr},
    {"frame_ios_select_step_1", "QFrame", nullptr},
    {"horizontalLayout_9", "QHBoxLayout", nullptr},
    {"label_ios_select_idx_1", "QLabel", "1"},
    {"label_ios_select_title_1", "QLabel", "点连接"},
    {"label_ios_tips_1", "QLabel", "        仅限iphone、ipad，安卓USB连接不适应此流程"},
    {"listWidget", "QListWidget", nullptr},
    {"frame_ios_select_2", "QFrame", nullptr},
    {"verticalLayout_7", "QVBoxLayout", nullptr},
    {"frame_ios_select_step_2", "QFrame", nullptr},
    {"horizontalLayout_10", "QHBoxLayout", nullptr},
    {"label_ios_select_idx_2", "QLabel", "2"},
    {"label_ios_select_title_2", "QLabel", "苹果手机上点信任设备、输入密码即可连接成功"},
    {"label_ios_tips_2", "QLabel", "        手机请打开虚拟摄像头app"},
    {"frame_ios_step_demo", "QFrame", nullptr},
    {"horizontalLayout_11", "QHBoxLayout", nullptr},
    {"label_ios_demo_1", "QLabel", nullptr},
    {"label_ios_demo_2", "QLabel", nullptr},
    {"label_ios_demo_3", "QLabel", nullptr},
    {"page_linksuccess", "QWidget", nullptr},
    {"gridLayout_4", "QGridLayout", nullptr},
    {"verticalLayout_2", "QVBoxLayout", nullptr},
    {"label_imgsuccess", "QLabel", nullptr},
    {"label_success", "QLabel", nullptr},
    {"page_display", "QWidget", nullptr},
    {"gridLayout_3", "QGridLayout", nullptr},
    {"frame_display", "QFrame", nullptr},
    {"gridLayout_6", "QGridLayout", nullptr},
    {"openGLWidget", "OpenGLWidget", nullptr},
    {"painterWidget", "PainterWidget", nullptr},
};

const NamedObject kMenuStateFormObjects[] = {
    {"gridLayout", "QGridLayout", nullptr},
    {"frame_menustate_background", "QFrame", nullptr},
    {"horizontalLayout_5", "QHBoxLayout", nullptr},
    {"horizontalLayout_2", "QHBoxLayout", nullptr},
    {"pushButton_menu_set", "QPushButton", nullptr},
    {"pushButton_menu_help", "QPushButton", nullptr},
    {"pushButton_menu_aboutus", "QPushButton", nullptr},
    {"pushButton_menu_camera_set", "QPushButton", nullptr},
    {"pushButton_menu_cutscm", "QPushButton", nullptr},
    {"horizontalLayout", "QHBoxLayout", nullptr},
    {"pushButton_menu_record", "QPushButton", nullptr},
    {"label_menu_time", "QLabel", "00:00:00"},
    {"horizontalLayout_3", "QHBoxLayout", nullptr},
    {"label_menu_state", "QLabel", "未连接"},
    {"pushButton_video_transport", "QPushButton", nullptr},
    {"pushButton_menu_volumn_img", "QPushButton", nullptr},
};

const NamedObject kUSBListViewItemObjects[] = {
    {"gridLayout", "QGridLayout", nullptr},
    {"frame_border", "QFrame", nullptr},
    {"horizontalLayout", "QHBoxLayout", nullptr},
    {"label_name", "QLabel", nullptr},
    {"pushButton_error", "QPushButton", nullptr},
    {"pushButton_connect", "QPushButton", "连接"},
};

const NamedObject kShowMaskWidgetObjects[] = {
    {"gridLayout", "QGridLayout", nullptr},
    {"frame_backdrop", "QFrame", nullptr},
    {"verticalLayout_2", "QVBoxLayout", nullptr},
    {"widget_video_stop", "QWidget", nullptr},
    {"verticalLayout", "QVBoxLayout", nullptr},
    {"label_mask_note", "QLabel", "画面采集已关闭，点击右下角的手机图标，将继续采集画面。"},
};

TEST(FormObjectNames, ConnectionForm) {
    MainForm form;
    EXPECT_EQ(form.objectName(), QString("MainForm"));
    zucam::test::ExpectNamedObjects(form, kMainFormObjects);
    // The link's target is what the slot gets; its text is what one reads.
    const auto* howTo = form.findChild<QLabel*>("label_how_to_open");
    ASSERT_NE(howTo, nullptr);
    EXPECT_TRUE(howTo->text().contains("href=\"Open Help\""));
    EXPECT_TRUE(howTo->text().contains(QString::fromUtf8("手机如何开启USB调试模式")));
}

TEST(FormObjectNames, ToolBar) {
    MenuStateForm form;
    EXPECT_EQ(form.objectName(), QString("MenuStateForm"));
    zucam::test::ExpectNamedObjects(form, kMenuStateFormObjects);
    const QObject* record = form.findChild<QObject*>("pushButton_menu_record");
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->property("recording").isValid());
    for (const char* name : {"pushButton_menu_set", "pushButton_menu_help", "pushButton_menu_aboutus",
                             "pushButton_menu_camera_set", "pushButton_menu_cutscm", "pushButton_menu_record"}) {
        EXPECT_EQ(form.findChild<QWidget*>(name)->focusPolicy(), Qt::NoFocus) << name;
    }
}

TEST(FormObjectNames, ListRowAndMask) {
    USBListViewItem row;
    EXPECT_EQ(row.objectName(), QString("USBListViewItem"));
    zucam::test::ExpectNamedObjects(row, kUSBListViewItemObjects);
    ShowMaskWidget mask;
    EXPECT_EQ(mask.objectName(), QString("ShowMaskWidget"));
    zucam::test::ExpectNamedObjects(mask, kShowMaskWidgetObjects);
}

}  // namespace
