// A little C++ around libplist for the fake Apple daemons of the tests.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace zucam::usbmux {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
// An owned plist node (a root).
using Plist = std::unique_ptr<void, PlistFree>;

// XML or binary property list bytes; null when they are neither.
Plist ParsePlist(const std::string& bytes);
std::string ToXml(plist_t node);

// Members of a dictionary; nullopt when missing or of another kind.
std::optional<std::string> StringMember(plist_t dict, const char* key);
std::optional<uint64_t> UintMember(plist_t dict, const char* key);

}  // namespace zucam::usbmux
