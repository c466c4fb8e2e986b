#include "tether_interface.h"

#include <atomic>
#include <utility>

#include "app_info_table.h"
#include "file_logger.h"
#include "interface_pointer_registry.h"
#include "json_config_store.h"
#include "local_system.h"
#include "reply_target.h"
#include "tether_folders.h"
#include "ui_value_table.h"

namespace tq {

TetherInterface::TetherInterface(const TetherFolders& folders, uint64_t generation)
    : generation_(generation),
      logger_(std::make_unique<FileLogger>(folders.logDirectory())),
      system_(std::make_unique<LocalSystem>()),
      appInfo_(std::make_unique<AppInfoTable>()),
      config_(std::make_unique<JsonConfigStore>(folders.configDirectory(), logger_.get())),
      uiValues_(std::make_unique<UiValueTable>()) {
    appInfo = appInfo_.get();
    logger = logger_.get();
    config = config_.get();
    uiValues = uiValues_.get();
    system = system_.get();
}

TetherInterface::~TetherInterface() {
    // Modules go first: they may still use the member interfaces as they end.
    std::map<std::string, std::shared_ptr<Module>> ending;
    {
        const std::lock_guard<std::mutex> lock(modulesMutex_);
        ending.swap(modules_);
    }
    ending.clear();
}

Value TetherInterface::call(const char* module, int command, const Value& param, ReplyFunction onReply) {
    const std::shared_ptr<Module> target = findModule(module != nullptr ? module : "");
    if (!target) return Value();
    return target->handle(command, param, replyRoute(std::move(onReply)));
}

ReplyFunction TetherInterface::replyRoute(ReplyFunction onReply) const {
    if (!onReply) return [](const Value&) {};
    const std::shared_ptr<ReplyTarget> caller = ReplyTarget::ofCurrentThread();
    // Runs on the caller's thread only, but the module's copies of the reply
    // share it, so the last of them to go (on any thread) destroys it.
    const auto handler = std::make_shared<const ReplyFunction>(std::move(onReply));
    const auto replied = std::make_shared<std::atomic<bool>>(false);
    const uint64_t generation = generation_;
    return [caller, handler, replied, generation](const Value& value) {
        if (replied->exchange(true)) return;  // a module replies at most once
        caller->post([handler, value, generation] {
            if (InterfacePointerRegistry::instance().isPublished(generation)) (*handler)(value);
        });
    };
}

bool TetherInterface::loadModule(const std::string& name, std::unique_ptr<Module> module) {
    if (!module) return false;
    // Made before the lock, so that a refused module is destroyed after it is
    // released, in case its destructor calls into Tether.
    const std::shared_ptr<Module> shared(std::move(module));
    const std::lock_guard<std::mutex> lock(modulesMutex_);
    return modules_.emplace(name, shared).second;
}

bool TetherInterface::hasModule(const std::string& name) const { return findModule(name) != nullptr; }

std::shared_ptr<Module> TetherInterface::findModule(const std::string& name) const {
    const std::lock_guard<std::mutex> lock(modulesMutex_);
    const auto entry = modules_.find(name);
    return entry != modules_.end() ? entry->second : nullptr;
}

void TetherInterface::logError(const std::string& message) {
    logger_->log(2, "tether", "%s[E][tether] %s\n", LocalSystem::formatLocalNow("%m%d-%H:%M:%S"), message.c_str());
}

}  // namespace tq
