// The phone's lockdownd for the iOS tests, reached through FakeUsbmuxd's
// tunnel to device port 62078: length-prefixed (u32 big-endian) plists.
// It answers QueryType, GetValue (DevicePublicKey, DeviceName), Pair (with
// the outcome a test chooses: accepted, trust dialog still open, refused by
// the user, phone locked), StartSession (refused: no TLS here) and Goodbye.
// Threads: one serving thread, joined by the destructor; setters and
// counters from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/phone/unique_fd.h"

namespace zucam::usbmux {

class FakeLockdownd {
public:
    static constexpr uint16_t kDevicePort = 62078;

    enum class PairAnswer { Accept, DialogPending, UserDenied, PasswordProtected };

    FakeLockdownd();
    ~FakeLockdownd();
    FakeLockdownd(const FakeLockdownd&) = delete;
    FakeLockdownd& operator=(const FakeLockdownd&) = delete;

    bool valid() const { return listener_.valid(); }
    uint16_t port() const { return port_; }  // the loopback port to map kDevicePort to

    void setPairAnswer(PairAnswer answer);
    void setType(const std::string& type);  // what QueryType reports
    void setDeviceName(const std::string& name);

    // The "Request" of every message received, in order.
    std::vector<std::string> requests() const;
    // The "Label" of every message received that had one.
    std::vector<std::string> labels() const;

private:
    void Run();
    void Serve(int fd);
    std::string Answer(const std::string& request);

    phone::UniqueFd listener_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;

    // Guards everything below.
    mutable std::mutex mutex_;
    PairAnswer pairAnswer_ = PairAnswer::Accept;
    std::string type_ = "com.apple.mobile.lockdown";
    std::string deviceName_ = "Test iPhone";
    std::vector<std::string> requests_;
    std::vector<std::string> labels_;
};

}  // namespace zucam::usbmux
