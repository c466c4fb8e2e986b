#include "ui/dialog/custom-tips-dialog.h"

#include "ui/dialog/dialog_answer.h"
#include "ui/dialog/dialog_frame.h"
#include "ui_custom-tips-dialog.h"

CustomTipsDialog::CustomTipsDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CustomTipsDialog>()) {
    ui_->setupUi(this);
    ApplyDialogFrame(this, ":/qss/dialog/custom-tips-dialog.qss", nullptr, 0, {}, 0);
    const double s = applicationDpiScale();
    setFixedSize(static_cast<int>(160 * s), static_cast<int>(60 * s));
    ui_->label_ipdis_ip->setAlignment(Qt::AlignCenter);
}

CustomTipsDialog::~CustomTipsDialog() = default;

int CustomTipsDialog::exec() { return dialog_answer::Exec(*this); }

void CustomTipsDialog::SetText(const QString& text) { ui_->label_ipdis_ip->setText(text); }
QString CustomTipsDialog::text() const { return ui_->label_ipdis_ip->text(); }
