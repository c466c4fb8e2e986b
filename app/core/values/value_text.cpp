#include "core/values/value_text.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace tq {
namespace value_text {
namespace {

constexpr char kVariantPrefix[] = "<variant>";
constexpr char kNullText[] = "<null>";

// The C locale's blanks, which scanf skips before a number.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool readNumber(const char*& cursor, int* out) {
    const char* p = cursor;
    while (isBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (!isDigit(*p)) return false;
    const int64_t limit = negative ? -static_cast<int64_t>(INT_MIN) : INT_MAX;
    int64_t magnitude = 0;
    for (; isDigit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit) return false;  // does not fit an int
    }
    *out = static_cast<int>(negative ? -magnitude : magnitude);
    cursor = p;
    return true;
}

bool readNumber(const char*& cursor, double* out) {
    const char* p = cursor;
    while (isBlank(*p)) ++p;
    if (*p == '+') {
        ++p;
        if (*p == '-' || *p == '+') return false;
    }
    double value = 0;
    const std::from_chars_result result = std::from_chars(p, p + strlen(p), value);
    if (result.ec != std::errc()) return false;  // no number, or out of range
    *out = value;
    cursor = result.ptr;
    return true;
}

template <typename Number>
bool readFields(const char* body, Number* values, size_t count) {
    if (body == nullptr) return false;
    const char* cursor = body;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) {
            if (*cursor != ';') return false;
            ++cursor;
        }
        const char* colon = strchr(cursor, ':');
        if (colon == nullptr || colon == cursor) return false;  // a label is one character or more
        cursor = colon + 1;
        if (!readNumber(cursor, &values[i])) return false;
    }
    return true;
}

void appendNumber(std::string& text, int value) { text += std::to_string(value); }

void appendNumber(std::string& text, double value) {
    // "%lf" of the largest double is 317 characters.
    char digits[512];
    const std::to_chars_result result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 6);
    if (result.ec == std::errc()) text.append(digits, result.ptr);
}

template <typename Number>
std::string writeFields(const char* name, const char* labels, const Number* values, size_t count) {
    std::string text = "[";
    text += name;
    text += ']';
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) text += ';';
        text += labels[i];
        text += ':';
        appendNumber(text, values[i]);
    }
    return text;
}

}  // namespace

bool readTagged(Value& value, const char* text, ReaderLookup lookup) {
    value.clear();
    if (text == nullptr || strnlen(text, 4) < 4) return false;
    if (strncmp(text, kVariantPrefix, sizeof kVariantPrefix - 1) == 0) {
        value = Value(std::string(text + sizeof kVariantPrefix - 1));
        return true;
    }
    const char* close = strchr(text, ']');
    if (close == nullptr || strncmp(text, kNullText, sizeof kNullText - 1) == 0) return false;

    // The tag runs from after the leading character to the first ']'.
    if (close > text && static_cast<size_t>(close - text - 1) <= kMaxKindTagLength) {
        const size_t tagLength = static_cast<size_t>(close - text - 1);
        char tag[kMaxKindTagLength + 1];
        memcpy(tag, text + 1, tagLength);
        tag[tagLength] = '\0';
        const ValueReader reader = lookup(tag);
        if (reader != nullptr) {
            value = reader(tag, close + 1);
            if (!value.isNull()) return true;
        }
    }
    return value.Value::read(text);
}

std::string writeIntFields(const char* name, const char* labels, const int* values, size_t count) {
    return writeFields(name, labels, values, count);
}

std::string writeDoubleFields(const char* name, const char* labels, const double* values, size_t count) {
    return writeFields(name, labels, values, count);
}

bool readIntFields(const char* body, int* values, size_t count) { return readFields(body, values, count); }

bool readDoubleFields(const char* body, double* values, size_t count) { return readFields(body, values, count); }

}  // namespace value_text
}  // namespace tq
