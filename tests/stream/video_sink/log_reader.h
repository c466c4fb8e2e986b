// Reads back what the sinks logged, for tests that run a TetherEnvironment.
#pragma once

#include <QString>

namespace zucam::test {

// How often text occurs in the running Tether's log file; -1 when the file
// cannot be read.
int CountInLog(const QString& text);

}  // namespace zucam::test
