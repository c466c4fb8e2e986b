// The modules compiled into the program, by the library file name that the
// program asks LoadModules for.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "tether/tether.h"

namespace tq {

class ModuleLibraryRegistry {
public:
    struct Library {
        std::string moduleName;
        ModuleFactory factory;
    };

    // Never destroyed: registration may happen in static initialisers.
    static ModuleLibraryRegistry& instance();

    // A library registered again replaces the earlier entry.
    void add(const std::string& libraryName, Library library);
    bool find(const std::string& libraryName, Library* library) const;

private:
    ModuleLibraryRegistry() = default;

    mutable std::mutex mutex_;  // guards libraries_
    std::map<std::string, Library> libraries_;
};

}  // namespace tq
