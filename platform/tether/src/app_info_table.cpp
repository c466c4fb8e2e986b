#include "app_info_table.h"

namespace tq {

void AppInfoTable::setField(std::string* target, const char* text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    *target = text != nullptr ? text : "";
}

const char* AppInfoTable::field(const std::string& text) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return text.c_str();
}

void AppInfoTable::setAppName(const char* name) { setField(&appName_, name); }
const char* AppInfoTable::appName() const { return field(appName_); }
void AppInfoTable::setVersion(const char* version) { setField(&version_, version); }
const char* AppInfoTable::version() const { return field(version_); }
void AppInfoTable::setBuildDate(const char* date) { setField(&buildDate_, date); }
const char* AppInfoTable::buildDate() const { return field(buildDate_); }
void AppInfoTable::setWebsite(const char* url) { setField(&website_, url); }
const char* AppInfoTable::website() const { return field(website_); }

void AppInfoTable::setValue(const char* key, const Value& value, int /*flags*/) {
    const std::lock_guard<std::mutex> lock(mutex_);
    values_[key != nullptr ? key : ""] = value;
}

Value AppInfoTable::value(const char* key) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = values_.find(key != nullptr ? key : "");
    return entry != values_.end() ? entry->second : Value();
}

}  // namespace tq
