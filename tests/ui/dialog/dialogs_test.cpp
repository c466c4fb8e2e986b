// The diagnosis, about, help, help-page, iOS-offer, tip, guide and USB-help
// windows: every object their code and style sheets name, the common frame,
// the results of their buttons, and each one's own behaviour.
#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMovie>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QResizeEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QVariant>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

#include "core/system/system_info.h"
#include "support/header_drag.h"
#include "support/named_objects.h"
#include "support/message_box_recorder.h"
#include "ui/dialog/aboutus-dialog.h"
#include "ui/dialog/custom-tips-dialog.h"
#include "ui/dialog/desktop_open.h"
#include "ui/dialog/dialog_answer.h"
#include "ui/dialog/download-dialog.h"
#include "ui/dialog/new-version-update-dialog.h"
#include "ui/dialog/guid-widget.h"
#include "ui/dialog/help-dialog.h"
#include "ui/dialog/help-info-dialog.h"
#include "ui/dialog/ios-usb-server-dialog.h"
#include "ui/dialog/net-check-dialog.h"
#include "ui/dialog/open-usb-help-dialog.h"
#include "zucam.h"

namespace {

using zucam::test::NamedObject;

using Objects = std::vector<NamedObject>;

struct Form {
    const char* name;
    std::function<QWidget*()> make;
    Objects objects;
};

const std::vector<Form>& Forms() {
    static const std::vector<Form> forms = {
        {"NetCheckDialog", [] { return new NetCheckDialog(nullptr); },
         {{"gridLayout", "QGridLayout", nullptr},
          {"frame_background", "QFrame", nullptr},
          {"verticalLayout", "QVBoxLayout", nullptr},
          {"widget_titie", "QWidget", nullptr},
          {"horizontalLayout", "QHBoxLayout", nullptr},
          {"pushButton_left_spacer", "QPushButton", ""},
          {"label_title", "QLabel", "网络诊断"},
          {"pushButton_close", "QPushButton", ""},
          {"widget_main", "QWidget", nullptr},
          {"verticalLayout_2", "QVBoxLayout", nullptr},
          {"label_explanation", "QLabel",
           "如果手机Zu虚拟摄像头APP未发现可连接的电脑设备，请先诊断您的设备是否处于同一局域网络。点击下面“开启测试服务监听”按钮。"},
          {"horizontalLayout_2", "QHBoxLayout", nullptr},
          {"pushButton_open_check", "QPushButton", "开启测试服务监听"},
          {"frame_url", "QFrame", nullptr},
          {"horizontalLayout_3", "QHBoxLayout", nullptr},
          {"label_url", "QLabel", "测试地址："},
          {"pushButton_copy_url", "QPushButton", "复制地址"},
          {"label_note", "QLabel",
           "将测试地址发送到手机，在手机浏览器打开地址\n若浏览器无法打开地址，则代表设备不在同一局域网络\n"
           "若浏览器显示连接成功，则请检查app是否授予网络权限或者卸载重装"}}},
        {"AboutUsDialog", [] { return new AboutUsDialog(nullptr); },
         {{"gridLayout", "QGridLayout", nullptr},
          {"frame_about_background", "QFrame", nullptr},
          {"verticalLayout", "QVBoxLayout", nullptr},
          {"widget_about_title", "QWidget", nullptr},
          {"horizontalLayout", "QHBoxLayout", nullptr},
          {"pushButton_about_space", "QPushButton", ""},
          {"label_about_title", "QLabel", "关于我们"},
          {"pushButton_about_close", "QPushButton", ""},
          {"widget_about_main", "QWidget", nullptr},
          {"verticalLayout_4", "QVBoxLayout", nullptr},
          {"verticalLayout_2", "QVBoxLayout", nullptr},
          {"horizontalLayout_2", "QHBoxLayout", nullptr},
          {"label_about_img", "QLabel", ""},
          {"label_about_appname", "QLabel", "Zu虚拟摄像头"},
          {"horizontalLayout_3", "QHBoxLayout", nullptr},
          {"label_about_detail", "QLabel", nullptr},
          {"label_about_zu", "QLabel", nullptr},
          {"verticalLayout_3", "QVBoxLayout", nullptr},
          {"label_about_notice", "QLabel", nullptr},
          {"label_about_rights", "QLabel", nullptr}}},
        {"HelpInfoDialog", [] { return new HelpInfoDialog(nullptr); },
         {{"verticalLayout", "QVBoxLayout", nullptr},
          {"widget_helpinfo_title", "QWidget", nullptr},
          {"horizontalLayout", "QHBoxLayout", nullptr},
          {"pushButton_helpinfo_space", "QPushButton", ""},
          {"label_helpinfo_title", "QLabel", ""},
          {"pushButton_helpinfo_close", "QPushButton", ""},
          {"widget_helpinfo_main", "QWidget", nullptr},
          {"gridLayout_2", "QGridLayout", nullptr},
          {"scrollArea", "QScrollArea", nullptr},
          {"scrollAreaWidgetContents", "QWidget", nullptr},
          {"gridLayout", "QGridLayout", nullptr},
          {"label_helpinfo", "QLabel", nullptr}}},
        {"HelpDialog", [] { return new HelpDialog(nullptr); },
         {{"gridLayout", "QGridLayout", nullptr},
          {"frame_help_background", "QFrame", nullptr},
          {"verticalLayout_2", "QVBoxLayout", nullptr},
          {"widget_help_title", "QWidget", nullptr},
          {"horizontalLayout", "QHBoxLayout", nullptr},
          {"pushButton_help_space", "QPushButton", ""},
          {"label_help_title", "QLabel", "使用帮助"},
          {"pushButton_help_close", "QPushButton", ""},
          {"widget_help_main", "QWidget", nullptr},
          {"verticalLayout_4", "QVBoxLayout", nullptr},
          {"horizontalLayout_3", "QHBoxLayout", nullptr},
          {"pushButton_wireless_help", "QPushButton", "无线连接"},
          {"pushButton_usb_help", "QPushButton", "USB连接"},
          {"label_help_step1", "QLabel", nullptr},
          {"horizontalLayout_2", "QHBoxLayout", nullptr},
          {"verticalLayout", "QVBoxLayout", nullptr},
          {"label_help_android_qrcode", "QLabel", ""},
          {"label_help_android_text", "QLabel", "安卓下载"},
          {"verticalLayout_3", "QVBoxLayout", nullptr},
          {"label_help_ios_qrcode", "QLabel", ""},
          {"label_help_ios_text", "QLabel", "ios下载"},
          {"label_help_step2", "QLabel", "2. 请确保手机和电脑处在同一个wifi下。"},
          {"label_help_step3", "QLabel", "3. 打开移动端虚拟摄像头app和电脑端Zu虚拟摄像头\n软件，在手机端点击搜索到的电脑设备，一键连接。"},
          {"label_help_step4", "QLabel", "2. 电脑端和移动端虚拟摄像头切换到USB连接模式。"},
          {"label_help_step5", "QLabel", "3. 手机开启USB调试模式并连接USB线到电脑。"},
          {"label_help_step6", "QLabel", "4. 手机端点检测到的电脑设备连接即可。"}}},
        {"IosUsbServerDialog",
         [] {
             // The form's own texts: the offer with a package beside it.
             QTemporaryDir folder;
             for (const char* name : {"/AppleMobileDeviceSupport64.msi", "/AppleMobileDeviceSupport.msi"}) {
                 QFile package(folder.path() + name);
                 if (package.open(QIODevice::WriteOnly)) package.close();
             }
             IosUsbServerDialog::SetInstallerFolderForTesting(folder.path());
             auto* dialog = new IosUsbServerDialog(nullptr);
             IosUsbServerDialog::SetInstallerFolderForTesting(QString());
             return dialog;
         },
         {{"verticalLayout_2", "QVBoxLayout", nullptr},
          {"widget_title", "QWidget", nullptr},
          {"horizontalLayout", "QHBoxLayout", nullptr},
          {"label_title", "QLabel", "提示"},
          {"pushButton_close", "QPushButton", ""},
          {"widget_main", "QWidget", nullptr},
          {"verticalLayout", "QVBoxLayout", nullptr},
          {"horizontalLayout_3", "QHBoxLayout", nullptr},
          {"label_tips_logo", "QLabel", ""},
          {"label_tips_note", "QLabel", "未检测到IOS设备支持服务，为了保证IOS USB连接功能的正常使用，请先安装。"},
          {"horizontalLayout_2", "QHBoxLayout", nullptr},
          {"pushButton_cancel", "QPushButton", "取消"},
          {"pushButton_ok", "QPushButton", "安装"}}},
        {"CustomTipsDialog", [] { return new CustomTipsDialog(nullptr); },
         {{"gridLayout", "QGridLayout", nullptr},
          {"frame_ipdis_background", "QFrame", nullptr},
          {"verticalLayout", "QVBoxLayout", nullptr},
          {"label_ipdis_ip", "QLabel", "- - -"}}},
        {"GuidWidget", [] { return new GuidWidget(nullptr); },
         {{"gridLayout", "QGridLayout", nullptr},
          {"widget", "QWidget", nullptr},
          {"horizontalLayout", "QHBoxLayout", nullptr},
          {"label_ftip_text", "QLabel", "不知道怎么用，看这里哦！"},
          {"pushButton_ftip_close", "QPushButton", "关闭提示"}}},
        {"OpenUSBHelpDialog", [] { return new OpenUSBHelpDialog(nullptr); },
         {{"verticalLayout", "QVBoxLayout", nullptr},
          {"widget_usb_help_title", "QWidget", nullptr},
          {"horizontalLayout_7", "QHBoxLayout", nullptr},
          {"pushButton_usb_help_close", "QPushButton", ""},
          {"widget_usb_help_main", "QWidget", nullptr},
          {"verticalLayout_2", "QVBoxLayout", nullptr},
          {"verticalLayout_10", "QVBoxLayout", nullptr},
          {"verticalLayout_9", "QVBoxLayout", nullptr},
          {"verticalLayout_7", "QVBoxLayout", nullptr},
          {"label_usb_help_more_1", "QLabel", "<b>如何开启USB调试模式</b>"},
          {"label_usb_help_more_2", "QLabel", "(以华为p20为例，根据不同机型，操作和名称会略有不同）"},
          {"verticalLayout_8", "QVBoxLayout", nullptr},
          {"horizontalLayout_5", "QHBoxLayout", nullptr},
          {"verticalLayout_6", "QVBoxLayout", nullptr},
          {"label_usb_step_1", "QLabel", ""},
          {"label_usb_step_1_spacer", "QLabel", ""},
          {"label_usb_help_more_3", "QLabel",
           "打开手机<b>\"设置\" - \"系统和更新\" - \"开发人员选项\" - \"USB调试\"</b>开启权限"},
          {"horizontalLayout_6", "QHBoxLayout", nullptr},
          {"verticalLayout_5", "QVBoxLayout", nullptr},
          {"label_usb_step_2", "QLabel", ""},
          {"label_usb_step_2_spacer", "QLabel", ""},
          {"label_usb_help_more_4", "QLabel",
           "如未找到\"开发人员选项\"，可找到<b>\"关于手机\"</b>，在<b>\"版本号\"</b>栏连续点击5下，进入开发者模式，再找到\"USB调试\"并打开"},
          {"horizontalLayout_4", "QHBoxLayout", nullptr},
          {"label_usb_help_gif", "QLabel", nullptr}}},
        // Their objects are checked by their own tests; here for the frame.
        {"NewVersionUpdateDialog", [] { return new NewVersionUpdateDialog("1.0", "2.0", "", nullptr); }, {}},
        {"DownloadDialog", [] { return new DownloadDialog("https://127.0.0.1:1/i", nullptr, QDir::tempPath() + "/frame-installer.exe"); }, {}},
    };
    return forms;
}

TEST(DialogObjectNames, EveryFormHasItsObjectsAndTexts) {
    for (const Form& form : Forms()) {
        std::unique_ptr<QWidget> widget(form.make());
        EXPECT_EQ(widget->objectName().toStdString(), form.name);
        zucam::test::ExpectNamedObjects(*widget, form.objects);
    }
}

// ---- the common frame -------------------------------------------------------

struct FrameCase {
    const char* name;
    int width, height;       // before scaling
    const char* titleBar;    // null: none
    int titleHeight;
    int headerHeight;        // -1: the title height; -2: the dialog's height
    QStringList headerButtons;
};

// Every dialog that wears the frame, found in Forms() by name.
const std::vector<FrameCase>& FramedDialogs() {
    static const std::vector<FrameCase> cases = {
        {"NetCheckDialog", 448, 266, "widget_titie", 40, -1, {"pushButton_close"}},
        {"AboutUsDialog", 350, 446, "widget_about_title", 40, -1, {"pushButton_about_close"}},
        {"HelpInfoDialog", 700, 800, "widget_helpinfo_title", 40, -1, {"pushButton_helpinfo_close"}},
        {"HelpDialog", 350, 350, "widget_help_title", 40, -1, {"pushButton_help_close"}},
        {"IosUsbServerDialog", 300, 220, "widget_title", 40, -1, {"pushButton_close"}},
        {"CustomTipsDialog", 160, 60, nullptr, 0, 0, {}},
        {"OpenUSBHelpDialog", 420, 435, "widget_usb_help_title", 30, -2, {"pushButton_usb_help_close"}},
        {"NewVersionUpdateDialog", 568, 361, "widget_title", 40, -1, {"pushButton_close"}},
        {"DownloadDialog", 420, 140, nullptr, 0, -2, {"pushButton_open_site", "pushButton_download_cancel", "pushButton_download_minimize"}},
    };
    return cases;
}

std::unique_ptr<QWidget> MakeForm(const char* name) {
    const auto form = std::find_if(Forms().begin(), Forms().end(), [&](const Form& f) { return name == std::string(f.name); });
    EXPECT_NE(form, Forms().end()) << name;
    return std::unique_ptr<QWidget>(form != Forms().end() ? form->make() : nullptr);
}

TEST(DialogFrame, EachDialogWearsTheCommonFrame) {
    const double s = zucamApp()->dpiScale;
    for (const FrameCase& c : FramedDialogs()) {
        std::unique_ptr<QWidget> dialog = MakeForm(c.name);
        ASSERT_NE(dialog, nullptr) << c.name;
        EXPECT_EQ(int(dialog->windowFlags()), 0x803) << c.name;
        EXPECT_EQ(dialog->minimumSize(), QSize(int(c.width * s), int(c.height * s))) << c.name;
        EXPECT_EQ(dialog->maximumSize(), dialog->minimumSize()) << c.name;
        EXPECT_FALSE(dialog->styleSheet().isEmpty()) << c.name << ": its style sheet did not load";
        const int title = int(c.titleHeight * s);
        if (c.titleBar != nullptr) {
            EXPECT_EQ(dialog->findChild<QWidget*>(c.titleBar)->height(), title) << c.name;
        }
        const int header = c.headerHeight == -1 ? title : c.headerHeight == -2 ? int(c.height * s) : c.headerHeight;
        EXPECT_EQ(dialog->property("header_height").toInt(), header) << c.name;
        EXPECT_EQ(dialog->property("header_visible"), QVariant(false)) << c.name;
        QStringList buttons;
        for (const QVariant& button : dialog->property("header_btns").toList()) {
            buttons << button.value<QObject*>()->objectName();
        }
        EXPECT_EQ(buttons, c.headerButtons) << c.name;
    }
}

// The module the frame hands each dialog to makes its header move it; the
// header buttons stay the dialog's.
TEST(DialogFrame, EachFramedDialogMovesByItsHeaderOnly) {
    QCoreApplication::processEvents();  // ZuCam's start-up loads the module
    for (const FrameCase& c : FramedDialogs()) {
        std::unique_ptr<QWidget> dialog = MakeForm(c.name);
        ASSERT_NE(dialog, nullptr) << c.name;
        zucam::test::ExpectHeaderDragMovesDialog(dialog.get(), c.name);
    }
}

// The help page is taller than many screens at a large scale: shown, it
// fits the screen's available area whole, the end of its scroll bar too.
TEST(DialogFrame, ADialogLargerThanTheScreenIsFittedIntoIt) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    HelpInfoDialog dialog(nullptr);
    if (dialog.height() <= area.height()) GTEST_SKIP() << "the screen holds the whole page: nothing to fit";
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_TRUE(area.contains(dialog.geometry()));
    EXPECT_EQ(dialog.height(), area.height());
    const QScrollBar* bar = dialog.findChild<QScrollArea*>("scrollArea")->verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    EXPECT_TRUE(area.contains(QRect(bar->mapToGlobal(QPoint(0, 0)), bar->size())));
    const QString shots = qEnvironmentVariable("ZUCAM_SHOT_DIR");
    if (!shots.isEmpty()) {  // the whole screen, for a person to look at
        QTest::qWait(100);
        QGuiApplication::primaryScreen()->grabWindow(0).save(shots + "/help-page-on-the-screen.png");
    }
}

