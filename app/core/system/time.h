// The program's clock for intervals and deadlines.
#pragma once

#include <cstdint>

// Nanoseconds on CLOCK_MONOTONIC: an arbitrary origin, never decreasing, not
// affected by changes of the wall clock. Any thread.
uint64_t GetTimeNs();
