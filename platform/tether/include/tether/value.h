// tq::Value: Tether's variant value, and tq::ValueMap.
//
// A value has a 16-bit type id. Ids below kFirstUserType are Tether's own
// kinds; higher ids are kinds that the program registers with
// tq::regist_value_type, whose payload lives in the value's byte storage
// (fast_set / bytes) and whose text form comes from the registered writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace tq {

class ValueMap;

class Value {
public:
    enum Type : uint16_t {
        kNull = 0,
        kBool = 1,
        kInt = 2,
        kInt64 = 3,
        kDouble = 4,
        kText = 5,
        kPointer = 6,
        kMap = 7,
        kFirstUserType = 16,
    };

    Value();
    Value(bool b);
    Value(int i);
    Value(int64_t i);
    Value(double d);
    Value(const char* text);  // null counts as the empty text
    Value(const std::string& text);
    Value(void* pointer);
    Value(const ValueMap& map);
    Value(const Value& other);
    Value& operator=(const Value& other);
    virtual ~Value();

    // Text form: "<null>", "[bool]1", "[int]-3", "[int64]9", "[double]0.5",
    // "[text:N]<N bytes>", "[ptr]0x...", "[map:N]" followed by N entries of
    // "[key:K]<K bytes>" and the entry's own text form. Registered kinds are
    // written by their writer.
    virtual std::string write() const;
    // Parses a text form written by write(); on failure the value is left
    // empty and false is returned. Tags that name a registered kind go to its
    // reader.
    virtual bool read(const char* text);

    uint16_t type() const { return type_; }
    bool isNull() const { return type_ == kNull; }

    bool toBool(bool fallback = false) const;
    int toInt(int fallback = 0) const;
    int64_t toInt64(int64_t fallback = 0) const;
    double toDouble(double fallback = 0) const;
    // Text kinds and registered kinds give their stored bytes; numbers their
    // decimal text; anything else the empty text.
    std::string toStdString() const;
    void* toPointer() const;
    // A copy of the map of a map value; an empty map for any other kind.
    ValueMap toMap() const;

    // Stores `size` bytes as the payload and sets the type id. The bytes are
    // kept NUL-terminated beyond `size`, so a text payload can be read back
    // with c_str(). `format` describes the payload for diagnostics only.
    void fast_set(uint16_t typeId, const void* data, size_t size, const char* format = "%s");
    const char* bytes() const { return bytes_.c_str(); }
    size_t byteSize() const { return bytes_.size(); }
    void setType(uint16_t typeId) { type_ = typeId; }
    // Back to the empty value: storage zeroed, type id 0.
    void clear();

    bool operator==(const Value& other) const;
    bool operator!=(const Value& other) const { return !(*this == other); }

protected:
    // Parses one value from the front of `text`, advancing it; used for the
    // nested entries of a map.
    bool readPrefix(const char*& text);

private:
    uint16_t type_ = kNull;
    union {
        bool b;
        int64_t i;
        double d;
        void* p;
    } scalar_{};
    std::string bytes_;                // text and registered payloads
    std::shared_ptr<const ValueMap> map_;  // immutable once built, shared by copies
};

// An ordered map from key text to value. Reading a missing key through the
// const operator[] gives an empty value.
class ValueMap {
public:
    Value& operator[](const std::string& key) { return entries_[key]; }
    const Value& operator[](const std::string& key) const;
    bool contains(const std::string& key) const { return entries_.count(key) != 0; }
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const std::map<std::string, Value>& entries() const { return entries_; }
    bool operator==(const ValueMap& other) const { return entries_ == other.entries_; }

private:
    std::map<std::string, Value> entries_;
};

// Writer and reader of a registered kind. The reader gets the tag (the text
// between "[" and "]") and the body (the text after "]").
using ValueWriter = std::string (*)(const Value& value);
using ValueReader = Value (*)(const char* tag, const char* body);

// Parses a length written in a tag, such as the 12 of "[text:12]": decimal
// digits only, the whole text, fitting a size_t. Readers of registered kinds
// use it for their own length tags.
bool ParseDecimalLength(const char* digits, size_t* length);

// Registers a kind under an id (kFirstUserType and above) and a name. The name
// is the tag of its text form, or its prefix before ':' (as in "qstr:12").
// Registering the same id again replaces the entry. Thread-safe.
void regist_value_type(int id, const char* name, ValueWriter writer, ValueReader reader);

}  // namespace tq