// A dialog asked to stand past the screen's left edge is shown whole.
TEST(DialogFrame, ADialogPastTheScreensEdgeIsShownWhole) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    AboutUsDialog dialog(nullptr);
    dialog.move(area.left() - 45, area.top() + 30);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(dialog.pos(), QPoint(area.left(), area.top() + 30));
    EXPECT_EQ(dialog.size(), dialog.minimumSize());
    const QString shots = qEnvironmentVariable("ZUCAM_SHOT_DIR");
    if (!shots.isEmpty()) {
        QTest::qWait(100);
        QGuiApplication::primaryScreen()->grabWindow(0).save(shots + "/dialog-at-the-left-edge.png");
    }
}

// ---- results ------------------------------------------------------------------

// Runs dialog through exec() with a hook that clicks button (and returns what
// the click produced).
int ExecClicking(QDialog& dialog, const char* button) {
    dialog_answer::SetHook([button](QDialog& shown) {
        auto* target = shown.findChild<QAbstractButton*>(button);
        EXPECT_NE(target, nullptr) << button;
        if (target != nullptr) target->click();
        return dialog_answer::kUseClickResult;
    });
    const int result = dialog.exec();
    dialog_answer::SetHook(nullptr);
    return result;
}

TEST(DialogResults, ButtonsAndTitleBarClose) {
    struct Case {
        const char* dialog;
        const char* button;
        int result;
    };
    const Case cases[] = {
        {"NetCheckDialog", "pushButton_close", 1},
        {"AboutUsDialog", "pushButton_about_close", 1},
        {"HelpInfoDialog", "pushButton_helpinfo_close", 1},
        {"HelpDialog", "pushButton_help_close", 1},
        {"OpenUSBHelpDialog", "pushButton_usb_help_close", 1},
        {"IosUsbServerDialog", "pushButton_cancel", 0},
        {"IosUsbServerDialog", "pushButton_close", -1},
        // Placeholders that balance the close button never answer.
        {"AboutUsDialog", "pushButton_about_space", dialog_answer::kUseClickResult},
        {"HelpDialog", "pushButton_help_space", dialog_answer::kUseClickResult},
        {"NetCheckDialog", "pushButton_left_spacer", dialog_answer::kUseClickResult},
    };
    for (const Case& c : cases) {
        const auto form = std::find_if(Forms().begin(), Forms().end(), [&](const Form& f) { return c.dialog == std::string(f.name); });
        std::unique_ptr<QDialog> dialog(qobject_cast<QDialog*>(form->make()));
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(ExecClicking(*dialog, c.button), c.result) << c.dialog << " " << c.button;
    }
}

