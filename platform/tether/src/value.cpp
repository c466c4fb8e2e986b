#include "tether/value.h"

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace tq {
namespace {

struct RegisteredType {
    int id;
    std::string name;
    ValueWriter writer;
    ValueReader reader;
};

// Registration happens in static initialisers of any translation unit, so the
// table is a function-local static to be alive before the first of them.
struct TypeRegistry {
    std::mutex mutex;  // guards types
    std::vector<RegisteredType> types;

    static TypeRegistry& instance() {
        static TypeRegistry registry;
        return registry;
    }

    bool findById(int id, RegisteredType* out) {
        std::lock_guard<std::mutex> lock(mutex);
        for (const RegisteredType& t : types) {
            if (t.id == id) {
                *out = t;
                return true;
            }
        }
        return false;
    }

    bool findByTag(const std::string& tag, RegisteredType* out) {
        const std::string name = tag.substr(0, tag.find(':'));
        std::lock_guard<std::mutex> lock(mutex);
        for (const RegisteredType& t : types) {
            if (t.name == name) {
                *out = t;
                return true;
            }
        }
        return false;
    }
};

constexpr size_t kMaxTagLength = 63;
// A map nested deeper than this is refused rather than risking the stack.
constexpr int kMaxMapDepth = 32;

// Reads "[tag]" at the front of text. On success text points past "]".
// The scan stops at the terminating NUL: the text may be shorter than the
// longest tag, so a fixed-size memchr would read past its end.
bool readTag(const char*& text, std::string* tag) {
    if (*text != '[') return false;
    const char* end = text + 1;
    while (*end != ']') {
        if (*end == '\0' || end - (text + 1) >= static_cast<ptrdiff_t>(kMaxTagLength)) return false;
        ++end;
    }
    tag->assign(text + 1, end);
    text = end + 1;
    return true;
}

// Doubles are written and read in the C notation whatever the process locale
// is (QCoreApplication adopts the user's locale, where the decimal separator
// may be ','), and in the shortest form that reads back to the same bits.
std::string doubleText(double d) {
    char text[32];
    const std::to_chars_result result = std::to_chars(text, text + sizeof text, d);
    return std::string(text, result.ptr);
}

bool readDouble(const char*& text, double* out) {
    // No double needs more characters than this; a longer run is refused
    // without scanning the rest of a large map text.
    const char* end = text + strnlen(text, 64);
    const std::from_chars_result result = std::from_chars(text, end, *out);
    if (result.ec != std::errc() || result.ptr == text) return false;
    text = result.ptr;
    return true;
}

// Parses the decimal length after "name:" in a tag such as "text:12".
bool lengthOfTag(const std::string& tag, const char* name, size_t* length) {
    const size_t nameLength = strlen(name);
    if (tag.size() <= nameLength + 1 || tag.compare(0, nameLength, name) != 0 || tag[nameLength] != ':') {
        return false;
    }
    return ParseDecimalLength(tag.c_str() + nameLength + 1, length);
}

// Takes `length` bytes from the front of text, refusing to run past its end.
bool takeBytes(const char*& text, size_t length, std::string* out) {
    if (strnlen(text, length) < length) return false;
    out->assign(text, length);
    text += length;
    return true;
}

bool readSigned(const char*& text, int64_t* out) {
    errno = 0;
    char* end = nullptr;
    const long long n = strtoll(text, &end, 10);
    if (end == text || errno != 0) return false;
    *out = n;
    text = end;
    return true;
}

thread_local int t_mapDepth = 0;

}  // namespace

bool ParseDecimalLength(const char* digits, size_t* length) {
    if (digits == nullptr || *digits < '0' || *digits > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long n = strtoull(digits, &end, 10);
    if (errno != 0 || *end != '\0' || n > SIZE_MAX) return false;
    *length = static_cast<size_t>(n);
    return true;
}

void regist_value_type(int id, const char* name, ValueWriter writer, ValueReader reader) {
    if (name == nullptr || id < Value::kFirstUserType || id > UINT16_MAX) return;
    TypeRegistry& registry = TypeRegistry::instance();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (RegisteredType& t : registry.types) {
        if (t.id == id) {
            t = RegisteredType{id, name, writer, reader};
            return;
        }
    }
    registry.types.push_back(RegisteredType{id, name, writer, reader});
}

Value::Value() = default;
Value::Value(bool b) : type_(kBool) { scalar_.b = b; }
Value::Value(int i) : type_(kInt) { scalar_.i = i; }
Value::Value(int64_t i) : type_(kInt64) { scalar_.i = i; }
Value::Value(double d) : type_(kDouble) { scalar_.d = d; }
Value::Value(const char* text) : type_(kText), bytes_(text != nullptr ? text : "") {}
Value::Value(const std::string& text) : type_(kText), bytes_(text) {}
Value::Value(void* pointer) : type_(kPointer) { scalar_.p = pointer; }
Value::Value(const ValueMap& map) : type_(kMap), map_(std::make_shared<const ValueMap>(map)) {}
Value::Value(const Value& other) = default;
Value& Value::operator=(const Value& other) = default;
Value::~Value() = default;

void Value::clear() {
    type_ = kNull;
    scalar_.i = 0;
    bytes_.clear();
    map_.reset();
}

void Value::fast_set(uint16_t typeId, const void* data, size_t size, const char* /*format*/) {
    // The source may be this value's own storage: copy before clearing.
    std::string payload = size > 0 && data != nullptr ? std::string(static_cast<const char*>(data), size)
                                                      : std::string();
    clear();
    bytes_ = std::move(payload);
    type_ = typeId;
}

bool Value::toBool(bool fallback) const {
    switch (type_) {
    case kBool: return scalar_.b;
    case kInt:
    case kInt64: return scalar_.i != 0;
    case kDouble: return scalar_.d != 0;
    default: return fallback;
    }
}

int Value::toInt(int fallback) const {
    switch (type_) {
    case kBool: return scalar_.b ? 1 : 0;
    case kInt:
    case kInt64:
        return scalar_.i < INT32_MIN || scalar_.i > INT32_MAX ? fallback : static_cast<int>(scalar_.i);
    default: return fallback;
    }
}

int64_t Value::toInt64(int64_t fallback) const {
    switch (type_) {
    case kBool: return scalar_.b ? 1 : 0;
    case kInt:
    case kInt64: return scalar_.i;
    default: return fallback;
    }
}

double Value::toDouble(double fallback) const {
    switch (type_) {
    case kInt:
    case kInt64: return static_cast<double>(scalar_.i);
    case kDouble: return scalar_.d;
    default: return fallback;
    }
}

std::string Value::toStdString() const {
    switch (type_) {
    case kNull:
    case kPointer:
    case kMap: return std::string();
    case kBool: return scalar_.b ? "1" : "0";
    case kInt:
    case kInt64: return std::to_string(scalar_.i);
    case kDouble: return doubleText(scalar_.d);
    default: return bytes_;  // text and registered kinds
    }
}

void* Value::toPointer() const { return type_ == kPointer ? scalar_.p : nullptr; }

ValueMap Value::toMap() const { return type_ == kMap && map_ ? *map_ : ValueMap(); }

std::string Value::write() const {
    char number[48];
    switch (type_) {
    case kNull: return "<null>";
    case kBool: return scalar_.b ? "[bool]1" : "[bool]0";
    case kInt: return "[int]" + std::to_string(scalar_.i);
    case kInt64: return "[int64]" + std::to_string(scalar_.i);
    case kDouble: return "[double]" + doubleText(scalar_.d);
    case kText: return "[text:" + std::to_string(bytes_.size()) + "]" + bytes_;
    case kPointer:
        snprintf(number, sizeof number, "[ptr]0x%" PRIxPTR, reinterpret_cast<uintptr_t>(scalar_.p));
        return number;
    case kMap: {
        const ValueMap map = toMap();
        std::string text = "[map:" + std::to_string(map.size()) + "]";
        for (const auto& entry : map.entries()) {
            text += "[key:" + std::to_string(entry.first.size()) + "]" + entry.first;
            const std::string valueText = entry.second.write();
            if (entry.second.type() >= kFirstUserType) {
                // A registered kind's text has no end of its own: frame it.
                text += "[user:" + std::to_string(valueText.size()) + "]";
            }
            text += valueText;
        }
        return text;
    }
    default: {
        RegisteredType registered;
        if (TypeRegistry::instance().findById(type_, &registered) && registered.writer != nullptr) {
            return registered.writer(*this);
        }
        return "<null>";
    }
    }
}

bool Value::read(const char* text) {
    clear();
    if (text == nullptr) return false;
    const char* cursor = text;
    if (!readPrefix(cursor)) return false;
    if (*cursor != '\0') {
        clear();
        return false;
    }
    return true;
}

bool Value::readPrefix(const char*& text) {
    clear();
    if (strncmp(text, "<null>", 6) == 0) {
        text += 6;
        return true;
    }
    const char* cursor = text;
    std::string tag;
    if (!readTag(cursor, &tag)) return false;

    size_t length = 0;
    int64_t integer = 0;
    if (tag == "bool") {
        if (*cursor != '0' && *cursor != '1') return false;
        *this = Value(*cursor == '1');
        ++cursor;
    } else if (tag == "int") {
        if (!readSigned(cursor, &integer) || integer < INT32_MIN || integer > INT32_MAX) return false;
        *this = Value(static_cast<int>(integer));
    } else if (tag == "int64") {
        if (!readSigned(cursor, &integer)) return false;
        *this = Value(integer);
    } else if (tag == "double") {
        double d = 0;
        if (!readDouble(cursor, &d)) return false;
        *this = Value(d);
    } else if (lengthOfTag(tag, "text", &length)) {
        std::string bytes;
        if (!takeBytes(cursor, length, &bytes)) return false;
        *this = Value(bytes);
    } else if (tag == "ptr") {
        char* end = nullptr;
        const unsigned long long p = strtoull(cursor, &end, 16);
        if (end == cursor) return false;
        *this = Value(reinterpret_cast<void*>(static_cast<uintptr_t>(p)));
        cursor = end;
    } else if (lengthOfTag(tag, "map", &length)) {
        if (t_mapDepth >= kMaxMapDepth) return false;
        ++t_mapDepth;
        ValueMap map;
        bool ok = true;
        for (size_t n = 0; ok && n < length; ++n) {
            std::string keyTag, key;
            size_t keyLength = 0;
            ok = readTag(cursor, &keyTag) && lengthOfTag(keyTag, "key", &keyLength) &&
                 takeBytes(cursor, keyLength, &key);
            if (!ok) break;
            Value entry;
            const char* save = cursor;
            std::string userTag;
            size_t userLength = 0;
            if (readTag(save, &userTag) && lengthOfTag(userTag, "user", &userLength)) {
                std::string userText;
                ok = takeBytes(save, userLength, &userText) && entry.read(userText.c_str());
                cursor = save;
            } else {
                ok = entry.readPrefix(cursor);
            }
            if (ok) map[key] = entry;
        }
        --t_mapDepth;
        if (!ok) {
            clear();
            return false;
        }
        *this = Value(map);
    } else {
        RegisteredType registered;
        if (!TypeRegistry::instance().findByTag(tag, &registered) || registered.reader == nullptr) return false;
        Value parsed = registered.reader(tag.c_str(), cursor);
        if (parsed.type() == kNull) return false;
        *this = parsed;
        cursor += strlen(cursor);  // a registered body runs to the end of the text
    }
    text = cursor;
    return true;
}

bool Value::operator==(const Value& other) const {
    if (type_ != other.type_) return false;
    switch (type_) {
    case kNull: return true;
    case kBool: return scalar_.b == other.scalar_.b;
    case kInt:
    case kInt64: return scalar_.i == other.scalar_.i;
    case kDouble: return scalar_.d == other.scalar_.d;
    case kPointer: return scalar_.p == other.scalar_.p;
    case kMap: return toMap() == other.toMap();
    default: return bytes_ == other.bytes_;
    }
}

const Value& ValueMap::operator[](const std::string& key) const {
    static const Value empty;
    const auto found = entries_.find(key);
    return found == entries_.end() ? empty : found->second;
}

}  // namespace tq
