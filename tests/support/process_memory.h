// The memory this test process holds, as the kernel counts it, for tests
// that bound what hostile input may cost.
#pragma once

#include <cstdint>

namespace zucam::test {

// Resident bytes now (VmRSS); 0 when /proc cannot tell.
uint64_t ResidentBytes();
// The highest resident bytes since the process started or since the last
// ResetPeakResident (VmHWM); 0 when /proc cannot tell.
uint64_t PeakResidentBytes();
// Starts the peak count afresh from what is resident now; false when the
// kernel refuses.
bool ResetPeakResident();

}  // namespace zucam::test
