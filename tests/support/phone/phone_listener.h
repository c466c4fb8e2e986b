// The phone's listening side over iOS USB, where the program connects out to
// the phone: a TCP listener on 127.0.0.1 at a port the OS picks (the fake
// usbmuxd tunnels a device port to it). accept waits with a deadline.
#pragma once

#include <chrono>
#include <cstdint>

#include "support/phone/unique_fd.h"

namespace zucam::phone {

class PhoneListener {
public:
    PhoneListener();
    bool valid() const { return socket_.valid(); }
    uint16_t port() const { return port_; }
    // The next connection, or an invalid descriptor when none came in time.
    UniqueFd accept(std::chrono::milliseconds timeout);

private:
    UniqueFd socket_;
    uint16_t port_ = 0;
};

}  // namespace zucam::phone