// ---- help ---------------------------------------------------------------------

TEST(HelpDialog, OpensOnTheWifiStepsAndSwitchesPages) {
    HelpDialog dialog(nullptr);
    auto* wifi = dialog.findChild<QAbstractButton*>("pushButton_wireless_help");
    auto* usb = dialog.findChild<QAbstractButton*>("pushButton_usb_help");
    const auto shown = [&] {
        QStringList names;
        for (int i = 1; i <= 6; ++i) {
            const QString name = QString("label_help_step%1").arg(i);
            if (!dialog.findChild<QWidget*>(name)->isHidden()) names << name.right(1);
        }
        return names.join(',');
    };
    EXPECT_TRUE(wifi->isChecked());
    EXPECT_FALSE(usb->isChecked());
    EXPECT_EQ(shown(), QString("1,2,3"));
    usb->click();
    EXPECT_EQ(shown(), QString("1,4,5,6"));
    EXPECT_TRUE(usb->isChecked());
    EXPECT_FALSE(wifi->isChecked());
    usb->click();  // the checked one again: nothing changes
    EXPECT_TRUE(usb->isChecked());
    EXPECT_EQ(shown(), QString("1,4,5,6"));
    wifi->click();
    EXPECT_EQ(shown(), QString("1,2,3"));
    EXPECT_FALSE(dialog.findChild<QWidget*>("label_help_android_qrcode")->isHidden());
    EXPECT_TRUE(dialog.findChild<QLabel*>("label_help_step1")->text().contains("href="));
    EXPECT_FALSE(dialog.findChild<QWidget*>("pushButton_help_space")->isEnabled());
}

