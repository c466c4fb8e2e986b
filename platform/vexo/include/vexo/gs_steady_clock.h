// The monotonic system clock.
#pragma once

#include <condition_variable>
#include <mutex>

#include "vexo/gs_clock.h"

class GsSteadyClock final : public GsClock {
public:
    Nanos Now() const override;
    bool SleepUntil(Nanos deadline) override;
    void Wake() override;
    void Interrupt() override;
    void Reset() override;

private:
    std::mutex mutex_;  // guards interrupted_ and woken_
    std::condition_variable wake_;
    bool interrupted_ = false;
    bool woken_ = false;
};
