#include "vexo/gs_manual_clock.h"

GsClock::Nanos GsManualClock::Now() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

bool GsManualClock::SleepUntil(Nanos deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++sleeps_;
    sleeperDeadline_ = deadline;
    changed_.notify_all();
    changed_.wait(lock, [&] { return interrupted_ || woken_ || now_ >= deadline; });
    woken_ = false;
    sleeperDeadline_ = Nanos(-1);
    return !interrupted_;
}

void GsManualClock::Interrupt() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        interrupted_ = true;
    }
    changed_.notify_all();
}

void GsManualClock::Wake() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
        sleepsAtWake_ = sleeps_;
    }
    changed_.notify_all();
}

void GsManualClock::Reset() {
    const std::lock_guard<std::mutex> lock(mutex_);
    interrupted_ = false;
}

void GsManualClock::AdvanceTo(Nanos time) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (time > now_) now_ = time;
    }
    changed_.notify_all();
}

GsClock::Nanos GsManualClock::WaitForSleeper() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return sleeperDeadline_ > now_; });
    return sleeperDeadline_;
}

GsClock::Nanos GsManualClock::WaitForSleeperAfterWake() {
    std::unique_lock<std::mutex> lock(mutex_);
    // A sleep begun before the wake does not count, nor one the wake ends
    // at once: the thread has looked at what it was woken for only when it
    // sleeps again after that.
    changed_.wait(lock, [&] { return !woken_ && sleeps_ > sleepsAtWake_ && sleeperDeadline_ > now_; });
    return sleeperDeadline_;
}