TEST(HelpPage, LoadsAndEveryPictureItNamesIsInTheBundle) {
    const QString page = HelpInfoDialog::LoadHelpHtml();
    ASSERT_FALSE(page.isEmpty());
    EXPECT_TRUE(page.contains(QString::fromUtf8("其它软件如何使用Zu虚拟摄像头")));
    for (const char* part : {"无线连接", "安卓USB连接", "苹果USB连接"}) EXPECT_TRUE(page.contains(QString::fromUtf8(part))) << part;
    const QRegularExpression image("<img[^>]*src=\"([^\"]+)\"");
    int pictures = 0;
    for (auto match = image.globalMatch(page); match.hasNext();) {
        const QString source = match.next().captured(1);
        ++pictures;
        EXPECT_TRUE(source.startsWith(":/help/")) << source.toStdString();
        EXPECT_FALSE(QImage(source).isNull()) << source.toStdString() << " is not in the bundle";
    }
    EXPECT_GE(pictures, 5);

    // The dialog shows it as rich text in its scroll area.
    HelpInfoDialog dialog(nullptr);
    auto* label = dialog.findChild<QLabel*>("label_helpinfo");
    EXPECT_EQ(label->text(), page);
    QTextDocument document;
    document.setHtml(page);
    EXPECT_TRUE(document.toPlainText().contains(QString::fromUtf8("信任")));
}

