// The device thread's time base. Frames are paced on absolute deadlines of
// this clock; tests inject GsManualClock.
#pragma once

#include <chrono>

class GsClock {
public:
    using Nanos = std::chrono::nanoseconds;
    virtual ~GsClock() = default;
    virtual Nanos Now() const = 0;
    // Blocks until Now() >= deadline or Wake() (true) or Interrupt() (false).
    // Called by the device thread only.
    virtual bool SleepUntil(Nanos deadline) = 0;
    // Ends the current SleepUntil early, or the next one when nobody sleeps
    // (any thread). Clocks that cannot be woken let the deadline decide.
    virtual void Wake() {}
    // Wakes the sleeper; every later SleepUntil returns false at once until
    // Reset().
    virtual void Interrupt() = 0;
    virtual void Reset() = 0;
};
