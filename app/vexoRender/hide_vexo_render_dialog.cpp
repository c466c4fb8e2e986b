#include "hide_vexo_render_dialog.h"

#include <QTimer>

#include "core/tether/tq.h"
#include "gs_output_frame.h"
#include "preview_window.h"
#include "ref_counted_object.h"
#include "ui_hide_vexo_render_dialog.h"
#include "vexo/gs_device.h"
#include "vexo/gs_scene.h"

namespace {

void SetUiInt(const char* key, int value) {
    tq::Interface* const cd = g_cd;
    if (cd != nullptr && cd->uiValues != nullptr) cd->uiValues->set(key, tq::Value(value));
}

}  // namespace

HideVexoRenderDialog::HideVexoRenderDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::HideVexoRenderDialog>()) {
    ui_->setupUi(this);
    resize(800, 600);
    ui_->horizontalSlider_tmp_color->setRange(-100, 500);
    ui_->horizontalSlider_tmp_color->setValue(0);
    ui_->horizontalSlider_tmp_bright->setRange(-100, 100);
    ui_->horizontalSlider_tmp_bright->setValue(0);
    QTimer::singleShot(10, this, [this] { previewWindow()->AttachRender(); });
}

HideVexoRenderDialog::~HideVexoRenderDialog() { ReleaseScene(); }

void HideVexoRenderDialog::SetSinks(const std::vector<StreamVideoSink*>& sinks) { sinks_ = sinks; }

PreviewWindow* HideVexoRenderDialog::previewWindow() const { return ui_->widget_display->GetPreviewWindow(); }

void HideVexoRenderDialog::CreateScene(const QSize& size, GsItem* item) {
    auto* scene = new RefCountedObject<GsScene>(static_cast<uint32_t>(size.width()),
                                                static_cast<uint32_t>(size.height()), GsDevice::DefaultDevice());
    scene->AddRef();
    scene->AddItem(item);
    if (GsViewImpl* view = previewWindow()->view()) view->SetScene(scene);
    if (output_) {
        output_->Stop();
        output_.reset();
    }
    output_ = std::make_unique<GsOutputFrame>(scene, static_cast<uint32_t>(size.width()),
                                              static_cast<uint32_t>(size.height()), kGsOutputRgba, sinks_);
    output_->Start();
    scene->Release();
}

void HideVexoRenderDialog::ReleaseScene() {
    if (output_) {
        output_->Stop();
        output_.reset();
    }
    if (GsViewImpl* view = previewWindow()->view()) view->SetScene(nullptr);
}

void HideVexoRenderDialog::on_horizontalSlider_tmp_color_valueChanged(int value) { SetUiInt("color_value", value); }

void HideVexoRenderDialog::on_horizontalSlider_tmp_bright_valueChanged(int value) { SetUiInt("bright_value", value); }
