// A clock that moves only when told: tests step the device thread from one
// deadline to the next without depending on wall time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "vexo/gs_clock.h"

class GsManualClock final : public GsClock {
public:
    Nanos Now() const override;
    bool SleepUntil(Nanos deadline) override;
    void Wake() override;
    void Interrupt() override;
    void Reset() override;

    void AdvanceTo(Nanos time);
    // Blocks until the device thread sleeps on a deadline later than Now()
    // and returns that deadline (test thread).
    Nanos WaitForSleeper();
    // Blocks until the device thread has returned from a sleep after the
    // last Wake and sleeps again on a deadline later than Now(), and
    // returns that deadline (test thread): whatever the wake asked for has
    // been done by then.
    Nanos WaitForSleeperAfterWake();

private:
    mutable std::mutex mutex_;  // guards every member below
    std::condition_variable changed_;
    Nanos now_{0};
    Nanos sleeperDeadline_{-1};  // -1: nobody sleeps
    bool interrupted_ = false;
    bool woken_ = false;
    uint64_t sleeps_ = 0;          // SleepUntil calls so far
    uint64_t sleepsAtWake_ = 0;    // sleeps_ when Wake was last called
};
