// The AppInfo of the interface table: the application's name, version, build
// date, website and the values handed to it.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "tether/tether.h"

namespace tq {

class AppInfoTable final : public AppInfo {
public:
    // Any thread. A returned text stays valid until the same field is set
    // again.
    void setAppName(const char* name) override;
    const char* appName() const override;
    const char* version() const override;
    void setVersion(const char* version) override;
    void setBuildDate(const char* date) override;
    const char* buildDate() const override;
    void setWebsite(const char* url) override;
    const char* website() const override;
    // flags are accepted for the program's sake and have no effect here.
    void setValue(const char* key, const Value& value, int flags) override;
    Value value(const char* key) const override;

private:
    void setField(std::string* field, const char* text);
    const char* field(const std::string& text) const;

    mutable std::mutex mutex_;  // guards every field below
    std::string appName_;
    std::string version_;
    std::string buildDate_;
    std::string website_;
    std::map<std::string, Value> values_;
};

}  // namespace tq
