// A fake usbmuxd daemon for the iOS tests: the real libusbmuxd (and
// libimobiledevice on top of it) talks to it over a UNIX socket named in
// USBMUXD_SOCKET_ADDRESS, which the fake sets for its lifetime.
//
// It speaks the daemon's plist protocol (16-byte little-endian header:
// length, version 1, message 8, tag; then an XML plist): ListDevices,
// Listen, Connect, ReadBUID, ReadPairRecord, SavePairRecord and
// DeletePairRecord. A Connect to a device port that a test mapped becomes a
// raw tunnel to a TCP port on 127.0.0.1, where the phone's side of the test
// (the phone stand-in, a fake lockdownd) listens. Unmapped ports are refused
// as a phone whose app does not listen would refuse them.
//
// Threads: one accepting thread and one thread per client connection, all
// joined by the destructor. The setters and counters may be used from any
// thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/phone/unique_fd.h"

namespace zucam::usbmux {

struct FakeDevice {
    std::string udid;
    uint32_t id = 1;
    bool network = false;  // listed as a Wi-Fi device instead of USB
    std::map<uint16_t, uint16_t> ports;  // device port -> loopback TCP port
};

class FakeUsbmuxd {
public:
    FakeUsbmuxd();
    ~FakeUsbmuxd();
    FakeUsbmuxd(const FakeUsbmuxd&) = delete;
    FakeUsbmuxd& operator=(const FakeUsbmuxd&) = delete;

    bool valid() const { return listener_.valid(); }
    const std::string& socketPath() const { return socketPath_; }

    void setDevices(const std::vector<FakeDevice>& devices);
    void mapPort(const std::string& udid, uint16_t devicePort, uint16_t loopbackPort);
    // ListDevices is answered by closing the connection (a daemon in trouble).
    void setListBroken(bool broken);
    // Requests are read and counted but never answered (a hung daemon that
    // still accepts connections).
    void setSilent(bool silent);
    // Ends every open tunnel (the cable is pulled); new ones may follow.
    void closeTunnels();

    int requestCount(const std::string& messageType) const;
    // The device ports of every Connect request, in order.
    std::vector<uint16_t> connectPorts() const;
    int openTunnels() const { return openTunnels_.load(); }
    // Pair records the library saved, by record id (the UDID).
    std::map<std::string, std::string> savedPairRecords() const;

private:
    void AcceptLoop();
    void Serve(int fd);
    bool Reply(int fd, uint32_t tag, const std::string& xml);
    bool ReplyResult(int fd, uint32_t tag, uint64_t number);
    void Tunnel(int clientFd, uint32_t tag, uint16_t loopbackPort);
    std::string DeviceListXml();
    std::string AttachedXml(const FakeDevice& device);

    std::string directory_;
    std::string socketPath_;
    std::string previousAddress_;
    bool hadPreviousAddress_ = false;
    phone::UniqueFd listener_;
    phone::UniqueFd wakeFd_;  // eventfd: the destructor wakes every waiting thread
    std::atomic<bool> stop_{false};
    std::atomic<int> tunnelGeneration_{0};
    std::atomic<int> openTunnels_{0};
    std::thread acceptThread_;

    // Guards everything below.
    mutable std::mutex mutex_;
    std::vector<FakeDevice> devices_;
    bool listBroken_ = false;
    bool silent_ = false;
    std::map<std::string, int> requests_;
    std::vector<uint16_t> connectPorts_;
    std::map<std::string, std::string> pairRecords_;
    std::vector<std::thread> clients_;
    std::vector<int> clientFds_;  // for shutdown() on destruction; closed by their threads
};

}  // namespace zucam::usbmux
