// The interface table of one run of Tether, from InitTether to UninitTether:
// it owns the member interfaces and the loaded modules.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tether/tether.h"

namespace tq {

class AppInfoTable;
class FileLogger;
class JsonConfigStore;
class LocalSystem;
class TetherFolders;
class UiValueTable;

class TetherInterface final : public Interface {
public:
    // generation names this run; replies of calls made during it are dropped
    // once it is no longer the published one.
    TetherInterface(const TetherFolders& folders, uint64_t generation);
    ~TetherInterface() override;
    TetherInterface(const TetherInterface&) = delete;
    TetherInterface& operator=(const TetherInterface&) = delete;

    // Any thread. handle() runs on the caller's thread, without any lock
    // held, so a module may call again from inside it.
    Value call(const char* module, int command, const Value& param, ReplyFunction onReply) override;

    // False (and the module destroyed) when the name is loaded already.
    bool loadModule(const std::string& name, std::unique_ptr<Module> module);
    bool hasModule(const std::string& name) const;

    // Tether's own messages, in the program's line format.
    void logError(const std::string& message);

private:
    std::shared_ptr<Module> findModule(const std::string& name) const;
    ReplyFunction replyRoute(ReplyFunction onReply) const;

    const uint64_t generation_;
    // Declared first, destroyed last: the others may log until they go.
    const std::unique_ptr<FileLogger> logger_;
    const std::unique_ptr<LocalSystem> system_;
    const std::unique_ptr<AppInfoTable> appInfo_;
    const std::unique_ptr<JsonConfigStore> config_;
    const std::unique_ptr<UiValueTable> uiValues_;

    mutable std::mutex modulesMutex_;  // guards modules_
    // Shared only with the calls in progress, so that a module stays alive
    // until its handle() returns even when Tether ends meanwhile.
    std::map<std::string, std::shared_ptr<Module>> modules_;
};

}  // namespace tq
