#include "form-dialogs.h"

#include <QDebug>
#include <QFileInfo>
#include <QtGlobal>

#include "ui/dialog/frame-adjustment-dialog.h"
#include "ui/dialog/message-box-dialog.h"
#include "ui/dialog/setting-dialog.h"
#include "ui/main-form.h"
#include "zucam.h"

namespace form_dialogs {
namespace {

// What stands in for a dialog that is not built yet: a message box naming it.
MessageBoxDialog* MakeStandIn(QWidget* parent, const QString& what, int buttons = 1) {
    auto* box = new MessageBoxDialog(parent);
    box->setObjectName(QString("standin_%1").arg(what));
    box->SetMessage(QString::fromUtf8("此处将打开“%1”。").arg(what));
    box->SetButtons(buttons, QString::fromUtf8("确定"), QString::fromUtf8("取消"));
    return box;
}

void RunStandIn(QWidget* parent, const QString& what) {
    MessageBoxDialog box(parent);
    box.setObjectName(QString("standin_%1").arg(what));
    box.SetMessage(QString::fromUtf8("此处将打开“%1”。").arg(what));
    box.SetButtons(1, QString::fromUtf8("确定"), QString());
    box.exec();
}

}  // namespace

QDialog* CreateSettingDialog(QWidget* window) { return new SettingDialog(window); }
QDialog* CreateFrameAdjustmentDialog(QWidget* window) { return new FrameAdjustmentDialog(window); }
QDialog* CreateNetCheckDialog(QWidget* window) { return MakeStandIn(window, QString::fromUtf8("网络诊断")); }

void ToggleVirtualMic(QDialog* settingDialog) {
    if (auto* dialog = qobject_cast<SettingDialog*>(settingDialog)) dialog->ToggleVirtualMic();
}

void SetCameraModeDisabled(QDialog* settingDialog, bool disabled) {
    if (auto* dialog = qobject_cast<SettingDialog*>(settingDialog)) dialog->SetCameraModeDisabled(disabled);
}

void RunHelpDialog(QWidget* window) { RunStandIn(window, QString::fromUtf8("使用帮助")); }
void RunAboutUsDialog(QWidget* window) { RunStandIn(window, QString::fromUtf8("关于我们")); }
void RunUsbHelpDialog(QWidget* window) { RunStandIn(window, QString::fromUtf8("手机如何开启USB调试模式")); }

QWidget* CreateScreenShotTip(QWidget* parent, const QString& text) {
    auto* tip = new MessageBoxDialog(parent);
    tip->setObjectName("standin_screenshot_tip");
    tip->SetMessage(text);
    tip->SetButtons(0, QString(), QString());
    return tip;
}

QWidget* CreateGuideBubble(QWidget* window, std::function<void()> onFirstClose) {
    auto* bubble = new MessageBoxDialog(window);
    bubble->setObjectName("standin_guide_bubble");
    bubble->setModal(false);
    bubble->SetMessage(QString::fromUtf8("不知道怎么用，看这里哦！"));
    bubble->SetButtons(1, QString::fromUtf8("关闭提示"), QString());
    // Any way of closing it (the button or the title-bar close) dismisses
    // the guide for good, as the bubble's own close button does.
    QObject::connect(bubble, &QDialog::finished, bubble, [onFirstClose](int) {
        if (onFirstClose) onFirstClose();
    });
    return bubble;
}

void CheckAppleMobileDeviceSupport(bool showDialog, bool rearm) {
    if (ZuCam* app = zucamApp()) app->checkAppleMobileDeviceSupport(showDialog, rearm);
}

void RunIosUsbServerDialog(QWidget* window) { RunStandIn(window, QString::fromUtf8("iOS USB服务安装")); }

}  // namespace form_dialogs
