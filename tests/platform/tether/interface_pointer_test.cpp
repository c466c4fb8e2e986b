// __Init_CD_Later__ and the start and end of Tether: registered pointers are
// set exactly while Tether runs.
#include <gtest/gtest.h>

#include "running_tether.h"
#include "support/tether_environment.h"
#include "tether/tether.h"

namespace {

// Registered from a static initialiser, before main, as the program does.
tq::Interface* g_registeredBeforeMain = nullptr;
const int s_registeredBeforeMain = __Init_CD_Later__(&g_registeredBeforeMain);

void expectComplete(const tq::Interface* table) {
    ASSERT_NE(table, nullptr);
    EXPECT_NE(table->appInfo, nullptr);
    EXPECT_NE(table->logger, nullptr);
    EXPECT_NE(table->config, nullptr);
    EXPECT_NE(table->uiValues, nullptr);
    EXPECT_NE(table->system, nullptr);
}

TEST(TqInterfacePointer, RegisteredBeforeMainIsSetOnlyWhileTetherRuns) {
    (void)s_registeredBeforeMain;
    EXPECT_EQ(g_registeredBeforeMain, nullptr);
    {
        zucam::test::TetherEnvironment tether;
        expectComplete(g_registeredBeforeMain);
        EXPECT_EQ(g_registeredBeforeMain, zucam::test::runningTether());

        tether.restart();
        expectComplete(g_registeredBeforeMain);
        EXPECT_EQ(g_registeredBeforeMain, zucam::test::runningTether());
    }
    EXPECT_EQ(g_registeredBeforeMain, nullptr);
    EXPECT_EQ(zucam::test::runningTether(), nullptr);
}

TEST(TqInterfacePointer, RegisteredWhileRunningIsFilledAtOnceAndClearedAtTheEnd) {
    // Static: the registry keeps the address for the rest of the process.
    static tq::Interface* registeredLate = nullptr;
    {
        zucam::test::TetherEnvironment tether;
        __Init_CD_Later__(&registeredLate);
        expectComplete(registeredLate);
        EXPECT_EQ(registeredLate, g_registeredBeforeMain);
    }
    EXPECT_EQ(registeredLate, nullptr);
}

TEST(TqInterfacePointer, SecondStartKeepsTheTableAndSecondEndIsHarmless) {
    zucam::test::TetherEnvironment tether;
    tq::Interface* const first = g_registeredBeforeMain;
    first->uiValues->set("marker", tq::Value(5));

    EXPECT_EQ(tq::InitTether(0, nullptr), 0);
    EXPECT_EQ(g_registeredBeforeMain, first);
    EXPECT_EQ(g_registeredBeforeMain->uiValues->get("marker", tq::Value()).toInt(), 5);

    tq::UninitTether();
    tq::UninitTether();
    EXPECT_EQ(g_registeredBeforeMain, nullptr);

    EXPECT_EQ(tq::InitTether(0, nullptr), 0);
    expectComplete(g_registeredBeforeMain);
    EXPECT_TRUE(g_registeredBeforeMain->uiValues->get("marker", tq::Value()).isNull());
}

}  // namespace
