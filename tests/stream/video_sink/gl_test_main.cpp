// The OpenGL sink's test program: Qt on the xcb platform of the X server
// that xvfb-run starts around it, with Mesa's software renderer.
#include <QGuiApplication>
#include <gtest/gtest.h>

#include "gl_test_environment.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Listing the cases needs no display.
    if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
#ifdef ZUCAM_NO_XVFB_RUN
    zucam::test::SetGlSkipReason("xvfb-run is not installed (package xvfb): no X server to render with");
    return RUN_ALL_TESTS();
#else
    if (!qEnvironmentVariableIsSet("DISPLAY")) {
        zucam::test::SetGlSkipReason("no X display: run this program under xvfb-run (CTest does)");
        return RUN_ALL_TESTS();
    }
    qputenv("QT_QPA_PLATFORM", QByteArray("xcb"));
    qputenv("LIBGL_ALWAYS_SOFTWARE", QByteArray("1"));
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
#endif
}
