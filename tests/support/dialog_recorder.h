// Records every modal dialog a test makes run (other than the message box,
// see message_box_recorder.h) by its class name and answers it without
// showing it; the hook is removed when the recorder goes. GUI thread only.
#pragma once

#include <QDialog>
#include <QStringList>

#include "ui/dialog/dialog_answer.h"

namespace zucam::test {

class DialogRecorder {
public:
    explicit DialogRecorder(int answer = 1) {
        dialog_answer::SetHook([this, answer](QDialog& dialog) {
            dialogs_ << dialog.metaObject()->className();
            return answer;
        });
    }
    ~DialogRecorder() { dialog_answer::SetHook(nullptr); }
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    const QStringList& dialogs() const { return dialogs_; }
    int count(const QString& className) const { return dialogs_.count(className); }

private:
    QStringList dialogs_;
};

}  // namespace zucam::test
