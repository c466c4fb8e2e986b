#include "support/usbmuxd/plist_value.h"

#include <cstdlib>

namespace zucam::usbmux {

Plist ParsePlist(const std::string& bytes) {
    plist_t node = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &node);
    return Plist(node);
}

std::string ToXml(plist_t node) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    std::string text(xml != nullptr ? xml : "", length);
    plist_to_xml_free(xml);
    return text;
}

std::optional<std::string> StringMember(plist_t dict, const char* key) {
    plist_t item = dict != nullptr && plist_get_node_type(dict) == PLIST_DICT ? plist_dict_get_item(dict, key) : nullptr;
    if (item == nullptr || plist_get_node_type(item) != PLIST_STRING) return std::nullopt;
    char* value = nullptr;
    plist_get_string_val(item, &value);
    std::string text(value != nullptr ? value : "");
    free(value);
    return text;
}

std::optional<uint64_t> UintMember(plist_t dict, const char* key) {
    plist_t item = dict != nullptr && plist_get_node_type(dict) == PLIST_DICT ? plist_dict_get_item(dict, key) : nullptr;
    if (item == nullptr || plist_get_node_type(item) != PLIST_UINT) return std::nullopt;
    uint64_t value = 0;
    plist_get_uint_val(item, &value);
    return value;
}

}  // namespace zucam::usbmux
