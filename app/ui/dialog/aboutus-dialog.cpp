#include "ui/dialog/aboutus-dialog.h"

#include <QUrl>

#include "ui/dialog/dialog_answer.h"
#include "ui/dialog/dialog_frame.h"
#include "ui_aboutus-dialog.h"
#include "ui/dialog/desktop_open.h"

AboutUsDialog::AboutUsDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutUsDialog>()) {
    ui_->setupUi(this);
    ApplyDialogFrame(this, ":/qss/dialog/aboutus-dialog.qss", ui_->widget_about_title, 40,
                     {ui_->pushButton_about_close});
    const double s = applicationDpiScale();
    setFixedSize(static_cast<int>(350 * s), static_cast<int>(446 * s));
    Init();
}

AboutUsDialog::~AboutUsDialog() = default;

int AboutUsDialog::exec() { return dialog_answer::Exec(*this); }

void AboutUsDialog::Init() {
    // The left placeholder balances the close button; it never reacts.
    ui_->pushButton_about_space->setEnabled(false);
    connect(ui_->label_about_zu, SIGNAL(linkActivated(QString)), this, SLOT(slot_openUrl(QString)));
    connect(ui_->label_about_notice, SIGNAL(linkActivated(QString)), this, SLOT(slot_openUrl(QString)));
}

void AboutUsDialog::on_pushButton_about_close_clicked() { accept(); }

void AboutUsDialog::slot_openUrl(const QString& url) { OpenWithDesktop(this, QUrl(url)); }
