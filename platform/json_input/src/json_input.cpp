#include "json_input/json_input.h"

#include <json/reader.h>

#include <exception>
#include <memory>

namespace json_input {

bool Parse(std::string_view text, Json::Value* root, std::string* error, Grammar grammar) {
    Json::CharReaderBuilder builder;
    if (grammar == Grammar::Strict) {
        Json::CharReaderBuilder::strictMode(&builder.settings_);
        builder["strictRoot"] = false;
    }
    builder["stackLimit"] = kMaxDepth;
    std::string reason;
    bool parsed = false;
    try {
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        parsed = reader->parse(text.data(), text.data() + text.size(), root, &reason);
    } catch (const std::exception& e) {
        reason = e.what();
    }
    if (!parsed) {
        *root = Json::Value();
        if (error != nullptr) {
            // jsoncpp's messages span lines; callers log one line each.
            for (char& c : reason) c = c == '\n' ? ' ' : c;
            *error = reason;
        }
    }
    return parsed;
}

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Scans the top level of one object by hand, only far enough to cut it into
// its members' texts; jsoncpp reads every key and value.
class ObjectScanner {
public:
    explicit ObjectScanner(std::string_view text) : text_(text) {}

    bool Scan(std::vector<ObjectMember>* members, std::string* error) {
        skipBlanks();
        if (!take('{')) return fail(error, "not an object");
        skipBlanks();
        if (take('}')) return atEnd(error);
        for (;;) {
            ObjectMember member;
            skipBlanks();
            const size_t keyStart = at_;
            if (!skipString()) return fail(error, "a key is no string");
            Json::Value key;
            if (!Parse(text_.substr(keyStart, at_ - keyStart), &key, nullptr, Grammar::Strict) || !key.isString()) {
                return fail(error, "a key is no string");
            }
            member.name = key.asString();
            skipBlanks();
            if (!take(':')) return fail(error, "no ':' after \"" + member.name + "\"");
            const size_t valueStart = at_;
            if (!skipValue()) return fail(error, "the object is cut short");
            member.readable = Parse(text_.substr(valueStart, at_ - valueStart), &member.value, nullptr, Grammar::Strict);
            members->push_back(std::move(member));
            if (take(',')) continue;
            if (take('}')) return atEnd(error);
            return fail(error, "the object is cut short");
        }
    }

private:
    bool take(char c) {
        if (at_ >= text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }
    void skipBlanks() {
        while (at_ < text_.size() && isBlank(text_[at_])) ++at_;
    }
    // A string from its opening quote to just past its closing one.
    bool skipString() {
        if (!take('"')) return false;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') return true;
            if (c == '\\') ++at_;
        }
        return false;
    }
    // Up to the ',' or '}' that ends a member value; brackets must balance.
    bool skipValue() {
        std::vector<char> open;  // bounded by the text's length
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '"') {
                if (!skipString()) return false;
                continue;
            }
            if (open.empty() && (c == ',' || c == '}')) return true;
            if (c == '[' || c == '{') open.push_back(c == '[' ? ']' : '}');
            if (c == ']' || c == '}') {
                if (open.empty() || open.back() != c) return false;
                open.pop_back();
            }
            ++at_;
        }
        return false;
    }
    bool atEnd(std::string* error) {
        skipBlanks();
        return at_ == text_.size() || fail(error, "text after the object");
    }
    static bool fail(std::string* error, const std::string& reason) {
        if (error != nullptr) *error = reason;
        return false;
    }

    std::string_view text_;
    size_t at_ = 0;
};

}  // namespace

bool ParseObjectMembers(std::string_view text, std::vector<ObjectMember>* members, std::string* error) {
    members->clear();
    if (ObjectScanner(text).Scan(members, error)) return true;
    members->clear();
    return false;
}

const Json::Value* FindMember(const Json::Value& object, const char* name) {
    if (!object.isObject()) return nullptr;
    return object.find(name, name + std::char_traits<char>::length(name));
}

std::optional<int> ToInt(const Json::Value& value) {
    if (!value.isConvertibleTo(Json::intValue)) return std::nullopt;
    return value.asInt();
}

std::optional<bool> ToBool(const Json::Value& value) {
    if (!value.isConvertibleTo(Json::booleanValue)) return std::nullopt;
    return value.asBool();
}

std::optional<std::string> ToString(const Json::Value& value) {
    if (!value.isConvertibleTo(Json::stringValue)) return std::nullopt;
    return value.asString();
}

}  // namespace json_input
