#include "ui/dialog/camera-model-dialog.h"

#include "ui_camera-model-dialog.h"

CameraModelDialog::CameraModelDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CameraModelDialog>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui_->label->setStyleSheet("QLabel {font-family: \"Microsoft Yahei\";font-size: 9pt;color: #333333;}");
}

CameraModelDialog::~CameraModelDialog() = default;

void CameraModelDialog::SetText(const QString& text) { ui_->label->setText(text); }
QString CameraModelDialog::text() const { return ui_->label->text(); }
