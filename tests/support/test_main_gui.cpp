#include <QApplication>
#include <gtest/gtest.h>

// For tests that build widgets; run with QT_QPA_PLATFORM=offscreen (CTest sets it).
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
