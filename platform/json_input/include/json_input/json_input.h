// JSON from outside the program: a file a user may have edited, a web host's
// answer, a phone's command. jsoncpp throws from its parser (nesting deeper
// than its stack limit) and from its conversions (asString on an object,
// asInt on a number out of range); nothing here lets an exception out, so a
// hostile text is only ever a parse error or a member of the wrong kind.
#pragma once

#include <json/value.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace json_input {

// Arrays and objects nested deeper than this are a parse error. Every text
// the program reads is a few levels deep.
constexpr int kMaxDepth = 64;

enum class Grammar {
    // RFC 8259 alone: one value, nothing after it.
    Strict,
    // jsoncpp's usual leniency: comments, trailing commas, any value at the top.
    Lenient,
};

// Parses text into root. False with a one-line reason in error (when given)
// for anything that is not one JSON text within kMaxDepth. Never throws.
bool Parse(std::string_view text, Json::Value* root, std::string* error = nullptr,
           Grammar grammar = Grammar::Lenient);

// One member of an object read by ParseObjectMembers.
struct ObjectMember {
    std::string name;
    // False when the member's own text is no JSON value (a number beyond
    // double's range, a typo): value is null then, the other members stand.
    bool readable = false;
    Json::Value value;
};

// Reads text as one object in the Strict grammar, each member's value on its
// own, so that a damaged value costs that member alone. False (with a reason
// in error) when the object itself is broken: no object, unbalanced, cut
// short, a key that is no string, anything after it. Members keep the
// text's order, duplicates included. Never throws.
bool ParseObjectMembers(std::string_view text, std::vector<ObjectMember>* members, std::string* error = nullptr);

// The member name of object, or null when object is no object or lacks it.
const Json::Value* FindMember(const Json::Value& object, const char* name);

// A value the way jsoncpp converts it (null gives 0, "" or false, a number
// gives its text), or nullopt where jsoncpp would throw: an object or array,
// a number outside int, a string for a number or a bool.
std::optional<int> ToInt(const Json::Value& value);
std::optional<bool> ToBool(const Json::Value& value);
std::optional<std::string> ToString(const Json::Value& value);

}  // namespace json_input
