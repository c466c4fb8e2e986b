#pragma once

namespace zucam::test {

// Makes Qt run without a display unless the caller chose a platform: the
// offscreen platform at 96 DPI (offscreen reports 100 DPI otherwise). Call
// before the application object is made.
void UseHeadlessQtUnlessSet();

}  // namespace zucam::test
