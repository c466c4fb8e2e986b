#include "zuc_effect_filter.h"

#include "vexo/gs_device.h"

ZucEffectFilter::ZucEffectFilter(int width, int height) : GsFilter(width, height, GsDevice::DefaultDevice()) {}

// Detached here, before this object's members go, so that Draw never runs
// on a half-destroyed filter.
ZucEffectFilter::~ZucEffectFilter() { Detach(); }
