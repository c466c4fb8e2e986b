#include "zuc_gs_item.h"

#include "vexo/gs_device.h"
#include "vexo/gs_scene.h"
#include "zuc_drawable_object.h"

ZucGsItem::ZucGsItem(float width, float height, ZucDrawableObject* drawable)
    : GsItem(width, height, GsDevice::DefaultDevice()), drawable_(drawable) {}

ZucGsItem::ZucGsItem(ZucDrawableObject* drawable) : GsItem(GsDevice::DefaultDevice()), drawable_(drawable) {}

void ZucGsItem::Prepare() {
    if (drawable_ != nullptr) drawable_->Prepare();
}

void ZucGsItem::Draw() {
    if (scene == nullptr || drawable_ == nullptr) return;
    drawable_->Draw(pos, size, value, static_cast<float>(scene->width), static_cast<float>(scene->height));
}

void ZucGsItem::SetDrawable(ZucDrawableObject* drawable) {
    if (device_ == nullptr) {
        drawable_ = drawable;
        return;
    }
    const auto lock = device_->LockFrame();
    drawable_ = drawable;
}
