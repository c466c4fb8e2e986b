#include "form-dialogs.h"

#include <QDebug>
#include <QFileInfo>
#include <QtGlobal>

#include "ui/dialog/aboutus-dialog.h"
#include "ui/dialog/custom-tips-dialog.h"
#include "ui/dialog/guid-widget.h"
#include "ui/dialog/help-dialog.h"
#include "ui/dialog/help-info-dialog.h"
#include "ui/dialog/ios-usb-server-dialog.h"
#include "ui/dialog/message-box-dialog.h"
#include "ui/dialog/net-check-dialog.h"
#include "ui/dialog/open-usb-help-dialog.h"
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

QDialog* CreateSettingDialog(QWidget* window) { return MakeStandIn(window, QString::fromUtf8("设置")); }
QDialog* CreateFrameAdjustmentDialog(QWidget* window) { return MakeStandIn(window, QString::fromUtf8("画面调节")); }
QDialog* CreateNetCheckDialog(QWidget* window) { return new NetCheckDialog(window); }

void ToggleVirtualMic(QDialog* settingDialog) {
    // The settings dialog opens or closes the virtual microphone; until it
    // exists the switch says so and leaves the microphone as it is.
    RunStandIn(settingDialog != nullptr ? settingDialog->parentWidget() : nullptr,
               QString::fromUtf8("虚拟麦克风开关"));
}

void SetCameraModeDisabled(QDialog* settingDialog, bool disabled) {
    // The settings dialog greys out its camera-mode switch while a phone
    // streams; the stand-in has no such switch.
    Q_UNUSED(settingDialog);
    Q_UNUSED(disabled);
}

void RunHelpDialog(QWidget* window) {
    HelpDialog dialog(window);
    dialog.exec();
}

void RunAboutUsDialog(QWidget* window) {
    AboutUsDialog dialog(window);
    dialog.exec();
}

void RunUsbHelpDialog(QWidget* window) {
    OpenUSBHelpDialog dialog(window);
    dialog.exec();
}

void RunHelpInfoDialog(QWidget* window) {
    HelpInfoDialog dialog(window);
    dialog.exec();
}

QWidget* CreateScreenShotTip(QWidget* parent, const QString& text) {
    auto* tip = new CustomTipsDialog(parent);
    tip->SetText(text);
    return tip;
}

QWidget* CreateGuideBubble(QWidget* window, std::function<void()> onFirstClose) {
    auto* bubble = new GuidWidget(window);
    QObject::connect(bubble, &GuidWidget::sig_firstClose, bubble, [onFirstClose] {
        if (onFirstClose) onFirstClose();
    });
    return bubble;
}

void CheckAppleMobileDeviceSupport(bool showDialog, bool rearm) {
    if (ZuCam* app = zucamApp()) app->checkAppleMobileDeviceSupport(showDialog, rearm);
}

void RunIosUsbServerDialog(QWidget* window) {
    IosUsbServerDialog dialog(window);
    dialog.exec();
}

}  // namespace form_dialogs
