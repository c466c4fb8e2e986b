// The Tether interface under test, reached the way the program reaches it:
// through a pointer registered with __Init_CD_Later__.
#pragma once

#include "tether/tether.h"

namespace zucam::test {

// Null unless Tether runs.
tq::Interface* runningTether();

}  // namespace zucam::test
