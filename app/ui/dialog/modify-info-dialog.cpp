#include "ui/dialog/modify-info-dialog.h"

#include <QHelpEvent>
#include <QMessageBox>
#include <QRegExpValidator>

#include "ui/dialog/dialog_answer.h"
#include "ui/dialog/dialog_frame.h"
#include "ui/dialog/name_rules.h"
#include "ui_modify-info-dialog.h"

namespace {
ModifyInfoDialog::NoticeHook g_noticeHook;  // GUI thread only
}  // namespace

ModifyInfoDialog::ModifyInfoDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::ModifyInfoDialog>()) {
    ui_->setupUi(this);
    const double s = applicationDpiScale();
    setFixedSize(static_cast<int>(350 * s), static_cast<int>(115 * s));
    // The whole dialog is its header: it has no title bar of its own.
    ApplyDialogFrame(this, ":/qss/dialog/modify-info-dialog.css", nullptr, 40,
                     {ui_->lineEdit_new_name, ui_->pushButton_cancel, ui_->pushButton_ok}, height());
    ui_->lineEdit_new_name->setValidator(new QRegExpValidator(CameraNamePattern(), ui_->lineEdit_new_name));
    ui_->lineEdit_new_name->setPlaceholderText(QString::fromUtf8("仅允许输入中文、字母、数字和下划线"));
    ui_->lineEdit_new_name->setToolTip(QString::fromUtf8("置空则设置为默认名称\"Zu Camera\""));
    ui_->lineEdit_new_name->installEventFilter(this);
}

ModifyInfoDialog::~ModifyInfoDialog() = default;

void ModifyInfoDialog::SetOldName(const QString& name) {
    oldName_ = name;
    ui_->label_old_name->setText(QString::fromUtf8("曾用名称：%1").arg(name));
}

QString ModifyInfoDialog::GetNewName() const { return ui_->lineEdit_new_name->text().trimmed(); }

int ModifyInfoDialog::exec() { return dialog_answer::Exec(*this); }

// The program's one dialog hook, typed for this dialog; other dialogs run
// while it is set get no answer from it (0).
void ModifyInfoDialog::setAnswerHook(AnswerHook hook) {
    if (!hook) {
        dialog_answer::SetHook(nullptr);
        return;
    }
    dialog_answer::SetHook([hook = std::move(hook)](QDialog& dialog) {
        auto* const modify = qobject_cast<ModifyInfoDialog*>(&dialog);
        return modify != nullptr ? hook(*modify) : 0;
    });
}
void ModifyInfoDialog::setNoticeHook(NoticeHook hook) { g_noticeHook = std::move(hook); }

void ModifyInfoDialog::on_pushButton_ok_clicked() {
    if (GetNewName() == oldName_) {
        const QString notice = QString::fromUtf8("新名称不可与老名称一致");
        if (g_noticeHook) {
            g_noticeHook(notice);
        } else {
            QMessageBox::information(this, QString::fromUtf8("提示"), notice, QString::fromUtf8("确定"));
        }
        return;
    }
    if (GetNewName().isEmpty()) ui_->lineEdit_new_name->setText(QString::fromUtf8(kCameraNameDefault));
    accept();
}

void ModifyInfoDialog::on_pushButton_cancel_clicked() { reject(); }

bool ModifyInfoDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->lineEdit_new_name && event->type() == QEvent::Enter) {
        // The tool tip at once, below the middle of the line edit.
        QLineEdit* const edit = ui_->lineEdit_new_name;
        const QPoint bottomCentre = edit->mapToGlobal(QPoint(edit->width() / 2, edit->height()));
        QCoreApplication::postEvent(edit, new QHelpEvent(QEvent::ToolTip, QPoint(0, 0), bottomCentre));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
