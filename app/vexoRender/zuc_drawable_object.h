// What a scene item forwards the render library's per-frame calls to.
// Both run on the drawing thread.
#pragma once

#include "vexo/gs_types.h"

class ZucDrawableObject {
public:
    virtual ~ZucDrawableObject() = default;
    virtual void Prepare() = 0;
    // itemValue is the item's float, passed through.
    virtual void Draw(const gs_vec2& position, const gs_vec2& size, float itemValue, float sceneWidth,
                      float sceneHeight) = 0;
};
