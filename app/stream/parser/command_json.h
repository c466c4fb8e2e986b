// Reading the envelope of one command message: {"version", "type", "data"}.
// Used by the hub on its thread; pure function, no state.
#pragma once

#include <json/value.h>

#include <optional>
#include <string>

struct CommandEnvelope {
    int type = -1;
    // A copy of "data": null when missing.
    Json::Value data;
    // The whole message, for the replies that stand at the top level.
    Json::Value root;
};

// false: not JSON (nesting too deep included), not an object, or "type"
// missing or not an integer. Never throws.
bool ReadCommandEnvelope(const std::string& text, CommandEnvelope* out);

// Typed reads of one member of a "data" object, as the hub's handlers do
// them. A missing member, or a null data, gives missing. A member of another
// kind (an object where a text or a number belongs, a number out of range),
// or a data that is neither an object nor null, gives nullopt: the phone
// broke the protocol. Never throw.
std::optional<int> ReadIntMember(const Json::Value& data, const char* member, int missing);
std::optional<std::string> ReadStringMember(const Json::Value& data, const char* member, const std::string& missing);
std::optional<bool> ReadBoolMember(const Json::Value& data, const char* member, bool missing);
