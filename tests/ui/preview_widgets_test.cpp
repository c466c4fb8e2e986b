#include <QApplication>
#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include "video_sink/stream_video_sink_gl.h"
#include "video_sink/stream_video_sink_sw.h"
#include "ui/widgets/opengl-widget.h"
#include "ui/widgets/painter-widget.h"

namespace {

struct FitCase {
    QSize picture;
    QSize widget;
    bool stretch;
    QRect expected;
};

TEST(PainterWidgetTarget, FitsCentresOrStretches) {
    const FitCase cases[] = {
        {{1920, 1080}, {400, 400}, false, {0, 87, 400, 225}},   // landscape: full width, centred vertically
        {{1080, 1920}, {400, 400}, false, {87, 0, 225, 400}},   // portrait: full height, centred horizontally
        {{640, 480}, {640, 480}, false, {0, 0, 640, 480}},      // same ratio fills
        {{1920, 1080}, {400, 400}, true, {0, 0, 400, 400}},     // stretch ignores the ratio
        {{1080, 1920}, {900, 300}, true, {0, 0, 900, 300}},
        {{0, 1080}, {400, 400}, false, {}},                     // no picture: nothing
        {{1920, 1080}, {0, 400}, false, {}},
    };
    for (const FitCase& c : cases) {
        EXPECT_EQ(PainterWidget::TargetRect(c.picture, c.widget, c.stretch), c.expected)
            << c.picture.width() << "x" << c.picture.height() << " in " << c.widget.width() << "x"
            << c.widget.height() << " stretch " << c.stretch;
    }
}

TEST(OpenGLWidgetScale, FitsStretchesOrKeepsPixelSize) {
    EXPECT_EQ(OpenGLWidget::PictureScale({1920, 1080}, {400, 400}, false, true), QSizeF(400, 225));
    EXPECT_EQ(OpenGLWidget::PictureScale({1080, 1920}, {400, 400}, false, true), QSizeF(225, 400));
    EXPECT_EQ(OpenGLWidget::PictureScale({1080, 1920}, {400, 400}, true, true), QSizeF(400, 400));
    // "Video.ScaleShow" off: the frame's own pixels, cropped by the widget.
    EXPECT_EQ(OpenGLWidget::PictureScale({1920, 1080}, {400, 400}, false, false), QSizeF(1920, 1080));
}

// A frame of one colour, YUV 4:2:0 limited range.
AVFrame* MakeFlatFrame(int width, int height, uint8_t y, uint8_t u, uint8_t v) {
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    frame->color_range = AVCOL_RANGE_MPEG;
    frame->colorspace = AVCOL_SPC_BT709;
    av_frame_get_buffer(frame, 0);
    for (int row = 0; row < height; ++row) memset(frame->data[0] + row * frame->linesize[0], y, width);
    for (int row = 0; row < height / 2; ++row) {
        memset(frame->data[1] + row * frame->linesize[1], u, width / 2);
        memset(frame->data[2] + row * frame->linesize[2], v, width / 2);
    }
    return frame;
}

TEST(PainterWidgetPaint, ShowsBlackWithoutPictureThenThePictureFitted) {
    PainterWidget widget;
    widget.resize(400, 400);
    QImage blank = widget.grab().toImage();
    EXPECT_EQ(blank.pixelColor(200, 200), QColor(Qt::black));

    widget.Sink()->enabled = true;
    AVFrame* frame = MakeFlatFrame(1920, 1080, 235, 128, 128);  // white
    widget.Sink()->Push(frame);
    av_frame_free(&frame);
    const QImage shot = widget.grab().toImage();
    EXPECT_EQ(shot.pixelColor(200, 40), QColor(Qt::black));   // bar above the fitted picture
    EXPECT_GT(shot.pixelColor(200, 200).lightness(), 240);    // the picture
    EXPECT_EQ(shot.pixelColor(200, 360), QColor(Qt::black));  // bar below
    shot.save("/tmp/zucam-painter-widget.png");

    widget.SetStretch(true);
    EXPECT_GT(widget.grab().toImage().pixelColor(200, 40).lightness(), 240);
}

TEST(PainterWidgetPaint, DisabledSinkConvertsNothing) {
    PainterWidget widget;
    AVFrame* frame = MakeFlatFrame(64, 64, 235, 128, 128);
    widget.Sink()->Push(frame);  // enabled is false after construction
    av_frame_free(&frame);
    EXPECT_TRUE(widget.Sink()->GetImage().isNull());
}

TEST(PreviewRepaint, RepaintsOnlyWhileVisible) {
    // The 40 ms timer asks for a repaint only while the widget is shown.
    struct CountingPainter : PainterWidget {
        int paints = 0;
        void paintEvent(QPaintEvent* event) override {
            ++paints;
            PainterWidget::paintEvent(event);
        }
    };
    CountingPainter hidden;
    hidden.resize(100, 100);
    QTest::qWait(200);
    EXPECT_EQ(hidden.paints, 0);

    CountingPainter shown;
    shown.resize(100, 100);
    shown.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown));
    const int first = shown.paints;
    QTest::qWait(300);
    EXPECT_GE(shown.paints - first, 3);  // about 7 at 40 ms; coarse timers may slip
}

}  // namespace
