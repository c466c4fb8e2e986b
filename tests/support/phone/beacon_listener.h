// Listens where the phone listens for the program's discovery beacon (UDP
// 5008) and keeps every datagram with its sender and the local address it
// was sent to. A thread of its own receives from bind() until destruction,
// so datagrams are counted while the test does other things.
//
// SO_REUSEADDR and SO_REUSEPORT let several listeners (and other tests) bind
// the port together, but the kernel hands each unicast datagram to only one
// of them: tests that count beacons should hold a CTest resource lock.
// Bound to 0.0.0.0 a listener also gets the sweep to 127.0.0.2..254 (all of
// 127/8 is local); bound to 127.0.0.1 it gets only what is sent there.
#pragma once

#include <json/value.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/phone/unique_fd.h"

namespace zucam::phone {

struct BeaconDatagram {
    std::string text;            // the datagram as received
    std::string senderAddress;   // dotted IPv4
    uint16_t senderPort = 0;
    std::string localAddress;    // the address it was sent to
    std::chrono::steady_clock::time_point receivedAt;
    std::optional<Json::Value> json;  // when the text parses as JSON
    // Empty when the datagram is a well-formed beacon: an object with
    // "name" (string), "port" (integer 1..65535) and "ip" (string).
    std::string problem;

    bool wellFormed() const { return problem.empty(); }
    std::string name() const;
    uint16_t port() const;
    std::string ip() const;
};

class BeaconListener {
public:
    static constexpr uint16_t kBeaconPort = 5008;

    BeaconListener() = default;
    ~BeaconListener();
    BeaconListener(const BeaconListener&) = delete;
    BeaconListener& operator=(const BeaconListener&) = delete;

    // Binds address:port and starts receiving; false with lastError() set
    // when the socket cannot be bound. Once per listener.
    bool bind(const std::string& address = "0.0.0.0", uint16_t port = kBeaconPort);

    // The next datagram not yet returned by this call, waiting up to timeout.
    std::optional<BeaconDatagram> waitForDatagram(std::chrono::milliseconds timeout);
    // Like waitForDatagram, skipping datagrams that are not well-formed beacons.
    std::optional<BeaconDatagram> waitForBeacon(std::chrono::milliseconds timeout);
    // True once at least count datagrams have arrived in total.
    bool waitForCount(std::size_t count, std::chrono::milliseconds timeout);

    std::vector<BeaconDatagram> received() const;
    std::size_t count() const;
    const std::string& lastError() const { return lastError_; }

    // Fills in json and problem from text.
    static void Classify(BeaconDatagram& datagram);

private:
    void receiveLoop();

    UniqueFd socket_;
    UniqueFd wakeRead_;   // the receive thread polls it next to the socket
    UniqueFd wakeWrite_;  // written once by the destructor to stop the thread
    std::thread receiver_;
    std::string lastError_;

    mutable std::mutex mutex_;  // guards received_ and nextToReturn_
    std::condition_variable arrived_;
    std::vector<BeaconDatagram> received_;
    std::size_t nextToReturn_ = 0;
};

}  // namespace zucam::phone
