#include "vexo/gs_steady_clock.h"

GsClock::Nanos GsSteadyClock::Now() const {
    return std::chrono::duration_cast<Nanos>(std::chrono::steady_clock::now().time_since_epoch());
}

bool GsSteadyClock::SleepUntil(Nanos deadline) {
    const std::chrono::steady_clock::time_point wakeAt(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(deadline));
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_until(lock, wakeAt, [this] { return interrupted_ || woken_; });
    woken_ = false;
    return !interrupted_;
}

void GsSteadyClock::Interrupt() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        interrupted_ = true;
    }
    wake_.notify_all();
}

void GsSteadyClock::Wake() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

void GsSteadyClock::Reset() {
    const std::lock_guard<std::mutex> lock(mutex_);
    interrupted_ = false;
}
