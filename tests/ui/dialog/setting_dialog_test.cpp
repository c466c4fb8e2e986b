// The settings dialog: its form, every control acting at once on ZuCam or the
// configuration, the save folder's write test, the debounced version check,
// closing with the camera name, and the camera-mode switch with stand-in
// tools that log their arguments (the command order of each mode, one switch
// at a time, bounded tool runs, the stored mode clamped).
#include <QApplication>
#include <QProcess>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QValidator>
#include <gtest/gtest.h>
#include <vector>

#include "support/header_drag.h"
#include "../../devices/audio/fifo_reader.h"
#include "core/system/system_info.h"
#include "devices/audio/audio_device_link.h"
#include "devices/driver_install/driver_install.h"
#include "support/named_objects.h"
#include "support/fake_driver_tools/fake_driver_tools.h"
#include "ui/menu-state-form.h"
#include "core/tether/tq.h"
#include "core/tether/tq_config.h"
#include "support/message_box_recorder.h"
#include "ui/dialog/camera-model-dialog.h"
#include "ui/dialog/modify-info-dialog.h"
#include "ui/dialog/setting-dialog.h"
#include "zucam.h"

namespace {

using zucam::test::MessageBoxRecorder;

// Stand-in tools: one script that logs "begin <args>" and "end <args>" and
// sleeps in between as long as the file "delay" in its folder says (or,
// for a verb named in "hang", far longer).
class StandInTools {
public:
    StandInTools() {
        script_ = dir_.filePath("tool");
        QFile file(script_);
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\n"
                   "d=$(dirname \"$0\")\n"
                   "echo \"begin $*\" >> \"$d/log\"\n"
                   "if grep -qx \"$1\" \"$d/hang\" 2>/dev/null; then sleep 30; fi\n"
                   "sleep $(cat \"$d/delay\" 2>/dev/null || echo 0)\n"
                   "echo \"end $*\" >> \"$d/log\"\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    CameraModeTools tools(bool driverUsable) const {
        CameraModeTools t;
        const QString tool = "\"" + script_ + "\"";
        const QString log = dir_.filePath("log");
        t.checkCameraDriver = [log, driverUsable] {
            QFile file(log);
            file.open(QIODevice::Append);
            file.write("check\n");
            return driverUsable;
        };
        t.installCameraDriverCommand = [tool] { return tool + " install \"Root\\TAMRY\\ZuCamera\""; };
        t.removeCameraDriverCommand = [tool] { return tool + " remove"; };
        t.registerCameraFilterCommand = [tool](const QString& bits) { return tool + " register " + bits; };
        t.unregisterCameraFilterCommand = [tool](const QString& bits) { return tool + " unregister " + bits; };
        t.toolTimeoutMs = 2000;
        t.settleMs = 20;
        return t;
    }
    void setDelay(double seconds) const { Write("delay", QByteArray::number(seconds)); }
    void setHang(const QString& verb) const { Write("hang", verb.toUtf8() + "\n"); }

