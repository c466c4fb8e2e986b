#include <QCoreApplication>
#include <gtest/gtest.h>

#include "support/headless.h"

// Tests that use queued calls or QProcess need an application object; its
// event loop is run by the tests that wait for something.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    zucam::test::UseHeadlessQtUnlessSet();  // for the programs the tests start
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
