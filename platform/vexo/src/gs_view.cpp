#include "vexo/gs_view.h"

#include "vexo/gs_device.h"
#include "vexo/gs_scene.h"

void GsView::SetBackgroundColor(float r, float g, float b, float a) {
    background_[0] = r;
    background_[1] = g;
    background_[2] = b;
    background_[3] = a;
}

GsViewImpl::GsViewImpl(uintptr_t nativeWindow, int width, int height, GsDevice* device)
    : nativeWindow_(nativeWindow), device_(device), width_(width), height_(height) {}

GsViewImpl::~GsViewImpl() { SetScene(nullptr); }

void GsViewImpl::SetScene(GsScene* scene) {
    if (scene != nullptr) scene->AddRef();
    GsScene* previous = nullptr;
    if (device_ != nullptr) {
        const auto lock = device_->LockFrame();
        previous = scene_;
        scene_ = scene;
    } else {
        previous = scene_;
        scene_ = scene;
    }
    if (previous != nullptr) previous->Release();
}

void GsViewImpl::Resize(int width, int height) {
    width_ = width;
    height_ = height;
}
