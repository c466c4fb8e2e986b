#include "interface_pointer_registry.h"

namespace tq {

InterfacePointerRegistry& InterfacePointerRegistry::instance() {
    static InterfacePointerRegistry* const registry = new InterfacePointerRegistry();
    return *registry;
}

void InterfacePointerRegistry::add(Interface** where) {
    if (where == nullptr) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    pointers_.push_back(where);
    *where = published_;
}

void InterfacePointerRegistry::publish(Interface* table, uint64_t generation) {
    const std::lock_guard<std::mutex> lock(mutex_);
    published_ = table;
    generation_ = generation;
    for (Interface** where : pointers_) *where = table;
}

void InterfacePointerRegistry::withdraw() {
    const std::lock_guard<std::mutex> lock(mutex_);
    published_ = nullptr;
    generation_ = 0;
    for (Interface** where : pointers_) *where = nullptr;
}

bool InterfacePointerRegistry::isPublished(uint64_t generation) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return generation_ != 0 && generation_ == generation;
}

}  // namespace tq
