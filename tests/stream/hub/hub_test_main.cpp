#include <QCoreApplication>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/headless.h"
#include "support/tether_environment.h"
#include "zucam.h"

// The hub reads the save folder and the transport flags from the application
// object, so these tests run with a real ZuCam (each case in its own process,
// named after it so that concurrent cases never meet as instances).
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    zucam::test::UseHeadlessQtUnlessSet();
    zucam::test::TetherEnvironment tether;
    QCoreApplication::setApplicationName(QString("zucam-hub-test-%1").arg(getpid()));
    int result = 0;
    {
        ZuCam app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