    QStringList log() const {
        QFile file(dir_.filePath("log"));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    void clearLog() const { QFile::remove(dir_.filePath("log")); }

private:
    void Write(const QString& name, const QByteArray& bytes) const {
        QFile file(dir_.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
    QTemporaryDir dir_;
    QString script_;
};

// Every settings dialog of the process (the main window's too) at rest.
void WaitForEverySwitch() {
    for (QWidget* w : QApplication::allWidgets()) {
        if (auto* dialog = qobject_cast<SettingDialog*>(w)) {
            QTRY_VERIFY_WITH_TIMEOUT(!dialog->cameraModeSwitchBusy(), 20000);
        }
    }
}

int StoredMode() { return tq::GetConfig<int>(g_cd->config, "camera_mode", -99, false); }

class SettingDialogTest : public testing::Test {
protected:
    void SetUp() override {
        app = zucamApp();
        ASSERT_NE(app, nullptr);
        QCoreApplication::processEvents();  // ZuCam loads its settings (and makes its window)
        WaitForEverySwitch();
        SettingDialog::SetCameraModeToolsForTesting(tools.tools(false));
        SettingDialog::SetVersionCheckRequestForTesting([this] { versionRequests.push_back(clock.elapsed()); });
        clock.start();
    }
    void TearDown() override {
        dialog.reset();
        WaitForEverySwitch();
        SettingDialog::SetCameraModeToolsForTesting(std::nullopt);
        SettingDialog::SetVersionCheckRequestForTesting(nullptr);
        SettingDialog::SetFolderChooserForTesting(nullptr);
        ModifyInfoDialog::setAnswerHook(nullptr);
        SetSystemVersionOverrideForTesting(std::nullopt, std::nullopt);
    }

    // Makes the dialog and waits for the start-up switch to end.
    void Make() {
        dialog = std::make_unique<SettingDialog>(nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->cameraModeSwitchBusy(), 20000);
    }

    template <typename T = QWidget>
    T* Child(const char* name) {
        T* child = dialog->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    ZuCam* app = nullptr;
    StandInTools tools;
    std::unique_ptr<SettingDialog> dialog;
    std::vector<qint64> versionRequests;
    QElapsedTimer clock;
};

// ---- the form ------------------------------------------------------------

TEST_F(SettingDialogTest, FormHasItsNamesTextsAndFrame) {
    Make();
    const zucam::test::NamedObject children[] = {
        {"gridLayout", "QGridLayout", nullptr},
        {"frame_set_background", "QFrame", nullptr},
        {"verticalLayout", "QVBoxLayout", nullptr},
        {"widget_set_title", "QWidget", nullptr},
        {"horizontalLayout", "QHBoxLayout", nullptr},
        {"pushButton_title_space", "QPushButton", ""},
        {"label_set_titlename", "QLabel", "更多设置"},
        {"pushButton_title_close", "QPushButton", ""},
        {"widget_set_main", "QWidget", nullptr},
        {"verticalLayout_4", "QVBoxLayout", nullptr},
        {"horizontalLayout_2", "QHBoxLayout", nullptr},
        {"widget_space", "QWidget", nullptr},
        {"checkBox_shotOpendir", "QCheckBox", "截屏后马上打开目录"},
        {"checkBox_wintop", "QCheckBox", "窗口置顶"},
        {"line_2", "QFrame", nullptr},
        {"verticalLayout_3", "QVBoxLayout", nullptr},
        {"widget_vmic", "QWidget", nullptr},
        {"horizontalLayout_5", "QHBoxLayout", nullptr},
        {"label_vmic", "QLabel", "虚拟麦克风："},
        {"radioButton_vmic_open", "QRadioButton", "打开"},
        {"radioButton_vmic_close", "QRadioButton", "关闭"},
        {"label_tips", "QLabel", "注:打开后,录屏软件即可录制手机麦克风声音"},
        {"label_no_voice_help", "QLabel", nullptr},
        {"line_1", "QFrame", nullptr},
        {"horizontalLayout_6", "QHBoxLayout", nullptr},
        {"label_render_mode", "QLabel", "渲染模式："},
        {"comboBox_render_mode", "QComboBox", nullptr},
        {"pushButton_tooltips_2", "QPushButton", ""},
        {"horizontalLayout_4", "QHBoxLayout", nullptr},
        {"label_device_name", "QLabel", "设备名："},
        {"lineEdit_device_name", "QLineEdit", nullptr},
        {"pushButton_tooltips", "QPushButton", ""},
        {"widget_mode", "QWidget", nullptr},
        {"horizontalLayout_8", "QHBoxLayout", nullptr},
        {"label_camera_mode", "QLabel", "模式选择："},
        {"comboBox_camera_mode", "QComboBox", nullptr},
        {"pushButton_tooltips_4", "QPushButton", ""},
        {"camera_widget", "QWidget", nullptr},
        {"horizontalLayout_7", "QHBoxLayout", nullptr},
        {"label_camera_name", "QLabel", "摄像头名："},
        {"lineEdit_camera_name", "QLineEdit", nullptr},
        {"pushButton_camera_modify", "QPushButton", ""},
        {"pushButton_tooltips_3", "QPushButton", ""},
        {"horizontalLayout_3", "QHBoxLayout", nullptr},
        {"label_save_dir", "QLabel", "保存目录："},
        {"lineEdit_save_dir", "QLineEdit", nullptr},
        {"pushButton_select_dir", "QPushButton", ""},
        {"pushButton_open_dir", "QPushButton", ""},
        {"pushButton_versioncheck", "QPushButton", "升级到最新版本"},
    };
    EXPECT_EQ(dialog->objectName(), "SettingDialog");
    zucam::test::ExpectNamedObjects(*dialog, children);
    for (const char* right : {"label_render_mode", "label_device_name", "label_camera_mode", "label_camera_name",
                              "label_save_dir"}) {
        EXPECT_EQ(Child<QLabel>(right)->alignment(), Qt::AlignRight | Qt::AlignVCenter) << right;
    }
    auto* help = Child<QLabel>("label_no_voice_help");
    EXPECT_TRUE(help->text().contains(QString::fromUtf8("连接后听不到麦克风声音？")));
    EXPECT_TRUE(help->text().contains("#DF7D43"));
    EXPECT_TRUE(help->text().contains("href="));

    auto* modes = Child<QComboBox>("comboBox_camera_mode");
    ASSERT_EQ(modes->count(), 2);
    EXPECT_EQ(modes->itemText(0), QString::fromUtf8("DShow模式"));
    EXPECT_EQ(modes->itemText(1), QString::fromUtf8("驱动模式"));
    auto* render = Child<QComboBox>("comboBox_render_mode");
    ASSERT_EQ(render->count(), 2);
    EXPECT_EQ(render->itemText(0), QString::fromUtf8("硬件渲染"));
    EXPECT_EQ(render->itemText(1), QString::fromUtf8("软件渲染"));

    const double s = app->dpiScale;
    EXPECT_EQ(dialog->size(), QSize(int(400 * s), int(390 * s)));
    EXPECT_EQ(Child("widget_set_title")->height(), int(40 * s));
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("使用帮助"));
    QList<QObject*> header;
    for (const QVariant& v : dialog->property("header_btns").toList()) header << v.value<QObject*>();
    EXPECT_EQ(header, QList<QObject*>{Child("pushButton_title_close")});
    EXPECT_TRUE(dialog->styleSheet().contains("setting_tooltips.png")) << "style sheet not loaded";
    EXPECT_FALSE(Child("pushButton_title_space")->isEnabled());
    EXPECT_TRUE(Child<QLineEdit>("lineEdit_save_dir")->isReadOnly());
    EXPECT_TRUE(Child("widget_space")->isHidden());
    EXPECT_TRUE(Child("pushButton_camera_modify")->isHidden());
    EXPECT_EQ(Child<QLineEdit>("lineEdit_camera_name")->placeholderText(),
              QString::fromUtf8("置空则设置为默认名称\"Zu Camera\""));
    EXPECT_NE(dialog->busyDialog(), nullptr);
    zucam::test::ExpectHeaderDragMovesDialog(dialog.get(), "SettingDialog");
}

TEST_F(SettingDialogTest, ToolTipsCarryTheirTextsAndShowAtTheMouseOnClick) {
    Make();
    const struct {
        const char* button;
        const char* start;
    } tips[] = {
        {"pushButton_tooltips", "手机端搜索电脑时显示的名称"},
        {"pushButton_tooltips_2", "修改后重新连接生效"},
        {"pushButton_tooltips_3", "在Dshow模式下，可修改摄像头名称，此名称为\n第三方软件"},
        {"pushButton_tooltips_4", "驱动模式:\n此模式摄像头名称为Zu Camera Pro。"},
    };
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    for (const auto& t : tips) {
        auto* button = Child<QPushButton>(t.button);
        EXPECT_TRUE(button->toolTip().startsWith(QString::fromUtf8(t.start))) << t.button;
        EXPECT_EQ(button->toolTipDuration(), 600000) << t.button;
        QToolTip::hideText();
        QTRY_VERIFY_WITH_TIMEOUT(!QToolTip::isVisible(), 2000);
        button->click();
        QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 2000);
        EXPECT_EQ(QToolTip::text(), button->toolTip()) << t.button;
    }
    QToolTip::hideText();
}

// ---- controls acting at once ------------------------------------------------

TEST_F(SettingDialogTest, ControlsStartFromZuCamsFields) {
    app->shotOpenDir = true;
    app->windowStaysOnTop = false;
    app->openVmic = false;
    app->useHardwareRender = false;
    app->deviceName = "ZuCam[desk]";
    app->saveDir = "/tmp/shots";
    Make();
    EXPECT_TRUE(Child<QCheckBox>("checkBox_shotOpendir")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>("checkBox_wintop")->isChecked());
    EXPECT_TRUE(Child<QRadioButton>("radioButton_vmic_close")->isChecked());
    EXPECT_FALSE(Child<QRadioButton>("radioButton_vmic_open")->isChecked());
    EXPECT_EQ(Child<QComboBox>("comboBox_render_mode")->currentIndex(), 1);
    EXPECT_EQ(Child<QLineEdit>("lineEdit_device_name")->text(), "ZuCam[desk]");
    EXPECT_EQ(Child<QLineEdit>("lineEdit_save_dir")->text(), "/tmp/shots");

    dialog.reset();
    app->shotOpenDir = false;
    app->windowStaysOnTop = true;
    app->useHardwareRender = true;
    Make();
    EXPECT_FALSE(Child<QCheckBox>("checkBox_shotOpendir")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>("checkBox_wintop")->isChecked());
    EXPECT_EQ(Child<QComboBox>("comboBox_render_mode")->currentIndex(), 0);
}

TEST_F(SettingDialogTest, EachControlActsAtOnce) {
    app->shotOpenDir = false;
    app->windowStaysOnTop = false;
    app->useHardwareRender = false;
    Make();
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));

