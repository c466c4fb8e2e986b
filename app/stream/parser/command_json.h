// Reading the envelope of one command message: {"version", "type", "data"}.
// Used by the hub on its thread; pure function, no state.
#pragma once

#include <json/value.h>
#include <string>

struct CommandEnvelope {
    int type = -1;
    // A copy of "data": null when missing.
    Json::Value data;
    // The whole message, for the replies that stand at the top level.
    Json::Value root;
};

// false: not JSON, not an object, or "type" missing or not an integer.
bool ReadCommandEnvelope(const std::string& text, CommandEnvelope* out);

// Typed reads of one member of a "data" object, as the hub's handlers do
// them. A missing member, a data that is no object, or a value jsoncpp
// cannot convert (its conversions throw; caught here) gives fallback.
int ReadIntMember(const Json::Value& data, const char* member, int fallback);
std::string ReadStringMember(const Json::Value& data, const char* member, const std::string& fallback);
bool ReadBoolMember(const Json::Value& data, const char* member, bool fallback);
