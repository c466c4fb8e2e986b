#include "trevane/trevane_module.h"

#include <memory>
#include <string>

namespace trevane {

std::atomic<int> TrevaneModule::framed_{0};

tq::Value TrevaneModule::handle(int command, const tq::Value& param, tq::ReplyFunction reply) {
    if (command == kCommandFrameDialog) {
        if (param.toPointer() == nullptr) return tq::Value(false);
        framed_.fetch_add(1, std::memory_order_relaxed);
        return tq::Value(true);
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
