#include "module_library_registry.h"

#include <utility>

namespace tq {

ModuleLibraryRegistry& ModuleLibraryRegistry::instance() {
    static ModuleLibraryRegistry* const registry = new ModuleLibraryRegistry();
    return *registry;
}

void ModuleLibraryRegistry::add(const std::string& libraryName, Library library) {
    const std::lock_guard<std::mutex> lock(mutex_);
    libraries_[libraryName] = std::move(library);
}

bool ModuleLibraryRegistry::find(const std::string& libraryName, Library* library) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = libraries_.find(libraryName);
    if (entry == libraries_.end()) return false;
    *library = entry->second;
    return true;
}

}  // namespace tq
