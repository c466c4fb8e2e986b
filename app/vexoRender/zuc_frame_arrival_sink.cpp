#include "zuc_frame_arrival_sink.h"

#include "vexo/gs_device.h"

namespace {

void Request(GsDevice* device) {
    GsDevice* const target = device != nullptr ? device : GsDevice::DefaultDevice();
    if (target != nullptr) target->RequestFrame();
}

}  // namespace

void ZucFrameArrivalSink::Push(AVFrame* frame) {
    if (enabled && frame != nullptr) Request(device_);
}

void ZucFrameArrivalSink::ShowBlack() {
    if (enabled) Request(device_);
}

void ZucFrameArrivalSink::SetFrame(AVFrame* frame) {
    if (enabled && frame != nullptr) Request(device_);
}
