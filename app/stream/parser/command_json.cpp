#include "parser/command_json.h"

#include <exception>
#include <json/reader.h>

namespace {

bool ParseJson(const std::string& text, Json::Value* root) {
    // Json::Reader is what the phone's messages have always been read with
    // (it accepts comments and what the phone app writes); deprecated in this
    // jsoncpp, same behaviour.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::Reader reader;
    return reader.parse(text, *root, true);
#pragma GCC diagnostic pop
}

// The member of an object, or null when data is no object or lacks it.
const Json::Value* FindMember(const Json::Value& data, const char* member) {
    if (!data.isObject() || !data.isMember(member)) return nullptr;
    return &data[member];
}

}  // namespace

bool ReadCommandEnvelope(const std::string& text, CommandEnvelope* out) {
    try {
        Json::Value root;
        if (!ParseJson(text, &root) || !root.isObject()) return false;
        // Read through a const view: the non-const operator[] would insert.
        const Json::Value& message = root;
        const Json::Value& type = message["type"];
        if (!type.isInt()) return false;
        out->type = type.asInt();
        out->data = message.isMember("data") ? message["data"] : Json::Value();
        out->root = std::move(root);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

int ReadIntMember(const Json::Value& data, const char* member, int fallback) {
    const Json::Value* const value = FindMember(data, member);
    if (value == nullptr) return fallback;
    try {
        return value->asInt();
    } catch (const std::exception&) {
        return fallback;
    }
}

std::string ReadStringMember(const Json::Value& data, const char* member, const std::string& fallback) {
    const Json::Value* const value = FindMember(data, member);
    if (value == nullptr) return fallback;
    try {
        return value->asString();
    } catch (const std::exception&) {
        return fallback;
    }
}

bool ReadBoolMember(const Json::Value& data, const char* member, bool fallback) {
    const Json::Value* const value = FindMember(data, member);
    if (value == nullptr) return fallback;
    try {
        return value->asBool();
    } catch (const std::exception&) {
        return fallback;
    }
}
