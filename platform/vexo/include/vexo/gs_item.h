// One drawable of a scene. The device calls Prepare and Draw once per
// composed frame on its drawing thread.
#pragma once

#include "vexo/gs_types.h"
#include "vexo/ref_count_interface.h"

class GsDevice;
class GsScene;

class GsItem : public RefCountInterface {
public:
    GsItem(float width, float height, GsDevice* device);
    explicit GsItem(GsDevice* device);

    virtual void Prepare() {}
    virtual void Draw() {}

    gs_vec2 pos;
    gs_vec2 size;
    float value = 0.0f;
    GsScene* scene = nullptr;  // set by GsScene::AddItem, borrowed

protected:
    ~GsItem() override = default;
    GsDevice* const device_;  // borrowed; may be null
};
