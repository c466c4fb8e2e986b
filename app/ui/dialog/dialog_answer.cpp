#include "ui/dialog/dialog_answer.h"

#include <QDialog>

namespace dialog_answer {
namespace {
Hook g_hook;  // GUI thread only
}

void SetHook(Hook hook) { g_hook = std::move(hook); }

int Exec(QDialog& dialog) {
    if (!g_hook) return dialog.QDialog::exec();
    dialog.setResult(kUseClickResult);
    // A copy: the hook may replace itself while it runs.
    const Hook hook = g_hook;
    const int answer = hook(dialog);
    return answer == kUseClickResult ? dialog.result() : answer;
}

}  // namespace dialog_answer
