#include "ui/dialog/help-dialog.h"

#include <QButtonGroup>
#include <QUrl>

#include "ui/dialog/dialog_answer.h"
#include "ui/dialog/dialog_frame.h"
#include "ui_help-dialog.h"
#include "ui/dialog/desktop_open.h"

HelpDialog::HelpDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::HelpDialog>()) {
    ui_->setupUi(this);
    ApplyDialogFrame(this, ":/qss/dialog/help-dialog.qss", ui_->widget_help_title, 40, {ui_->pushButton_help_close});
    const double s = applicationDpiScale();
    setFixedSize(static_cast<int>(350 * s), static_cast<int>(350 * s));
    Init();
}

HelpDialog::~HelpDialog() = default;

int HelpDialog::exec() { return dialog_answer::Exec(*this); }

void HelpDialog::Init() {
    ui_->pushButton_help_space->setEnabled(false);
    connect(ui_->label_help_step1, SIGNAL(linkActivated(QString)), this, SLOT(slot_openUrl(QString)));
    // Exactly one of the two page buttons is checked at any time.
    auto* pages = new QButtonGroup(this);
    pages->setExclusive(true);
    ui_->pushButton_wireless_help->setCheckable(true);
    ui_->pushButton_usb_help->setCheckable(true);
    pages->addButton(ui_->pushButton_wireless_help);
    pages->addButton(ui_->pushButton_usb_help);
    ui_->pushButton_wireless_help->setChecked(true);
    ShowSteps(false);
}

void HelpDialog::ShowSteps(bool usb) {
    ui_->label_help_step2->setVisible(!usb);
    ui_->label_help_step3->setVisible(!usb);
    ui_->label_help_step4->setVisible(usb);
    ui_->label_help_step5->setVisible(usb);
    ui_->label_help_step6->setVisible(usb);
}

void HelpDialog::on_pushButton_help_close_clicked() { accept(); }
void HelpDialog::on_pushButton_wireless_help_clicked() { ShowSteps(false); }
void HelpDialog::on_pushButton_usb_help_clicked() { ShowSteps(true); }
void HelpDialog::slot_openUrl(const QString& url) { OpenWithDesktop(this, QUrl(url)); }
