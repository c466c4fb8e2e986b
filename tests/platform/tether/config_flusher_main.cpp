// Child process of the crash test: flushes the two sample configurations in
// turn, as fast as it can, until it is killed. It prints "ready" once the
// first one is on disk. Its configuration folder comes from
// $XDG_CONFIG_HOME, as in the program.
#include <cstdio>

#include "config_sample.h"
#include "tether/tether.h"

namespace {
tq::Interface* g_tether = nullptr;
const int s_registered = __Init_CD_Later__(&g_tether);
}  // namespace

int main() {
    (void)s_registered;
    tq::InitTether(0, nullptr);
    for (long round = 0;; ++round) {
        for (const auto& entry : zucam::test::sampleConfiguration(static_cast<int>(round % 2))) {
            g_tether->config->setString(entry.first.c_str(), entry.second);
        }
        if (!g_tether->config->flush()) return 1;
        if (round == 0) {
            printf("ready\n");
            fflush(stdout);
        }
    }
}
