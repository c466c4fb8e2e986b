// One accepted connection on the fake program's side. Reads are bounded by a
// time-out; parsing is done here byte by byte, apart from the stand-in's own
// encoders, so a test compares two independent readings of the wire.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/phone/unique_fd.h"

namespace zucam::phone::test {

using std::chrono::milliseconds;

struct ReceivedPacket {
    uint32_t type = 0;
    std::vector<uint32_t> words;
    std::string payload;
};

uint32_t ReadBigEndian32(std::string_view fourBytes);

class FakePeer {
public:
    explicit FakePeer(UniqueFd socket);

    std::optional<std::string> readExact(std::size_t size, milliseconds timeout);
    // A 4-byte big-endian length, then that many bytes.
    std::optional<std::string> readFrame(milliseconds timeout);
    std::optional<ReceivedPacket> readMediaPacket(milliseconds timeout);
    // True when no byte arrives within quiet (and the connection is open).
    bool staysQuiet(milliseconds quiet);
    // True when the other side closes within timeout (bytes before are dropped).
    bool seesClose(milliseconds timeout);

    bool write(std::string_view bytes);
    // Each byte its own send, gap apart, so the reader sees them one by one.
    bool writeByteByByte(std::string_view bytes, std::chrono::microseconds gap);
    bool writeFrame(std::string_view payload);
    void close() { socket_.reset(); }

private:
    UniqueFd socket_;
};

}  // namespace zucam::phone::test
