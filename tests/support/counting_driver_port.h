// A camera driver port that only counts what the driver was asked: opens,
// closes and frames written. The sink owns the port; the test keeps the
// shared log, which outlives it. Any thread.
#pragma once

#include <atomic>
#include <memory>
#include <utility>

#include "devices/driver_sink/camera_driver_port.h"

namespace zucam::test {

struct DriverLog {
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};
    std::atomic<int> writes{0};
};

class CountingDriverPort final : public CameraDriverPort {
public:
    explicit CountingDriverPort(std::shared_ptr<DriverLog> log) : log_(std::move(log)) {}
    bool Open() override {
        ++log_->opens;
        return true;
    }
    bool Write(const uint8_t*, size_t) override {
        ++log_->writes;
        return true;
    }
    void Close() override { ++log_->closes; }

private:
    std::shared_ptr<DriverLog> log_;
};

}  // namespace zucam::test
