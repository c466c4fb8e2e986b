// AsyncIProxyConnection: a usbmuxd connection to a device port as an object
// of the socket reactor. The handle libusbmuxd returns is a socket, so the
// reactor polls it directly; reads go through usbmuxd_recv_timeout.
//
// Threads: OnReadable on the reactor thread (reactor lock held); SendAll on
// the hub's thread; StopReading from either. The socket is non-blocking, so
// neither thread ever waits on a phone that stops reading.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "socket/async_object.h"

class AsyncIProxyConnection : public AsyncObject {
public:
    class Observer {
    public:
        virtual ~Observer() = default;
        // Reactor thread. n > 0: data (valid for the call); n <= 0: the
        // connection ended (the library's error code), reported once.
        virtual void OnRead(const uint8_t* data, int n) = 0;
    };

    // Takes the handle over (usbmuxd_disconnect on destruction).
    AsyncIProxyConnection(int handle, Observer* observer, int readBufferSize);
    ~AsyncIProxyConnection() override;
    AsyncIProxyConnection(const AsyncIProxyConnection&) = delete;
    AsyncIProxyConnection& operator=(const AsyncIProxyConnection&) = delete;

    int GetFd() const override { return handle_; }
    int GetEvents() const override { return events_.load(); }
    void OnReadable() override;
    void OnWritable() override {}

    // No more reads are made (also from the rest of the current event).
    void StopReading() { events_.store(0); }
    // Hub thread. Sends every byte; false when the connection broke or its
    // send buffer is full (a phone that stopped reading).
    bool SendAll(const char* data, size_t length);

private:
    const int handle_;
    Observer* const observer_;
    std::atomic<int> events_{kAsyncEventRead};
    std::atomic<bool> ended_{false};
    const int readBufferSize_;
    std::vector<uint8_t> readBuffer_;  // reactor thread; allocated at the first read
};
