// The program's end of a TCP connection, faked for the stand-in's tests: a
// listener on 127.0.0.1 at a port the OS picks.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "support/phone/unique_fd.h"
#include "support/phone_test/fake_peer.h"

namespace zucam::phone::test {

class LoopbackListener {
public:
    LoopbackListener();  // valid() says whether listening worked

    bool valid() const { return socket_.valid(); }
    uint16_t port() const { return port_; }
    std::optional<FakePeer> accept(std::chrono::milliseconds timeout);
    // Stops listening; later connects to port() are refused.
    void close() { socket_.reset(); }

private:
    UniqueFd socket_;
    uint16_t port_ = 0;
};

}  // namespace zucam::phone::test
