#include "vexo/gs_filter.h"

#include "vexo/gs_device.h"

GsFilter::GsFilter(int width, int height, GsDevice* device)
    : texture(std::make_unique<GsTexture>(nullptr, 0, kGsTextureRgba, width, height, device)), device_(device) {}

GsFilter::~GsFilter() { Detach(); }

void GsFilter::Attach() {
    if (device_ != nullptr) device_->AttachFilter(this);
}

void GsFilter::Detach() {
    if (device_ != nullptr) device_->DetachFilter(this);
}
