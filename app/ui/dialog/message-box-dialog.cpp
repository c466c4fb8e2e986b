#include "ui/dialog/message-box-dialog.h"

#include <QFontMetrics>

#include "ui/dialog/dialog_frame.h"
#include "ui_message-box-dialog.h"

namespace {
MessageBoxDialog::AnswerHook g_answerHook;  // GUI thread only
}

MessageBoxDialog::MessageBoxDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::MessageBoxDialog>()) {
    ui_->setupUi(this);
    ApplyDialogFrame(this, ":/qss/dialog/message-box-dialog.qss", ui_->widget_title, 40,
                     {ui_->pushButton_message_box_close});
}

MessageBoxDialog::~MessageBoxDialog() = default;

void MessageBoxDialog::SetMessage(const QString& text) {
    const double s = applicationDpiScale();
    const QFontMetrics metrics(QFont("Microsoft YaHei", 10));
    int widest = 0;
    for (const QString& line : text.split('\n', Qt::KeepEmptyParts)) widest = std::max(widest, metrics.horizontalAdvance(line));
    double width = widest + static_cast<int>(60 * s);
    if (!(width > 260 * s)) width = 260 * s;
    setFixedWidth(static_cast<int>(width));
    ui_->label_msg->setText(text);
}

void MessageBoxDialog::SetButtons(int count, const QString& okText, const QString& cancelText) {
    if (count < 0 || count > 2) return;
    ui_->pushButton_ok->setVisible(count >= 1);
    ui_->pushButton_cancel->setVisible(count == 2);
    if (count >= 1) ui_->pushButton_ok->setText(okText);
    if (count == 2) ui_->pushButton_cancel->setText(cancelText);
}

int MessageBoxDialog::exec() {
    if (g_answerHook) {
        setResult(kUseClickResult);
        const int answer = g_answerHook(*this);
        return answer == kUseClickResult ? result() : answer;
    }
    return QDialog::exec();
}

void MessageBoxDialog::setAnswerHook(AnswerHook hook) { g_answerHook = std::move(hook); }

QString MessageBoxDialog::message() const { return ui_->label_msg->text(); }
bool MessageBoxDialog::okVisible() const { return !ui_->pushButton_ok->isHidden(); }
bool MessageBoxDialog::cancelVisible() const { return !ui_->pushButton_cancel->isHidden(); }

void MessageBoxDialog::on_pushButton_ok_clicked() { done(1); }
void MessageBoxDialog::on_pushButton_cancel_clicked() { done(0); }
void MessageBoxDialog::on_pushButton_message_box_close_clicked() { done(-1); }
