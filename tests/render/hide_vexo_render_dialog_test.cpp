// The hidden render host under the offscreen platform: the view attaches
// once, one live output per scene, release without a scene, and the test
// sliders' UI values.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include "core/tether/tq.h"
#include "gs_output_frame.h"
#include "hide_vexo_render_dialog.h"
#include "preview_window.h"
#include "ref_counted_object.h"
#include "render_test_support.h"
#include "support/tether_environment.h"
#include "vexo/gs_device.h"
#include "vexo/gs_scene.h"
#include "zuc_camera_video_source.h"

namespace {

class RenderHost : public RenderFixture {
protected:
    RenderHost() {
        provider_.SetImage(FixedFrameProvider::Solid(8, 8, qRgb(255, 255, 255)));
        source_ = new RefCountedObject<ZucCameraVideoSource>(QSize(8, 8), &provider_);
        source_->AddRef();
        source_->CreateItem();
    }
    ~RenderHost() override { source_->Release(); }

    FixedFrameProvider provider_;
    ZucCameraVideoSource* source_ = nullptr;  // one reference
    std::vector<PushedFrame> journal_;
};

TEST_F(RenderHost, ViewAttachesOnceAndAfterTheTimerAtTheLatest) {
    HideVexoRenderDialog dialog;
    PreviewWindow* window = dialog.previewWindow();
    QSignalSpy created(window, &EditableDisplayWindow::ViewCreated);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->view() != nullptr; }, 5000));
    EXPECT_EQ(created.count(), 1);
    GsViewImpl* view = window->view();
    EXPECT_TRUE(view->attached());
    EXPECT_FLOAT_EQ(view->backgroundColor()[0], 0.5f);

    EXPECT_TRUE(window->AttachRender());
    EXPECT_EQ(window->view(), view);
    EXPECT_EQ(created.count(), 1);
}

TEST_F(RenderHost, TwoScenesInARowLeaveOneLiveOutputOnTheSecond) {
    RecordingSink sink(1, &journal_);
    HideVexoRenderDialog dialog;
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.previewWindow()->view() != nullptr; }, 5000));
    dialog.SetSinks({&sink});
    dialog.CreateScene(QSize(8, 8), source_->item());
    GsScene* first = dialog.output()->scene();
    dialog.CreateScene(QSize(16, 8), source_->item());
    ASSERT_NE(dialog.output(), nullptr);
    EXPECT_NE(dialog.output()->scene(), first);
    EXPECT_EQ(dialog.output()->scene()->width, 16u);
    EXPECT_EQ(dialog.previewWindow()->view()->scene(), dialog.output()->scene());

    Compose();
    ASSERT_EQ(journal_.size(), 1u);  // one output, not two
    EXPECT_EQ(journal_[0].width, 16);

    dialog.ReleaseScene();
    EXPECT_EQ(dialog.output(), nullptr);
    EXPECT_EQ(dialog.previewWindow()->view()->scene(), nullptr);
    Compose();
    EXPECT_EQ(journal_.size(), 1u);
    dialog.ReleaseScene();  // without a scene: only the view's scene is cleared
    EXPECT_EQ(dialog.output(), nullptr);
}

TEST_F(RenderHost, SlidersSetTheUiValues) {
    zucam::test::TetherEnvironment tether;
    HideVexoRenderDialog dialog;
    auto* color = dialog.findChild<QSlider*>("horizontalSlider_tmp_color");
    auto* bright = dialog.findChild<QSlider*>("horizontalSlider_tmp_bright");
    ASSERT_NE(color, nullptr);
    ASSERT_NE(bright, nullptr);
    EXPECT_EQ(color->minimum(), -100);
    EXPECT_EQ(color->maximum(), 500);
    EXPECT_EQ(bright->maximum(), 100);
    color->setValue(250);
    bright->setValue(-40);
    EXPECT_EQ(g_cd->uiValues->get("color_value", tq::Value(0)).toInt(), 250);
    EXPECT_EQ(g_cd->uiValues->get("bright_value", tq::Value(0)).toInt(), -40);
}

}  // namespace
