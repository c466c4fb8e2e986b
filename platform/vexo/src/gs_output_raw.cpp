#include "vexo/gs_output_raw.h"

#include "vexo/gs_device.h"
#include "vexo/gs_scene.h"

GsOutputRaw::GsOutputRaw(GsScene* scene, uint32_t width, uint32_t height, int format, GsDevice* device)
    : scene_(scene),
      width_(width),
      height_(height),
      format_(format),
      device_(device != nullptr ? device : GsDevice::DefaultDevice()) {
    if (scene_ != nullptr) scene_->AddRef();
}

GsOutputRaw::~GsOutputRaw() {
    Stop();
    if (scene_ != nullptr) scene_->Release();
}

bool GsOutputRaw::Start() {
    if (device_ == nullptr || scene_ == nullptr || format_ != kGsOutputRgba || width_ == 0 || height_ == 0) {
        return false;
    }
    device_->AddOutput(this);
    return true;
}

void GsOutputRaw::Stop() {
    if (device_ != nullptr) device_->RemoveOutput(this);
}
