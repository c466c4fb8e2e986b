#include "trevane/trevane_module.h"

#include "trevane/dialog_header.h"
#include "trevane/version_info.h"

#include <QThread>
#include <QWidget>

#include <memory>
#include <string>

namespace trevane {
namespace {
// Filled by Tether when it starts, cleared when it ends: the module reads the
// application information (host, version) through it.
tq::Interface* s_cd = nullptr;
[[maybe_unused]] const int s_cd_registered = __Init_CD_Later__(&s_cd);
}  // namespace

std::atomic<int> TrevaneModule::framed_{0};

tq::Value TrevaneModule::handle(int command, const tq::Value& param, tq::ReplyFunction reply) {
    if (command == kCommandFrameDialog) {
        auto* const dialog = static_cast<QWidget*>(param.toPointer());
        // Widgets live on their own thread: a hand-over from any other is refused.
        if (dialog == nullptr || dialog->thread() != QThread::currentThread()) return tq::Value(false);
        AttachHeaderDrag(dialog);
        framed_.fetch_add(1, std::memory_order_relaxed);
        return tq::Value(true);
    }
    if (command == kVersionInfoCommand && s_cd != nullptr && s_cd->appInfo != nullptr) {
        StartVersionInfoRequest(VersionQueryFromAppInfo(*s_cd->appInfo), std::move(reply));
        return tq::Value();
    }
    tq::ValueMap answer;
    answer["errcode"] = tq::Value(-1);
    answer["errmsg"] = tq::Value("unknown command " + std::to_string(command));
    if (reply) reply(tq::Value(answer));
    return tq::Value();
}

int TrevaneModule::framedDialogs() { return framed_.load(std::memory_order_relaxed); }

void RegisterTrevaneLibrary() {
    tq::RegisterModuleLibrary(kLibraryName, kModuleName, [] { return std::make_unique<TrevaneModule>(); });
}

}  // namespace trevane