    Child<QCheckBox>("checkBox_shotOpendir")->click();
    EXPECT_TRUE(app->shotOpenDir);
    Child<QCheckBox>("checkBox_shotOpendir")->click();
    EXPECT_FALSE(app->shotOpenDir);

    Child<QCheckBox>("checkBox_wintop")->click();
    EXPECT_TRUE(app->windowStaysOnTop);

    auto* render = Child<QComboBox>("comboBox_render_mode");
    render->setFocus();
    QTest::keyClick(render, Qt::Key_Up);  // "activated" comes from the user only
    EXPECT_EQ(render->currentIndex(), 0);
    EXPECT_TRUE(app->useHardwareRender);
    QTest::keyClick(render, Qt::Key_Down);
    EXPECT_FALSE(app->useHardwareRender);

    // The device name reaches ZuCam (and its UI value) at every keystroke.
    auto* name = Child<QLineEdit>("lineEdit_device_name");
    name->clear();
    EXPECT_EQ(app->deviceName, "");
    QStringList seen;
    for (const char* key : {"P", "C", "1"}) {
        QTest::keyClicks(name, key);
        seen << app->deviceName;
    }
    EXPECT_EQ(seen, (QStringList{"P", "PC", "PC1"}));
    EXPECT_EQ(g_cd->uiValues->get("zucam_device_name", tq::Value()).toStdString(), "PC1");
}

TEST_F(SettingDialogTest, VersionButtonClicksWithinHalfASecondGiveOneRequest) {
    Make();
    auto* button = Child<QPushButton>("pushButton_versioncheck");
    clock.restart();
    button->click();
    QTest::qWait(150);
    button->click();
    QTest::qWait(150);
    button->click();
    const qint64 lastClick = clock.elapsed();
    QTest::qWait(1200);
    ASSERT_EQ(versionRequests.size(), 1u);
    EXPECT_GE(versionRequests[0] - lastClick, 480);
    EXPECT_LE(versionRequests[0] - lastClick, 900);
    // A later click asks again.
    button->click();
    QTRY_COMPARE_WITH_TIMEOUT(versionRequests.size(), size_t(2), 2000);
}

// ---- the save folder ---------------------------------------------------------

TEST_F(SettingDialogTest, ChosenFolderIsTestedWithoutHarmingAFileOfTheProbesName) {
    app->setSaveDir("/tmp");
    Make();
    QTemporaryDir chosen;
    const QByteArray precious("my own zucam-test.txt, do not touch\n");
    {
        QFile file(chosen.filePath("zucam-test.txt"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(precious);
    }
    QString askedStart, askedCaption;
    SettingDialog::SetFolderChooserForTesting([&](QWidget*, const QString& caption, const QString& start) {
        askedCaption = caption;
        askedStart = start;
        return chosen.path();
    });
    MessageBoxRecorder boxes;
    Child<QPushButton>("pushButton_select_dir")->click();
    EXPECT_EQ(askedCaption, QString::fromUtf8("选择保存文件目录"));
    EXPECT_EQ(askedStart, "/tmp/");
    EXPECT_TRUE(boxes.messages().isEmpty());
    EXPECT_EQ(app->saveDir, chosen.path());
    EXPECT_EQ(app->RecordingFolder(), chosen.path());
    EXPECT_EQ(Child<QLineEdit>("lineEdit_save_dir")->text(), chosen.path());
    QFile file(chosen.filePath("zucam-test.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), precious);
    EXPECT_EQ(QDir(chosen.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
              QStringList{"zucam-test.txt"});
}

TEST_F(SettingDialogTest, UnwritableOrCancelledChoiceChangesNothing) {
    app->setSaveDir("/tmp");
    Make();
    const struct {
        const char* answer;
        int notices;
    } cases[] = {{"/proc", 1}, {"/no/such/folder", 1}, {"", 0}};
    for (const auto& c : cases) {
        SettingDialog::SetFolderChooserForTesting([&](QWidget*, const QString&, const QString&) { return c.answer; });
        MessageBoxRecorder boxes;
        Child<QPushButton>("pushButton_select_dir")->click();
        EXPECT_EQ(boxes.count(QString::fromUtf8("当前选择路径无写入权限！")), c.notices) << c.answer;
        EXPECT_EQ(app->saveDir, "/tmp") << c.answer;
        EXPECT_EQ(Child<QLineEdit>("lineEdit_save_dir")->text(), "/tmp") << c.answer;
    }
}

// Catches the URLs the dialog hands to the desktop.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() {
        QDesktopServices::setUrlHandler("file", this, "open");
        QDesktopServices::setUrlHandler("https", this, "open");
    }
    ~UrlCatcher() override {
        QDesktopServices::unsetUrlHandler("file");
        QDesktopServices::unsetUrlHandler("https");
    }
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

TEST_F(SettingDialogTest, OpenFolderAndHelpLinkGoToTheDesktop) {
    app->setSaveDir("/tmp/zucam shots");
    Make();
    UrlCatcher catcher;
    Child<QPushButton>("pushButton_open_dir")->click();
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0].toLocalFile(), "/tmp/zucam shots/");
    QMetaObject::invokeMethod(Child<QLabel>("label_no_voice_help"), "linkActivated",
                              Q_ARG(QString, "https://www.zucam.example/help/no-voice"));
    ASSERT_EQ(catcher.urls.size(), 2);
    EXPECT_EQ(catcher.urls[1].host(), "www.zucam.example");
}

// Nothing opens the folder (no opener on PATH): the user learns its path.
TEST_F(SettingDialogTest, FolderThatDoesNotOpenIsToldWithItsPath) {
    const QByteArray savedPath = qgetenv("PATH");
    QTemporaryDir emptyBin;
    qputenv("PATH", emptyBin.path().toLocal8Bit());
    app->setSaveDir("/tmp/zucam shots");
    Make();
    zucam::test::MessageBoxRecorder boxes;
    Child<QPushButton>("pushButton_open_dir")->click();
    qputenv("PATH", savedPath);
    ASSERT_EQ(boxes.messages().size(), 1);
    EXPECT_TRUE(boxes.messages()[0].contains("/tmp/zucam shots/")) << boxes.messages()[0].toStdString();
}

// ---- the camera name -------------------------------------------------------

TEST_F(SettingDialogTest, ClosingAppliesTheCameraNameInDirectShowModeOnly) {
    tq::SetConfig<int>(g_cd->config, "camera_mode", 0);
    app->cameraName = "Old Cam";
    Make();
    auto* edit = Child<QLineEdit>("lineEdit_camera_name");
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_EQ(edit->text(), "Old Cam");
    const struct {
        const char* typed;
        const char* applied;
    } cases[] = {{"Desk Cam  ", "Desk Cam"}, {"   ", "Zu Camera"}, {"", "Zu Camera"}};
    for (const auto& c : cases) {
        dialog->show();
        edit->setText(c.typed);
        Child<QPushButton>("pushButton_title_close")->click();
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(app->cameraName, c.applied) << c.typed;
    }
    EXPECT_EQ(edit->text(), "Zu Camera");

    // Esc closes the same way.
    dialog->show();
    edit->setText("Esc Cam");
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(app->cameraName, "Esc Cam");
}

TEST_F(SettingDialogTest, DriverModeShowsItsFixedNameAndClosingKeepsTheCameraName) {
    tq::SetConfig<int>(g_cd->config, "camera_mode", 1);
    app->cameraName = "Kept Cam";
    Make();
    auto* edit = Child<QLineEdit>("lineEdit_camera_name");
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_FALSE(Child("label_camera_name")->isEnabled());
    EXPECT_EQ(edit->text(), "Zu Camera Pro");
    dialog->show();
    Child<QPushButton>("pushButton_title_close")->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(app->cameraName, "Kept Cam");
}

TEST_F(SettingDialogTest, RenameButtonTakesANewNameFromTheRenameDialog) {
    tq::SetConfig<int>(g_cd->config, "camera_mode", 0);
    app->cameraName = "Old Cam";
    Make();
    const struct {
        const char* typed;
        const char* button;
        const char* edit;
    } cases[] = {
        {"New Cam", "pushButton_ok", "New Cam"},
        {"Other", "pushButton_cancel", "New Cam"},
        {"  ", "pushButton_ok", "Zu Camera"},
    };
    for (const auto& c : cases) {
        QString oldLabel;
        ModifyInfoDialog::setAnswerHook([&](ModifyInfoDialog& d) {
            oldLabel = d.findChild<QLabel*>("label_old_name")->text();
            d.findChild<QLineEdit*>("lineEdit_new_name")->setText(c.typed);
            d.findChild<QPushButton*>(c.button)->click();
            return ModifyInfoDialog::kUseClickResult;
        });
        const QString before = Child<QLineEdit>("lineEdit_camera_name")->text();
        QMetaObject::invokeMethod(Child<QPushButton>("pushButton_camera_modify"), "clicked");
        EXPECT_EQ(oldLabel, QString::fromUtf8("曾用名称：%1").arg(before));
        EXPECT_EQ(Child<QLineEdit>("lineEdit_camera_name")->text(), c.edit) << c.typed;
        EXPECT_EQ(app->cameraName, c.edit) << c.typed;
    }
}

TEST_F(SettingDialogTest, CameraNameEditRefusesCharactersOutsideTheNameRules) {
    Make();
    const QValidator* validator = Child<QLineEdit>("lineEdit_camera_name")->validator();
    ASSERT_NE(validator, nullptr);
    for (const char* text : {"Zu Camera", "摄像头_2", ""}) {
        QString t = QString::fromUtf8(text);
        int pos = 0;
        EXPECT_EQ(validator->validate(t, pos), QValidator::Acceptable) << text;
    }
    for (const char* text : {"a-b", "a/b", "ü", "cam!"}) {
        QString t = QString::fromUtf8(text);
        int pos = 0;
        EXPECT_NE(validator->validate(t, pos), QValidator::Acceptable) << text;
    }
}

// ---- the camera-mode switch ---------------------------------------------------

TEST_F(SettingDialogTest, StartRunsTheStoredModesCommandsOnceInOrder) {
    const struct {
        int stored;
        bool driverUsable;
        QStringList commands;
        int applied;
    } cases[] = {
        {1, false,
         {"check", "begin install Root\\TAMRY\\ZuCamera", "end install Root\\TAMRY\\ZuCamera", "check", "begin unregister 32",
          "end unregister 32", "begin unregister 64", "end unregister 64"},
         1},
        {1, true, {"check", "begin unregister 32", "end unregister 32", "begin unregister 64", "end unregister 64"}, 1},
        {0, false,
         {"begin register 32", "end register 32", "begin register 64", "end register 64", "begin remove", "end remove"},
         0},
        // Out of range: clamped, and the clamped mode is stored.
        {7, true, {"check", "begin unregister 32", "end unregister 32", "begin unregister 64", "end unregister 64"}, 1},
        {-3, false,
         {"begin register 32", "end register 32", "begin register 64", "end register 64", "begin remove", "end remove"},
         0},
    };
    for (const auto& c : cases) {
        tools.clearLog();
        SettingDialog::SetCameraModeToolsForTesting(tools.tools(c.driverUsable));
        tq::SetConfig<int>(g_cd->config, "camera_mode", c.stored);
        Make();
        EXPECT_EQ(tools.log(), c.commands) << "stored " << c.stored;
        EXPECT_EQ(StoredMode(), c.applied) << "stored " << c.stored;
        EXPECT_EQ(Child<QComboBox>("comboBox_camera_mode")->currentIndex(), c.applied);
        EXPECT_EQ(Child<QLineEdit>("lineEdit_camera_name")->isEnabled(), c.applied == 0);
        EXPECT_FALSE(dialog->busyDialog()->isVisible()) << "no busy notice at start";
        dialog.reset();
    }
}

TEST_F(SettingDialogTest, UsersChangeShowsTheBusyNoticeUntilTheSwitchEnds) {
    tq::SetConfig<int>(g_cd->config, "camera_mode", 1);
    Make();
    tools.clearLog();
    tools.setDelay(0.1);  // the notice must be up while the tools run
    dialog->move(300, 200);
    dialog->show();
    QString textWhileBusy;
    bool visibleWhileBusy = false;
    QPoint busyAt;
    QTimer::singleShot(50, [&] {
        visibleWhileBusy = dialog->busyDialog()->isVisible();
        textWhileBusy = dialog->busyDialog()->text();
        busyAt = dialog->busyDialog()->pos();
    });
    Child<QComboBox>("comboBox_camera_mode")->setCurrentIndex(0);  // returns when the notice closes
    EXPECT_TRUE(visibleWhileBusy);
    EXPECT_EQ(textWhileBusy, QString::fromUtf8("正在切换模式...."));
    EXPECT_EQ(busyAt, QPoint(300 + (dialog->width() - dialog->busyDialog()->width()) / 2,
                             200 + (dialog->height() - dialog->busyDialog()->height()) / 2));
    EXPECT_FALSE(dialog->busyDialog()->isVisible());
    EXPECT_EQ(dialog->busyDialog()->text(), QString::fromUtf8("切换完成"));
    EXPECT_EQ(tools.log(), (QStringList{"begin register 32", "end register 32", "begin register 64",
                                        "end register 64", "begin remove", "end remove"}));
    EXPECT_EQ(StoredMode(), 0);
    EXPECT_TRUE(Child<QLineEdit>("lineEdit_camera_name")->isEnabled());

    // Picking the mode already chosen runs nothing.
    tools.clearLog();
    Child<QComboBox>("comboBox_camera_mode")->setCurrentIndex(0);
    QTest::qWait(100);
    EXPECT_TRUE(tools.log().isEmpty());
}

// A switch to the driver mode whose camera device is still missing after the
// install is told as a failure, with how to make the device; at start-up it
// is only logged.
TEST_F(SettingDialogTest, DriverModeWithoutItsCameraIsToldAsAFailure) {
    for (const bool driverUsable : {false, true}) {
        tq::SetConfig<int>(g_cd->config, "camera_mode", 0);
        SettingDialog::SetCameraModeToolsForTesting(tools.tools(driverUsable));
        zucam::test::MessageBoxRecorder boxes;
        Make();
        dialog->show();
        Child<QComboBox>("comboBox_camera_mode")->setCurrentIndex(1);  // returns when the notice closes
        EXPECT_EQ(StoredMode(), 1);
        if (driverUsable) {
            EXPECT_EQ(dialog->busyDialog()->text(), QString::fromUtf8("切换完成"));
            EXPECT_TRUE(boxes.messages().isEmpty()) << boxes.messages().join("|").toStdString();
        } else {
            EXPECT_EQ(dialog->busyDialog()->text(), QString::fromUtf8("切换失败"));
            ASSERT_EQ(boxes.messages().size(), 1);
            EXPECT_EQ(boxes.messages()[0], QString::fromUtf8(SettingDialog::kCameraDriverMissingNotice));
            EXPECT_TRUE(boxes.messages()[0].contains(
                "sudo modprobe v4l2loopback devices=1 card_label=\"Zu Camera Pro\" exclusive_caps=1"));
        }
        dialog.reset();
        // Started in the driver mode without the device: no box.
        tq::SetConfig<int>(g_cd->config, "camera_mode", 1);
        Make();
        EXPECT_EQ(boxes.messages().size(), driverUsable ? 0 : 1);
        dialog.reset();
    }
}

TEST_F(SettingDialogTest, ChangeDuringTheStartUpSwitchWaitsForIt) {
    // Every tool run takes 300 ms, so the start-up switch (driver mode) is
    // still running when the user picks DirectShow.
    tools.setDelay(0.3);
    tq::SetConfig<int>(g_cd->config, "camera_mode", 1);
    dialog = std::make_unique<SettingDialog>(nullptr);
    ASSERT_TRUE(dialog->cameraModeSwitchBusy());
    QTRY_VERIFY_WITH_TIMEOUT(tools.log().contains("begin unregister 32") || tools.log().contains("begin install Root\\TAMRY\\ZuCamera"), 5000);
    dialog->show();
    Child<QComboBox>("comboBox_camera_mode")->setCurrentIndex(0);  // the busy notice runs until both ended
    EXPECT_FALSE(dialog->cameraModeSwitchBusy());
    const QStringList log = tools.log();
    EXPECT_EQ(log, (QStringList{"check", "begin install Root\\TAMRY\\ZuCamera", "end install Root\\TAMRY\\ZuCamera",
                                "check", "begin unregister 32", "end unregister 32", "begin unregister 64", "end unregister 64",
                                "begin register 32", "end register 32", "begin register 64", "end register 64",
                                "begin remove", "end remove"}));
    EXPECT_EQ(StoredMode(), 0);
    EXPECT_EQ(Child<QComboBox>("comboBox_camera_mode")->currentIndex(), 0);
    EXPECT_TRUE(Child<QLineEdit>("lineEdit_camera_name")->isEnabled());
    EXPECT_FALSE(dialog->busyDialog()->isVisible());
}

TEST_F(SettingDialogTest, SwitchesOfTwoDialogsNeverOverlap) {
    tools.setDelay(0.15);
    tq::SetConfig<int>(g_cd->config, "camera_mode", 0);
    auto first = std::make_unique<SettingDialog>(nullptr);
    tq::SetConfig<int>(g_cd->config, "camera_mode", 1);
    dialog = std::make_unique<SettingDialog>(nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!first->cameraModeSwitchBusy() && !dialog->cameraModeSwitchBusy(), 20000);
    // Each switch's runs form one block: no begin between another's begin and end.
    const QStringList log = tools.log();
    int open = 0;
    for (const QString& line : log) {
        if (line.startsWith("begin")) ++open;
        if (line.startsWith("end")) --open;
        EXPECT_LE(open, 1) << log.join(" | ").toStdString();
    }
    const int lastRegister = log.lastIndexOf("end remove");
    const int firstUnregister = log.indexOf("begin unregister 32");
    ASSERT_GE(lastRegister, 0);
    ASSERT_GE(firstUnregister, 0);
    EXPECT_TRUE(lastRegister < firstUnregister || log.indexOf("end unregister 64") < log.indexOf("begin register 32"))
        << log.join(" | ").toStdString();
}

TEST_F(SettingDialogTest, AToolThatHangsIsStoppedWithinItsTimeLimit) {
    tools.setHang("register");
    CameraModeTools bounded = tools.tools(false);
    bounded.toolTimeoutMs = 400;
    SettingDialog::SetCameraModeToolsForTesting(bounded);
    tq::SetConfig<int>(g_cd->config, "camera_mode", 0);
    QElapsedTimer timer;
    timer.start();
    Make();
    // Two hanging runs of 400 ms each, then the removal: far from 2 x 30 s.
    EXPECT_LT(timer.elapsed(), 6000);
    EXPECT_EQ(tools.log(), (QStringList{"begin register 32", "begin register 64", "begin remove", "end remove"}));
    EXPECT_EQ(StoredMode(), 0);
}

TEST_F(SettingDialogTest, BeforeWindows10TheModeRowIsHiddenAndDirectShowApplied) {
    SetSystemVersionOverrideForTesting(std::nullopt, false);
    tq::SetConfig<int>(g_cd->config, "camera_mode", 1);
    Make();
    EXPECT_TRUE(Child("widget_mode")->isHidden());
    EXPECT_EQ(tools.log(), (QStringList{"begin register 32", "end register 32", "begin register 64",
                                        "end register 64", "begin remove", "end remove"}));
    EXPECT_EQ(StoredMode(), 0);
    EXPECT_TRUE(Child<QLineEdit>("lineEdit_camera_name")->isEnabled());
}

TEST_F(SettingDialogTest, CameraModeChoiceIsDisabledWhileAPhoneStreams) {
    Make();
    dialog->SetCameraModeDisabled(true);
    EXPECT_FALSE(Child("comboBox_camera_mode")->isEnabled());
    dialog->SetCameraModeDisabled(false);
    EXPECT_TRUE(Child("comboBox_camera_mode")->isEnabled());
}


// ---- the camera-mode switch on the driver installation's own tools ----------

using zucam::test::FakeDriverTools;

class SettingDialogOnDriverTools : public SettingDialogTest {
protected:
    void SetUp() override {
        SettingDialogTest::SetUp();
        SettingDialog::SetCameraModeToolsForTesting(std::nullopt);  // the real command builders
        SetDriverToolFolderForTesting(fake.folder());
    }
    void TearDown() override {
        SettingDialogTest::TearDown();
        SetDriverToolFolderForTesting(QString());
        SetAudioDeviceLinkPathForTesting(std::string());
        app->closeVirtualMic();
    }
    FakeDriverTools fake;
};

TEST_F(SettingDialogOnDriverTools, EachModeRunsDevconAndRegsvr32InItsOrder) {
    const QString camera = fake.folder() + "/Drivers/camera/";
    const struct {
        int mode;
        QByteArray findOutput;
        QStringList runs;
    } cases[] = {
        {1, FakeDriverTools::NoDevicesFound(),
         {"camera[find][=][Root\\TAMRY\\ZuCamera]",
          "camera[install][" + camera + "ZuCamera.inf][Root\\TAMRY\\ZuCamera]",
          "camera[find][=][Root\\TAMRY\\ZuCamera]",
          "regsvr32[/u][/s][" + camera + "zu-virtual-camera-dshow32.dll]",
          "regsvr32[/u][/s][" + camera + "zu-virtual-camera-dshow64.dll]"}},
        {0, FakeDriverTools::NoDevicesFound(),
         {"regsvr32[/i][/s][" + camera + "zu-virtual-camera-dshow32.dll]",
          "regsvr32[/i][/s][" + camera + "zu-virtual-camera-dshow64.dll]",
          "camera[remove][Root\\TAMRY\\ZuCamera]"}},
    };
    for (const auto& c : cases) {
        FakeDriverTools driverTools;
        SetDriverToolFolderForTesting(driverTools.folder());
        driverTools.setOutput("camera", "find", c.findOutput);
        tq::SetConfig<int>(g_cd->config, "camera_mode", c.mode);
        Make();
        QStringList runs;
        for (const FakeDriverTools::Call& call : driverTools.calls()) {
            QString line = call.tool;
            for (const QString& argument : call.arguments) line += "[" + argument + "]";
            runs << line;
            EXPECT_TRUE(call.ended) << line.toStdString();
        }
        QStringList expected = c.runs;
        expected.replaceInStrings(camera, driverTools.folder() + "/Drivers/camera/");
        EXPECT_EQ(runs, expected) << "mode " << c.mode;
        EXPECT_EQ(StoredMode(), c.mode);
        dialog.reset();
    }
}

// ---- the virtual microphone -----------------------------------------------------

TEST_F(SettingDialogOnDriverTools, MicrophoneOnBeforeWindows10IsRefused) {
    app->openVmic = false;
    Make();
    SetSystemVersionOverrideForTesting(std::nullopt, false);
    MessageBoxRecorder boxes;
    Child<QRadioButton>("radioButton_vmic_open")->click();
    EXPECT_EQ(boxes.messages(), QStringList{QString::fromUtf8("虚拟麦克风只支持win10及以上版本的系统")});
    EXPECT_TRUE(Child<QRadioButton>("radioButton_vmic_close")->isChecked());
    EXPECT_FALSE(app->openVmic);
    EXPECT_TRUE(fake.callsOf("audio-x64").isEmpty()) << "the driver was looked for";
}

TEST_F(SettingDialogOnDriverTools, MicrophoneThatCannotOpenLeavesItOff) {
    app->openVmic = false;
    Make();
    fake.setOutput("audio-x64", "find", FakeDriverTools::NoDevicesFound());
    MessageBoxRecorder boxes(0);  // no to installing the driver
    Child<QRadioButton>("radioButton_vmic_open")->click();
    EXPECT_EQ(boxes.count(QString::fromUtf8("未安装虚拟麦克风驱动")), 1);
    EXPECT_TRUE(Child<QRadioButton>("radioButton_vmic_close")->isChecked());
    EXPECT_FALSE(app->openVmic);
}

TEST_F(SettingDialogOnDriverTools, MicrophoneOffIsRefusedWhileThePictureIsOff) {
    app->openVmic = true;  // as if open
    app->setVideoTransport(false);
    Make();
    EXPECT_TRUE(Child<QRadioButton>("radioButton_vmic_open")->isChecked());
    MessageBoxRecorder boxes;
    Child<QRadioButton>("radioButton_vmic_close")->click();
    EXPECT_EQ(boxes.messages(), QStringList{QString::fromUtf8("请先开启摄像头画面后，再关闭麦克风")});
    EXPECT_TRUE(Child<QRadioButton>("radioButton_vmic_open")->isChecked());
    EXPECT_TRUE(app->openVmic);

    app->setVideoTransport(true);
    Child<QRadioButton>("radioButton_vmic_close")->click();
    EXPECT_EQ(boxes.messages().size(), 1);
    EXPECT_FALSE(app->openVmic);
    EXPECT_FALSE(app->VirtualMicOpen());
    // 100 ms later the tool bar's level shows "off".
    if (app->mainWindow) QTRY_COMPARE_WITH_TIMEOUT(MenuStateForm::volumeLevel(), -1, 2000);
}

TEST_F(SettingDialogOnDriverTools, ToolBarToggleFollowsTheMicrophone) {
    app->openVmic = true;
    app->setVideoTransport(true);
    Make();
    dialog->ToggleVirtualMic();  // open -> closed
    EXPECT_FALSE(app->openVmic);
    EXPECT_TRUE(Child<QRadioButton>("radioButton_vmic_close")->isChecked());

    fake.setOutput("audio-x64", "find", FakeDriverTools::NoDevicesFound());
    MessageBoxRecorder boxes(0);
    dialog->ToggleVirtualMic();  // closed -> tries to open, cannot
    EXPECT_EQ(boxes.count(QString::fromUtf8("未安装虚拟麦克风驱动")), 1);
    EXPECT_FALSE(app->openVmic);
    EXPECT_TRUE(Child<QRadioButton>("radioButton_vmic_close")->isChecked());
}

bool PulseAnswers() {
    QProcess pactl;
    pactl.start("pactl", {"info"});
    return pactl.waitForFinished(5000) && pactl.exitStatus() == QProcess::NormalExit && pactl.exitCode() == 0;
}

TEST_F(SettingDialogOnDriverTools, OpenedMicrophoneWithoutASourceOffersTheSoundSettings) {
    if (!PulseAnswers()) GTEST_SKIP() << "no PulseAudio server (source scripts/start-audio.sh)";
    // A pipe source left in the server by another program would answer the
    // question this case asks.
    if (app->checkSystemMicForbid()) GTEST_SKIP() << "the audio server already lists a \"Zu Virtual Audio Device\" source";
    // The driver's link is there (a FIFO read by the test), but the audio
    // server lists no "Zu Virtual Audio Device" source.
    fake.setOutput("audio-x64", "find", FakeDriverTools::DevicesFound(1));
    FifoReader link;
    ASSERT_TRUE(link.made());
    ASSERT_TRUE(link.OpenReader());
    SetAudioDeviceLinkPathForTesting(link.path());
    app->openVmic = false;
    Make();
    for (int answer : {1, 0}) {
        QStringList started;
        SettingDialog::SetDetachedStarterForTesting([&](const QString& program, const QStringList& arguments) {
            started << program + " " + arguments.join(' ');
            return true;
        });
        MessageBoxRecorder boxes(answer);
        app->closeVirtualMic();
        Child<QRadioButton>("radioButton_vmic_open")->click();
        SettingDialog::SetDetachedStarterForTesting(nullptr);
        EXPECT_TRUE(app->openVmic) << answer;
        EXPECT_EQ(boxes.count(QString::fromUtf8("检测到麦克风被系统禁用")), 1) << answer;
        EXPECT_EQ(started, answer == 1 ? QStringList{"pavucontrol --tab=4"} : QStringList()) << answer;
    }
    app->closeVirtualMic();
}

}  // namespace

#include "setting_dialog_test.moc"
