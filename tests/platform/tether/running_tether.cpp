#include "running_tether.h"

namespace zucam::test {
namespace {
tq::Interface* g_tether = nullptr;
const int s_tetherRegistered = __Init_CD_Later__(&g_tether);
}  // namespace

tq::Interface* runningTether() {
    (void)s_tetherRegistered;
    return g_tether;
}

}  // namespace zucam::test
