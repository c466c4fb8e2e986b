// Why the OpenGL cases cannot run here, set by the test program's main.
#pragma once

#include <string>

namespace zucam::test {

void SetGlSkipReason(std::string reason);
// Empty when there is a display to render on.
const std::string& GlSkipReason();

}  // namespace zucam::test
