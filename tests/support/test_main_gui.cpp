#include <QApplication>
#include <gtest/gtest.h>

#include "support/headless.h"

// For tests that build widgets; headless unless QT_QPA_PLATFORM says otherwise.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Listing the cases needs no display.
    if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    zucam::test::UseHeadlessQtUnlessSet();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
