#include "parser/command_json.h"

#include <json_input/json_input.h>

namespace {

// Reads member of data with convert; see the header for the three outcomes.
template <typename T, typename Convert>
std::optional<T> readMember(const Json::Value& data, const char* member, const T& missing, Convert convert) {
    if (data.isNull()) return missing;
    if (!data.isObject()) return std::nullopt;
    const Json::Value* const value = json_input::FindMember(data, member);
    if (value == nullptr) return missing;
    return convert(*value);
}

}  // namespace

bool ReadCommandEnvelope(const std::string& text, CommandEnvelope* out) {
    // Lenient, as the phone's messages have always been read: comments and
    // what the phone app writes are accepted.
    Json::Value root;
    if (!json_input::Parse(text, &root) || !root.isObject()) return false;
    const Json::Value* const type = json_input::FindMember(root, "type");
    if (type == nullptr || !type->isInt()) return false;
    out->type = type->asInt();
    const Json::Value* const data = json_input::FindMember(root, "data");
    out->data = data != nullptr ? *data : Json::Value();
    out->root = std::move(root);
    return true;
}

std::optional<int> ReadIntMember(const Json::Value& data, const char* member, int missing) {
    return readMember(data, member, missing, json_input::ToInt);
}

std::optional<std::string> ReadStringMember(const Json::Value& data, const char* member, const std::string& missing) {
    return readMember(data, member, missing, json_input::ToString);
}

std::optional<bool> ReadBoolMember(const Json::Value& data, const char* member, bool missing) {
    return readMember(data, member, missing, json_input::ToBool);
}
