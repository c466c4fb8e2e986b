// The one message box of the program: a message, up to two buttons, and the
// title-bar close. exec() returns 1 (OK), 0 (Cancel) or -1 (closed).
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

namespace Ui {
class MessageBoxDialog;
}

class MessageBoxDialog : public QDialog {
    Q_OBJECT

public:
    explicit MessageBoxDialog(QWidget* parent);
    ~MessageBoxDialog() override;

    // Sets the text and fixes the width: the widest line in "Microsoft
    // YaHei" 10pt plus int(60 * s), at least 260 * s.
    void SetMessage(const QString& text);
    // 0: no buttons; 1: OK only; 2: OK and Cancel; anything else: unchanged.
    void SetButtons(int count, const QString& okText, const QString& cancelText);
    int exec() override;

    // Tests: while set, exec() shows nothing and returns the hook's answer
    // (the hook may click the dialog's buttons itself and return -2 to take
    // the result they produce). GUI thread only.
    using AnswerHook = std::function<int(MessageBoxDialog&)>;
    static void setAnswerHook(AnswerHook hook);
    static constexpr int kUseClickResult = -2;

    QString message() const;
    bool okVisible() const;
    bool cancelVisible() const;

private slots:
    void on_pushButton_ok_clicked();
    void on_pushButton_cancel_clicked();
    void on_pushButton_message_box_close_clicked();

private:
    std::unique_ptr<Ui::MessageBoxDialog> ui_;
};
