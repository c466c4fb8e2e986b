// The UiValues of the interface table: values shared between the GUI thread,
// which writes them, and the render thread, which reads them.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "tether/tether.h"

namespace tq {

class UiValueTable final : public UiValues {
public:
    Value get(const char* key, const Value& defaultValue) const override;
    void set(const char* key, const Value& value) override;

private:
    mutable std::mutex mutex_;  // guards values_
    std::map<std::string, Value> values_;
};

}  // namespace tq
