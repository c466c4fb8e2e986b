// Records every message box a test makes run (MessageBoxDialog::exec) and
// answers it without showing it; the hook is removed when the recorder goes.
// GUI thread only.
#pragma once

#include <QString>
#include <QStringList>

#include "ui/dialog/message-box-dialog.h"

namespace zucam::test {

class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(int answer = 1) {
        MessageBoxDialog::setAnswerHook([this, answer](MessageBoxDialog& box) {
            messages_ << box.message();
            return answer;
        });
    }
    ~MessageBoxRecorder() { MessageBoxDialog::setAnswerHook(nullptr); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    const QStringList& messages() const { return messages_; }
    // How many of the recorded messages contain part.
    int count(const QString& part) const { return messages_.filter(part).size(); }

private:
    QStringList messages_;
};

}  // namespace zucam::test
