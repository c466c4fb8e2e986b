#include "core/tether/tq.h"

tq::Interface* g_cd = nullptr;
