// What the end-to-end test's main set up before the application started.
#pragma once

#include <string>

namespace e2e {
// /dev/shm is the test's own: the product's queue name can be used.
extern bool g_privateShm;
// Where the "xdg-open" stand-in logs the folders it is asked to show (empty:
// no stand-in).
extern std::string g_openLog;
}  // namespace e2e
