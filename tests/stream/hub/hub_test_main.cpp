#include <QCoreApplication>
#include <gtest/gtest.h>

#include "support/headless.h"
#include "support/tether_environment.h"

// The hub runs hw_probe through QProcess and delivers its signals through an
// event loop: the cases need an application object and Tether.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    zucam::test::UseHeadlessQtUnlessSet();
    zucam::test::TetherEnvironment tether;
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
