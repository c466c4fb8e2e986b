#include "ui_value_table.h"

namespace tq {

Value UiValueTable::get(const char* key, const Value& defaultValue) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = values_.find(key != nullptr ? key : "");
    return entry != values_.end() ? entry->second : defaultValue;
}

void UiValueTable::set(const char* key, const Value& value) {
    const std::lock_guard<std::mutex> lock(mutex_);
    values_[key != nullptr ? key : ""] = value;
}

}  // namespace tq
