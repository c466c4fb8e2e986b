// The program's access to Tether: the one interface pointer g_cd.
//
// Every source file that includes this header registers the address of g_cd
// with Tether, so g_cd is set once tq::InitTether has returned and cleared by
// tq::UninitTether. Code other than the logging macros uses g_cd without a
// null test and so runs only between the two.
#pragma once

#include "tether/tether.h"

extern tq::Interface* g_cd;

namespace {
[[maybe_unused]] const int s_tq_cd_registered = __Init_CD_Later__(&g_cd);
}  // namespace
