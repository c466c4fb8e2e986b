#include <QCoreApplication>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/headless.h"
#include "support/tether_environment.h"
#include "zucam.h"

// Each test case runs in a process of its own (CTest starts the binary per
// case), with its own Tether folders and the one ZuCam of the process. The
// application name carries the process id so that concurrent runs never
// meet as instances of one another.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Listing the cases needs no application object (nor a display).
    if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    zucam::test::UseHeadlessQtUnlessSet();
    zucam::test::TetherEnvironment tether;
    QCoreApplication::setApplicationName(QString("zucam-app-test-%1").arg(getpid()));
    int result = 0;
    {
        ZuCam app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
