#include "core/tether/tq_config.h"

#include <sstream>

namespace tq {
namespace {

// Decimal (or "0"/"1" for bool) extraction of the whole text: leading and
// trailing blanks are allowed, anything else makes the text unusable.
template <typename T>
bool parseWhole(const std::string& text, T* out) {
    std::istringstream stream(text);
    T value{};
    if (!(stream >> value)) return false;
    stream >> std::ws;
    if (!stream.eof()) return false;
    *out = value;
    return true;
}

template <typename T>
T getParsed(ConfigStore* config, const char* key, const T& defaultValue, bool writeBack) {
    bool found = false;
    const std::string text = config->getString(key, &found);
    if (!found) {
        if (writeBack) SetConfig<T>(config, key, defaultValue);
        return defaultValue;
    }
    T value = defaultValue;
    return parseWhole(text, &value) ? value : defaultValue;
}

template <typename T>
bool setFormatted(ConfigStore* config, const char* key, const T& value) {
    std::ostringstream stream;
    stream << value;
    return config->setString(key, stream.str());
}

}  // namespace

template <>
int GetConfig<int>(ConfigStore* config, const char* key, const int& defaultValue, bool writeBack) {
    return getParsed(config, key, defaultValue, writeBack);
}

template <>
int64_t GetConfig<int64_t>(ConfigStore* config, const char* key, const int64_t& defaultValue, bool writeBack) {
    return getParsed(config, key, defaultValue, writeBack);
}

template <>
bool GetConfig<bool>(ConfigStore* config, const char* key, const bool& defaultValue, bool writeBack) {
    return getParsed(config, key, defaultValue, writeBack);
}

template <>
std::string GetConfig<std::string>(ConfigStore* config, const char* key, const std::string& defaultValue,
                                   bool writeBack) {
    bool found = false;
    std::string text = config->getString(key, &found);
    if (found) return text;
    if (writeBack) SetConfig<std::string>(config, key, defaultValue);
    return defaultValue;
}

std::string GetConfig(ConfigStore* config, const char* key, const std::string& defaultValue) {
    return GetConfig<std::string>(config, key, defaultValue, true);
}

template <>
bool SetConfig<int>(ConfigStore* config, const char* key, const int& value) {
    return setFormatted(config, key, value);
}

template <>
bool SetConfig<int64_t>(ConfigStore* config, const char* key, const int64_t& value) {
    return setFormatted(config, key, value);
}

template <>
bool SetConfig<bool>(ConfigStore* config, const char* key, const bool& value) {
    return config->setString(key, value ? "1" : "0");
}

template <>
bool SetConfig<std::string>(ConfigStore* config, const char* key, const std::string& value) {
    return config->setString(key, value);
}

bool SetConfigText(ConfigStore* config, const char* key, const char* text) {
    return config->setString(key, text != nullptr ? std::string(text) : std::string());
}

bool SetUiValue(UiValues* uiValues, const char* key, const Value& value) {
    uiValues->set(key, value);
    return true;
}

}  // namespace tq
