// How the program's modal dialogs (all but the message box, which has a hook
// of its own) are run: exec(), or, while a test has set an answer hook, the
// hook in place of the modal loop, so tests never block.
// GUI thread only.
#pragma once

#include <functional>

class QDialog;

namespace dialog_answer {

// The hook may click the dialog's own buttons and return kUseClickResult to
// take the result they produced; any other value is returned as the answer.
using Hook = std::function<int(QDialog&)>;
constexpr int kUseClickResult = -2;

void SetHook(Hook hook);
// The dialogs' exec() overrides call this: the hook's answer while one is
// set, QDialog::exec() otherwise.
int Exec(QDialog& dialog);

}  // namespace dialog_answer