TEST(HelpPage, IsCutAtAZeroByteAndEmptyWhenMissing) {
    QTemporaryDir folder;
    const QString path = folder.filePath("page.html");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("<p>前</p>\0<p>after</p>", 22));
    file.close();
    EXPECT_EQ(HelpInfoDialog::LoadHelpHtml(path), QString::fromUtf8("<p>前</p>"));
    EXPECT_TRUE(HelpInfoDialog::LoadHelpHtml(folder.filePath("none.html")).isEmpty());
}

TEST(AboutUsDialog, LinksAndPlaceholder) {
    AboutUsDialog dialog(nullptr);
    EXPECT_FALSE(dialog.findChild<QWidget*>("pushButton_about_space")->isEnabled());
    const QString notice = dialog.findChild<QLabel*>("label_about_notice")->text();
    EXPECT_TRUE(notice.contains(QString::fromUtf8(">用户协议</a>&nbsp;&nbsp;|&nbsp;&nbsp;<a")));
    EXPECT_TRUE(notice.contains(QString::fromUtf8("隐私政策")));
    EXPECT_TRUE(notice.contains("#95b4ee"));
    EXPECT_FALSE(QImage(":/image/about_appimg.png").isNull());
}

// ---- the iOS service offer --------------------------------------------------

class IosOfferTest : public testing::Test {
protected:
    void SetUp() override {
        QCoreApplication::processEvents();  // ZuCam's own start-up runs first
        ASSERT_TRUE(folder.isValid());
        IosUsbServerDialog::SetInstallerFolderForTesting(folder.path());
    }
    void TearDown() override {
        IosUsbServerDialog::SetInstallerFolderForTesting(QString());
        SetSystemVersionOverrideForTesting(std::nullopt, std::nullopt);
    }
    // An installer stand-in that writes its arguments and folder to a log.
    void WriteInstaller(const QString& name, const QByteArray& script) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(script);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString Log() const {
        QFile file(folder.filePath("installer.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // Runs the offer inside the application's event loop, clicking "安装";
    // returns the loop's exit code (7 when the program did not end itself).
    int RunClickingInstall(int* dialogResult) {
        QTimer::singleShot(0, [this, dialogResult] {
            IosUsbServerDialog dialog(nullptr);
            *dialogResult = ExecClicking(dialog, "pushButton_ok");
            // Still running: end the loop ourselves with a code of our own.
            QTimer::singleShot(0, [] { QCoreApplication::exit(7); });
        });
        return QCoreApplication::exec();
    }
    QTemporaryDir folder;
};

TEST_F(IosOfferTest, PackageNameFollowsTheSystem) {
    SetSystemVersionOverrideForTesting(true, true);
    EXPECT_EQ(IosUsbServerDialog::InstallerPath(), folder.path() + "/AppleMobileDeviceSupport64.msi");
    SetSystemVersionOverrideForTesting(false, true);
    EXPECT_EQ(IosUsbServerDialog::InstallerPath(), folder.path() + "/AppleMobileDeviceSupport.msi");
    IosUsbServerDialog::SetInstallerFolderForTesting(QString());
    EXPECT_EQ(IosUsbServerDialog::InstallerPath(), QCoreApplication::applicationDirPath() + "/AppleMobileDeviceSupport.msi");
}

TEST_F(IosOfferTest, InstallStartsThePackageThenEndsTheProgramWithCodeZero) {
    SetSystemVersionOverrideForTesting(true, true);
    WriteInstaller("AppleMobileDeviceSupport64.msi",
                   "#!/bin/sh\necho \"ran in $(pwd) with [$*]\" > \"$(dirname \"$0\")/installer.log\"\n");
    zucam::test::MessageBoxRecorder boxes;
    int result = 0;
    EXPECT_EQ(RunClickingInstall(&result), 0);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(boxes.messages().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(Log(), QString("ran in %1 with []\n").arg(folder.path()), 5000);
}

TEST_F(IosOfferTest, WithoutAPackageItNamesTheServicesPackageAndTheProgramStays) {
    SetSystemVersionOverrideForTesting(false, true);
    {
        IosUsbServerDialog dialog(nullptr);
        const auto* note = dialog.findChild<QLabel*>("label_tips_note");
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->text(), QString::fromUtf8(IosUsbServerDialog::kServiceNotice));
        EXPECT_TRUE(note->text().contains("sudo apt install usbmuxd"));
        EXPECT_FALSE(note->text().contains(".msi"));
        EXPECT_TRUE(dialog.findChild<QPushButton*>("pushButton_cancel")->isHidden());
        EXPECT_EQ(dialog.findChild<QPushButton*>("pushButton_ok")->text(), QString::fromUtf8("知道了"));
    }
    zucam::test::MessageBoxRecorder boxes;
    int result = 1;
    EXPECT_EQ(RunClickingInstall(&result), 7);  // not ended by the offer
    EXPECT_EQ(result, 0);                       // closed by its one button
    EXPECT_TRUE(boxes.messages().isEmpty()) << boxes.messages().join("|").toStdString();
}

TEST_F(IosOfferTest, UnstartablePackageSaysWhyAndTheProgramStays) {
    SetSystemVersionOverrideForTesting(false, true);
    zucam::test::MessageBoxRecorder boxes;
    int result = 0;
    // There, executable, but its interpreter does not exist: it cannot start.
    WriteInstaller("AppleMobileDeviceSupport.msi", "#!/nonexistent/interpreter\n");
    EXPECT_EQ(RunClickingInstall(&result), 7);
    EXPECT_EQ(result, dialog_answer::kUseClickResult);  // still open after the click
    ASSERT_EQ(boxes.messages().size(), 1);
    EXPECT_TRUE(boxes.messages()[0].startsWith(QString::fromUtf8("安装程序无法启动"))) << boxes.messages()[0].toStdString();
    EXPECT_TRUE(boxes.messages()[0].contains(folder.path() + "/AppleMobileDeviceSupport.msi"));
}

// ---- tip, guide, USB help -----------------------------------------------------

TEST(CustomTipsDialog, ShowsItsTextCentred) {
    CustomTipsDialog tip(nullptr);
    auto* label = tip.findChild<QLabel*>("label_ipdis_ip");
    EXPECT_EQ(label->text(), QString("- - -"));
    EXPECT_EQ(label->alignment(), Qt::AlignCenter);
    tip.SetText(QString::fromUtf8("截屏成功，可在\n设置中打开目录查看"));
    EXPECT_EQ(tip.text(), QString::fromUtf8("截屏成功，可在\n设置中打开目录查看"));
    EXPECT_EQ(tip.property("header_btns").toList().size(), 0);
}

QImage Paint(GuidWidget& bubble) {
    QImage image(bubble.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // What the paint event draws, unclipped by the window's mask (render()
    // would otherwise place the mask's bounding box at the origin).
    bubble.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::IgnoreMask);
    return image;
}

TEST(GuidWidget, PaintsTheBodyAndPointerOnATransparentBand) {
    GuidWidget bubble(nullptr);
    EXPECT_EQ(int(bubble.windowFlags()), 0x80B);
    EXPECT_TRUE(bubble.testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_EQ(bubble.backgroundColor(), QColor(165, 197, 243));
    EXPECT_EQ(bubble.arrowSide(), 4);
    EXPECT_DOUBLE_EQ(bubble.arrowPosition(), 0.5);
    EXPECT_EQ(bubble.contentsMargins(), QMargins(25, 25, 25, 25));
    EXPECT_TRUE(bubble.findChild<QLabel*>("label_ftip_text")->styleSheet().contains("#FFFFFF"));
    const int w = bubble.width();
    const int h = bubble.height();
    const QColor fill(165, 197, 243);

    QImage image = Paint(bubble);
    EXPECT_EQ(image.pixelColor(w / 2, h / 2), fill);           // the body
    EXPECT_EQ(image.pixelColor(w / 2, h - 13).alpha(), 255);   // the pointer below the body's middle
    EXPECT_EQ(image.pixelColor(w / 4, h - 13).alpha(), 0);     // the band beside it
    for (const QPoint& band : {QPoint(5, 5), QPoint(w - 5, h / 2), QPoint(5, h / 2), QPoint(w / 2, 5)}) {
        EXPECT_EQ(image.pixelColor(band).alpha(), 0) << band.x() << "," << band.y();
    }

    bubble.SetArrow(2, 0.25);
    image = Paint(bubble);
    EXPECT_EQ(image.pixelColor(w / 4, 13).alpha(), 255);  // on the top edge, a quarter across
    EXPECT_EQ(image.pixelColor(w / 2, 13).alpha(), 0);
    EXPECT_EQ(image.pixelColor(w / 2, h - 13).alpha(), 0);

    bubble.SetArrow(7, 0.5);  // no such side: no pointer
    image = Paint(bubble);
    for (int y = 0; y < 20; ++y) EXPECT_EQ(image.pixelColor(w / 2, y).alpha(), 0);
    for (int y = h - 20; y < h; ++y) EXPECT_EQ(image.pixelColor(w / 2, y).alpha(), 0);

    // The window is masked to the bubble as well (no dark band without a
    // compositor): the pointer and body inside, the band outside.
    bubble.SetArrow(4, 0.5);
    EXPECT_TRUE(bubble.mask().contains(QPoint(w / 2, h - 13)));
    EXPECT_TRUE(bubble.mask().contains(QPoint(w / 2, h / 2)));
    EXPECT_FALSE(bubble.mask().contains(QPoint(w / 4, h - 13)));
    EXPECT_FALSE(bubble.mask().contains(QPoint(5, 5)));

    QSignalSpy closed(&bubble, &GuidWidget::sig_firstClose);
    bubble.findChild<QAbstractButton*>("pushButton_ftip_close")->click();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(bubble.isHidden() && bubble.isVisible());  // it never closes itself
}

TEST(GuidWidget, TextColourRule) {
    GuidWidget bubble(nullptr);
    bubble.SetText("x", QColor(1, 2, 3));
    EXPECT_EQ(bubble.findChild<QLabel*>("label_ftip_text")->styleSheet(), QString("color: rgb(1, 2, 3)"));
    bubble.SetText("y", QColor());
    EXPECT_EQ(bubble.findChild<QLabel*>("label_ftip_text")->styleSheet(), QString("color: rgb(0, 0, 0)"));
}

TEST(OpenUSBHelpDialog, PlaysTheAnimationScaledToItsLabel) {
    OpenUSBHelpDialog dialog(nullptr);
    QMovie* movie = dialog.movie();
    ASSERT_NE(movie, nullptr);
    EXPECT_TRUE(movie->isValid());
    EXPECT_GT(movie->frameCount(), 1);
    EXPECT_EQ(movie->state(), QMovie::Running);
    auto* label = dialog.findChild<QLabel*>("label_usb_help_gif");
    EXPECT_EQ(label->movie(), movie);
    EXPECT_TRUE(label->hasScaledContents());

    QResizeEvent resize(QSize(100, 120), QSize(217, 235));
    QCoreApplication::sendEvent(label, &resize);
    EXPECT_EQ(movie->scaledSize(), QSize(100, 120));
    movie->jumpToNextFrame();
    EXPECT_EQ(movie->currentImage().size(), QSize(100, 120));

    // Another widget's resize does not reach the movie.
    QWidget* other = dialog.findChild<QWidget*>("widget_usb_help_main");
    QResizeEvent otherResize(QSize(50, 50), QSize(10, 10));
    QCoreApplication::sendEvent(other, &otherResize);
    EXPECT_EQ(movie->scaledSize(), QSize(100, 120));
    for (const char* image : {":/image/help_step_1.png", ":/image/help_step_2.png"}) EXPECT_FALSE(QImage(image).isNull()) << image;
}

}  // namespace

// ---- opening folders and links ------------------------------------------------

namespace {
// PATH holds only an empty folder of ours: no opener.
class DesktopOpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedPath = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit());
        savedDesktop = qgetenv("XDG_CURRENT_DESKTOP");
        qunsetenv("XDG_CURRENT_DESKTOP");
    }
    void TearDown() override {
        qputenv("PATH", savedPath);
        if (!savedDesktop.isEmpty()) qputenv("XDG_CURRENT_DESKTOP", savedDesktop);
    }
    QTemporaryDir bin;
    QTemporaryDir recordings;
    QByteArray savedPath, savedDesktop;
};
}  // namespace

