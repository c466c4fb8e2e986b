#include "vexo/gs_scene.h"

#include "vexo/gs_device.h"
#include "vexo/gs_item.h"

GsScene::GsScene(uint32_t sceneWidth, uint32_t sceneHeight, GsDevice* device)
    : width(sceneWidth), height(sceneHeight), device_(device) {}

GsScene::~GsScene() {
    for (GsItem* item : items_) {
        item->scene = nullptr;
        item->Release();
    }
}

void GsScene::AddItem(GsItem* item) {
    if (item == nullptr) return;
    item->AddRef();
    if (device_ != nullptr) {
        const auto lock = device_->LockFrame();
        item->scene = this;
        items_.push_back(item);
    } else {
        item->scene = this;
        items_.push_back(item);
    }
}
