#include "ui/dialog/help-info-dialog.h"

#include <QFile>
#include <QUrl>

#include "ui/dialog/dialog_answer.h"
#include "ui/dialog/dialog_frame.h"
#include "ui_help-info-dialog.h"
#include "ui/dialog/desktop_open.h"

HelpInfoDialog::HelpInfoDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::HelpInfoDialog>()) {
    ui_->setupUi(this);
    ApplyDialogFrame(this, ":/qss/dialog/help-info-dialog.qss", ui_->widget_helpinfo_title, 40,
                     {ui_->pushButton_helpinfo_close});
    const double s = applicationDpiScale();
    setFixedSize(static_cast<int>(700 * s), static_cast<int>(800 * s));
    Init();
}

HelpInfoDialog::~HelpInfoDialog() = default;

int HelpInfoDialog::exec() { return dialog_answer::Exec(*this); }

void HelpInfoDialog::Init() {
    ui_->pushButton_helpinfo_space->setEnabled(false);
    ui_->scrollArea->setBackgroundRole(QPalette::Light);
    ui_->scrollArea->setFrameShape(QFrame::NoFrame);
    ui_->label_helpinfo->setText(LoadHelpHtml());
    connect(ui_->label_helpinfo, SIGNAL(linkActivated(QString)), this, SLOT(slot_openUrl(QString)));
}

QString HelpInfoDialog::LoadHelpHtml(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    const QByteArray bytes = file.readAll();
    return QString::fromUtf8(bytes.constData());  // stops at the first zero byte
}

void HelpInfoDialog::on_pushButton_helpinfo_close_clicked() { accept(); }
void HelpInfoDialog::slot_openUrl(const QString& url) { OpenWithDesktop(this, QUrl(url)); }
