// The OpenGL preview on a real GL context: Qt's xcb platform on the X server
// that xvfb-run starts around the program, Mesa's software renderer.
#include <QApplication>
#include <QTest>
#include <cstring>
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include "video_sink/stream_video_sink_gl.h"
#include "ui/widgets/opengl-widget.h"

namespace {

bool haveDisplay = false;

AVFrame* MakeWhiteFrame(int width, int height) {
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->colorspace = AVCOL_SPC_BT709;
    av_frame_get_buffer(frame, 0);
    for (int row = 0; row < height; ++row) memset(frame->data[0] + row * frame->linesize[0], 235, width);
    for (int row = 0; row < height / 2; ++row) {
        memset(frame->data[1] + row * frame->linesize[1], 128, width / 2);
        memset(frame->data[2] + row * frame->linesize[2], 128, width / 2);
    }
    return frame;
}

TEST(OpenGLPreview, DrawsThePictureFittedThenStretched) {
    if (!haveDisplay) GTEST_SKIP() << "no X display: run under xvfb-run (CTest does)";
    OpenGLWidget widget;
    widget.resize(400, 400);
    widget.Sink()->enabled = true;
    AVFrame* frame = MakeWhiteFrame(1920, 1080);
    widget.Sink()->Push(frame);
    av_frame_free(&frame);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));

    QImage shot = widget.grabFramebuffer();
    ASSERT_FALSE(shot.isNull());
    shot.save("/tmp/zucam-opengl-widget.png");
    EXPECT_LT(shot.pixelColor(200, 40).lightness(), 10);    // black bar above the 400 x 225 picture
    EXPECT_GT(shot.pixelColor(200, 200).lightness(), 240);  // limited-range white shows white
    EXPECT_LT(shot.pixelColor(200, 360).lightness(), 10);

    widget.SetStretch(true);
    shot = widget.grabFramebuffer();
    EXPECT_GT(shot.pixelColor(200, 40).lightness(), 240);
}

TEST(OpenGLPreview, WithoutPictureDrawsOnlyBlack) {
    if (!haveDisplay) GTEST_SKIP() << "no X display";
    OpenGLWidget widget;
    widget.resize(200, 200);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    const QImage shot = widget.grabFramebuffer();
    EXPECT_EQ(shot.pixelColor(100, 100), QColor(Qt::black));
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    haveDisplay = qEnvironmentVariableIsSet("DISPLAY");
    if (!haveDisplay) return RUN_ALL_TESTS();
    qputenv("QT_QPA_PLATFORM", QByteArray("xcb"));
    qputenv("QT_FONT_DPI", QByteArray("96"));
    qputenv("LIBGL_ALWAYS_SOFTWARE", QByteArray("1"));
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
