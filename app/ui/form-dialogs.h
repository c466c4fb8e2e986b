// Every dialog, tip and application service that the connection form and the
// tool bar open or call, gathered here so that each has one place where it
// is made: the forms never name a dialog class themselves.
//
// GUI thread only.
#pragma once

#include <QString>
#include <QRect>
#include <functional>

class QDialog;
class QWidget;

namespace form_dialogs {

// The tool bar's long-lived dialogs: made once with the top-level window as
// parent, run with exec() each time, hidden on close.
QDialog* CreateSettingDialog(QWidget* window);
QDialog* CreateFrameAdjustmentDialog(QWidget* window);
QDialog* CreateNetCheckDialog(QWidget* window);

// What the tool bar asks of the settings dialog.
void ToggleVirtualMic(QDialog* settingDialog);
void SetCameraModeDisabled(QDialog* settingDialog, bool disabled);

// Dialogs that live for one modal run.
void RunHelpDialog(QWidget* window);
void RunAboutUsDialog(QWidget* window);
void RunUsbHelpDialog(QWidget* window);
// The help page (the main window's help-information button).
void RunHelpInfoDialog(QWidget* window);

// The screenshot tip: made with parent as its parent, carrying text; the
// caller places, shows and releases it.
QWidget* CreateScreenShotTip(QWidget* parent, const QString& text);

// The first-use guide bubble: made with window as parent, not yet shown;
// onFirstClose runs when the user dismisses it for good.
QWidget* CreateGuideBubble(QWidget* window, std::function<void()> onFirstClose);
// Moves the bubble to `wanted` (screen coordinates), kept inside the screen's
// available area; its pointer stands under the middle of `wanted` (as far
// as the bubble's body reaches), so it still points at what it explains.
void PlaceGuideBubble(QWidget* bubble, const QRect& wanted);

// The check for the iOS USB service (and, when it is missing and showDialog
// is set, the offer to install it once per run; rearm allows one more):
// ZuCam::checkAppleMobileDeviceSupport. Refreshes ZuCam's "installed" flag
// and the connection form's tip button.
void CheckAppleMobileDeviceSupport(bool showDialog, bool rearm);

// The iOS USB service offer, run modally over window (ZuCam calls it when
// the service is missing and an offer is due). Its "安装" ends the program
// once the installer package started.
void RunIosUsbServerDialog(QWidget* window);

}  // namespace form_dialogs
