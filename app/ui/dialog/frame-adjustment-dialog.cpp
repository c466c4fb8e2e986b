#include "ui/dialog/frame-adjustment-dialog.h"

#include "core/tether/tq.h"
#include "ui/dialog/dialog_frame.h"
#include "ui_frame-adjustment-dialog.h"

namespace {

// Sets the mirror control without letting it report the change back, so
// that one user change writes its UI value exactly once.
template <typename Control>
void Mirror(Control* control, int value) {
    const bool wasBlocked = control->blockSignals(true);
    control->setValue(value);
    control->blockSignals(wasBlocked);
}

void SetUiInt(const char* key, int value) {
    if (g_cd != nullptr && g_cd->uiValues != nullptr) g_cd->uiValues->set(key, tq::Value(value));
}

}  // namespace

FrameAdjustmentDialog::FrameAdjustmentDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::FrameAdjustmentDialog>()) {
    ui_->setupUi(this);
    const double s = applicationDpiScale();
    setFixedSize(static_cast<int>(400 * s), static_cast<int>(160 * s));
    ApplyDialogFrame(this, ":/qss/dialog/frame_adjustment_dialog.css", ui_->widget_title, 40,
                     {ui_->pushButton_close});
    Init();
}

FrameAdjustmentDialog::~FrameAdjustmentDialog() = default;

void FrameAdjustmentDialog::Init() {
    // The scroll area's contents do not inherit the dialog's sheet through
    // the viewport: they get a copy of their own.
    ui_->scrollAreaWidgetContents->setStyleSheet(styleSheet());
    ui_->pushButton_left_spacer->setEnabled(false);
    // Ranges first, then the values: a value set before its range would be
    // clamped to the designer's 0..99. No UI value is written here.
    for (QObject* control : {static_cast<QObject*>(ui_->horizontalSlider_color_correction),
                             static_cast<QObject*>(ui_->spinBox_color_correction),
                             static_cast<QObject*>(ui_->horizontalSlider_brightness),
                             static_cast<QObject*>(ui_->spinBox_brightness)}) {
        control->blockSignals(true);
    }
    ui_->horizontalSlider_color_correction->setRange(kColorMin, kColorMax);
    ui_->spinBox_color_correction->setRange(kColorMin, kColorMax);
    ui_->horizontalSlider_brightness->setRange(kBrightMin, kBrightMax);
    ui_->spinBox_brightness->setRange(kBrightMin, kBrightMax);
    ui_->horizontalSlider_color_correction->setValue(0);
    ui_->spinBox_color_correction->setValue(0);
    ui_->horizontalSlider_brightness->setValue(0);
    ui_->spinBox_brightness->setValue(0);
    for (QObject* control : {static_cast<QObject*>(ui_->horizontalSlider_color_correction),
                             static_cast<QObject*>(ui_->spinBox_color_correction),
                             static_cast<QObject*>(ui_->horizontalSlider_brightness),
                             static_cast<QObject*>(ui_->spinBox_brightness)}) {
        control->blockSignals(false);
    }
}

void FrameAdjustmentDialog::SetColorValue(int value) { SetUiInt("color_value", value); }
void FrameAdjustmentDialog::SetBrightValue(int value) { SetUiInt("bright_value", value); }

void FrameAdjustmentDialog::on_horizontalSlider_color_correction_valueChanged(int value) {
    Mirror(ui_->spinBox_color_correction, value);
    SetColorValue(value);
}

void FrameAdjustmentDialog::on_spinBox_color_correction_valueChanged(int value) {
    Mirror(ui_->horizontalSlider_color_correction, value);
    SetColorValue(value);
}

void FrameAdjustmentDialog::on_horizontalSlider_brightness_valueChanged(int value) {
    Mirror(ui_->spinBox_brightness, value);
    SetBrightValue(value);
}

void FrameAdjustmentDialog::on_spinBox_brightness_valueChanged(int value) {
    Mirror(ui_->horizontalSlider_brightness, value);
    SetBrightValue(value);
}

void FrameAdjustmentDialog::on_pushButton_close_clicked() { hide(); }
