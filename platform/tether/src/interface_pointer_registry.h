// The addresses handed to __Init_CD_Later__, and which interface table (if
// any) they point at now.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "tether/tether.h"

namespace tq {

class InterfacePointerRegistry {
public:
    // Created on first use, from the static initialiser of whichever
    // translation unit registers first, and never destroyed, so that static
    // destructors may still reach it after main.
    static InterfacePointerRegistry& instance();

    // Records where; fills it at once while a table is published.
    void add(Interface** where);
    // Fills every recorded pointer with table; generation names this run.
    void publish(Interface* table, uint64_t generation);
    // Sets every recorded pointer back to null.
    void withdraw();
    // True while the table of that run is still published.
    bool isPublished(uint64_t generation) const;

private:
    InterfacePointerRegistry() = default;

    mutable std::mutex mutex_;  // guards pointers_, published_ and generation_
    std::vector<Interface**> pointers_;
    Interface* published_ = nullptr;
    uint64_t generation_ = 0;  // 0 while nothing is published
};

}  // namespace tq