TEST_F(DesktopOpenTest, WithoutAnOpenerTheUserIsToldThePathOrTheLink) {
    zucam::test::MessageBoxRecorder boxes;
    EXPECT_FALSE(OpenWithDesktop(nullptr, QUrl::fromLocalFile(recordings.path() + "/")));
    EXPECT_FALSE(OpenWithDesktop(nullptr, QUrl("https://www.zucam.example/help")));
    ASSERT_EQ(boxes.messages().size(), 2);
    EXPECT_TRUE(boxes.messages()[0].startsWith(QString::fromUtf8("无法打开文件夹，文件保存在：")));
    EXPECT_TRUE(boxes.messages()[0].contains(recordings.path())) << boxes.messages()[0].toStdString();
    EXPECT_TRUE(boxes.messages()[1].contains("https://www.zucam.example/help")) << boxes.messages()[1].toStdString();
}

namespace {

// The version check's failures speak through the program's own message box.
TEST(VersionCheckMessages, FailuresUseTheProgramsMessageBox) {
    const struct {
        int errcode;
        const char* result;
        const char* message;
    } cases[] = {
        {-1, "", "检查更新失败，请检查网络后重试"},
        {0, R"({"app_version":"1.1.8","current_version":"x1.2.0"})", "版本错误"},
    };
    for (const auto& c : cases) {
        zucam::test::MessageBoxRecorder recorder;
        tq::ValueMap reply;
        reply["errcode"] = tq::Value(c.errcode);
        reply["result"] = tq::Value(std::string(c.result));
        zucamApp()->onVersionCheckReply(tq::Value(reply), true);
        EXPECT_EQ(recorder.messages(), QStringList{QString::fromUtf8(c.message)}) << c.message;
    }
}

}  // namespace
