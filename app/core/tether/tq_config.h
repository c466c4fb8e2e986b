// Typed access to the text values of Tether's configuration store.
//
// Integers are stored in decimal, booleans as "0" or "1", texts as UTF-8.
// A get with writeBack stores the default at once when the key is missing
// (it reaches the disk with the next flush). A stored text that does not
// parse as the asked type gives the default and is left as it is.
#pragma once

#include <cstdint>
#include <string>

#include "tether/tether.h"

namespace tq {

template <typename T>
T GetConfig(ConfigStore* config, const char* key, const T& defaultValue, bool writeBack);
template <>
int GetConfig<int>(ConfigStore* config, const char* key, const int& defaultValue, bool writeBack);
template <>
int64_t GetConfig<int64_t>(ConfigStore* config, const char* key, const int64_t& defaultValue, bool writeBack);
template <>
bool GetConfig<bool>(ConfigStore* config, const char* key, const bool& defaultValue, bool writeBack);
template <>
std::string GetConfig<std::string>(ConfigStore* config, const char* key, const std::string& defaultValue,
                                   bool writeBack);
// The text form without writeBack writes the default back.
std::string GetConfig(ConfigStore* config, const char* key, const std::string& defaultValue);

// Each returns the result of ConfigStore::setString; none of them flushes.
template <typename T>
bool SetConfig(ConfigStore* config, const char* key, const T& value);
template <>
bool SetConfig<int>(ConfigStore* config, const char* key, const int& value);
template <>
bool SetConfig<int64_t>(ConfigStore* config, const char* key, const int64_t& value);
template <>
bool SetConfig<bool>(ConfigStore* config, const char* key, const bool& value);
template <>
bool SetConfig<std::string>(ConfigStore* config, const char* key, const std::string& value);
// A null text counts as the empty text.
bool SetConfigText(ConfigStore* config, const char* key, const char* text);

// Sets a UI value from a copy of value.
bool SetUiValue(UiValues* uiValues, const char* key, const Value& value);

}  // namespace tq
