// The library's entry points: the start and end of a run, the pointer
// registration and module loading.
#include "tether/tether.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "interface_pointer_registry.h"
#include "module_library_registry.h"
#include "tether_folders.h"
#include "tether_interface.h"

namespace tq {
namespace {

// The running table. Never destroyed, like the registries: a program that
// ends without UninitTether keeps its pointers valid through static
// destruction.
struct Run {
    std::mutex mutex;  // guards table and lastGeneration; held while a run starts or ends
    std::shared_ptr<TetherInterface> table;
    uint64_t lastGeneration = 0;
};

Run& run() {
    static Run* const current = new Run();
    return *current;
}

// The table is shared with LoadModules calls in progress, so it is destroyed
// by whoever lets go of it last.
std::shared_ptr<TetherInterface> runningTable() {
    Run& current = run();
    const std::lock_guard<std::mutex> lock(current.mutex);
    return current.table;
}

}  // namespace

int InitTether(int /*argc*/, char** /*argv*/) {
    Run& current = run();
    const std::lock_guard<std::mutex> lock(current.mutex);
    if (current.table) return 0;
    const uint64_t generation = ++current.lastGeneration;
    current.table = std::make_shared<TetherInterface>(TetherFolders::fromEnvironment(), generation);
    InterfacePointerRegistry::instance().publish(current.table.get(), generation);
    return 0;
}

void UninitTether() {
    std::shared_ptr<TetherInterface> ending;
    {
        Run& current = run();
        const std::lock_guard<std::mutex> lock(current.mutex);
        // Pointers first: whatever logs from now on sees null and writes
        // nothing instead of reaching a table being torn down.
        InterfacePointerRegistry::instance().withdraw();
        ending = std::move(current.table);
    }
    // Outside the lock: module destructors may call back into Tether.
    ending.reset();
}

void RegisterModuleLibrary(const char* libraryName, const char* moduleName, ModuleFactory factory) {
    if (libraryName == nullptr || moduleName == nullptr || !factory) return;
    ModuleLibraryRegistry::instance().add(libraryName, ModuleLibraryRegistry::Library{moduleName, std::move(factory)});
}

int LoadModules(const char* const* names, int count, bool required) {
    const std::shared_ptr<TetherInterface> table = runningTable();
    if (!table || names == nullptr) return 0;
    int loaded = 0;
    for (int n = 0; n < count; ++n) {
        if (names[n] == nullptr) continue;
        ModuleLibraryRegistry::Library library;
        if (!ModuleLibraryRegistry::instance().find(names[n], &library)) {
            if (required) table->logError(std::string("no module library ") + names[n]);
            continue;
        }
        if (!table->hasModule(library.moduleName)) table->loadModule(library.moduleName, library.factory());
        if (table->hasModule(library.moduleName)) {
            ++loaded;
        } else if (required) {
            table->logError(std::string("module library ") + names[n] + " made no module");
        }
    }
    return loaded;
}

bool LoadModuleInstance(const char* moduleName, std::unique_ptr<Module> module) {
    const std::shared_ptr<TetherInterface> table = runningTable();
    if (!table || moduleName == nullptr) return false;
    return table->loadModule(moduleName, std::move(module));
}

}  // namespace tq

int __Init_CD_Later__(tq::Interface** where) {
    tq::InterfacePointerRegistry::instance().add(where);
    return 0;
}
