#include "form-dialogs.h"

#include <QDebug>
#include <QFileInfo>
#include <QtGlobal>
#include <algorithm>

#include "core/frameless/screen_fit.h"
#include "ui/dialog/aboutus-dialog.h"
#include "ui/dialog/custom-tips-dialog.h"
#include "ui/dialog/frame-adjustment-dialog.h"
#include "ui/dialog/guid-widget.h"
#include "ui/dialog/help-dialog.h"
#include "ui/dialog/help-info-dialog.h"
#include "ui/dialog/ios-usb-server-dialog.h"
#include "ui/dialog/message-box-dialog.h"
#include "ui/dialog/net-check-dialog.h"
#include "ui/dialog/open-usb-help-dialog.h"
#include "ui/dialog/setting-dialog.h"
#include "ui/main-form.h"
#include "zucam.h"

namespace form_dialogs {

QDialog* CreateSettingDialog(QWidget* window) { return new SettingDialog(window); }
QDialog* CreateFrameAdjustmentDialog(QWidget* window) { return new FrameAdjustmentDialog(window); }
QDialog* CreateNetCheckDialog(QWidget* window) { return new NetCheckDialog(window); }

void ToggleVirtualMic(QDialog* settingDialog) {
    if (auto* dialog = qobject_cast<SettingDialog*>(settingDialog)) dialog->ToggleVirtualMic();
}

void SetCameraModeDisabled(QDialog* settingDialog, bool disabled) {
    if (auto* dialog = qobject_cast<SettingDialog*>(settingDialog)) dialog->SetCameraModeDisabled(disabled);
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

void PlaceGuideBubble(QWidget* bubble, const QRect& wanted) {
    const QRect placed = screen_fit::FitInto(wanted, screen_fit::AvailableAreaAt(wanted.center()));
    bubble->move(placed.topLeft());
    auto* guide = qobject_cast<GuidWidget*>(bubble);
    if (guide == nullptr || placed.width() <= 0 || (guide->arrowSide() != 2 && guide->arrowSide() != 4)) return;
    // The pointer stands under the middle of where the bubble was wanted,
    // within the body (20 pixels in from each side) with its 10-pixel half.
    const double width = placed.width();
    const double tip = wanted.x() + wanted.width() / 2.0 - placed.x();
    guide->SetArrow(guide->arrowSide(), std::clamp(tip, 30.0, std::max(30.0, width - 30.0)) / width);
    guide->update();
}

void CheckAppleMobileDeviceSupport(bool showDialog, bool rearm) {
    if (ZuCam* app = zucamApp()) app->checkAppleMobileDeviceSupport(showDialog, rearm);
}

void RunIosUsbServerDialog(QWidget* window) {
    IosUsbServerDialog dialog(window);
    dialog.exec();
}

}  // namespace form_dialogs
