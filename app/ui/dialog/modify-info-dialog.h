// Asks for a new camera name: the old one above, a line edit that takes
// Chinese characters, Latin letters, digits, the underscore and blanks, and
// "确认修改" / "取消". exec() returns 1 when a new name was accepted (read it
// with GetNewName; a blank entry comes back as "Zu Camera"), 0 otherwise.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "ui/dialog/dialog_answer.h"

namespace Ui {
class ModifyInfoDialog;
}

class ModifyInfoDialog : public QDialog {
    Q_OBJECT

public:
    explicit ModifyInfoDialog(QWidget* parent);
    ~ModifyInfoDialog() override;

    void SetOldName(const QString& name);
    // The line edit's text, trimmed.
    QString GetNewName() const;
    int exec() override;

    // Tests, GUI thread only. While an answer hook is set, exec() shows
    // nothing and returns the hook's answer (the hook may fill the line edit
    // and click the buttons itself, then return kUseClickResult to take the
    // result they produced). While a notice hook is set, the "same name"
    // notice is handed to it instead of being shown.
    using AnswerHook = std::function<int(ModifyInfoDialog&)>;
    static void setAnswerHook(AnswerHook hook);
    using NoticeHook = std::function<void(const QString&)>;
    static void setNoticeHook(NoticeHook hook);
    static constexpr int kUseClickResult = dialog_answer::kUseClickResult;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void on_pushButton_ok_clicked();
    void on_pushButton_cancel_clicked();

private:
    std::unique_ptr<Ui::ModifyInfoDialog> ui_;
    QString oldName_;
};
