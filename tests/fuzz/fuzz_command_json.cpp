// A command frame's text into the hub's envelope reading and the member
// reads its handlers make.
#include <cstddef>
#include <cstdint>
#include <string>

#include "parser/command_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CommandEnvelope envelope;
    if (!ReadCommandEnvelope(text, &envelope)) return 0;
    // The members the handlers read, with the kinds they read them as.
    for (const char* member : {"name", "udpPort", "iproxyPort", "fps", "width", "height", "type"}) {
        (void)ReadIntMember(envelope.data, member, 0);
        (void)ReadStringMember(envelope.data, member, std::string());
        (void)ReadBoolMember(envelope.data, member, false);
    }
    (void)ReadStringMember(envelope.root, "name", std::string());
    return 0;
}
