// The scene item that forwards Prepare and Draw to its drawable. The
// drawable is borrowed; its owner clears it (SetDrawable(nullptr)) before it
// goes, which waits for the frame being composed.
#pragma once

#include "vexo/gs_item.h"

class ZucDrawableObject;

class ZucGsItem : public GsItem {
public:
    ZucGsItem(float width, float height, ZucDrawableObject* drawable);
    explicit ZucGsItem(ZucDrawableObject* drawable);

    void Prepare() override;
    void Draw() override;
    // Any thread; returns once no frame uses the previous drawable.
    void SetDrawable(ZucDrawableObject* drawable);

protected:
    ~ZucGsItem() override = default;

private:
    ZucDrawableObject* drawable_;  // borrowed; changed under the device's frame lock
};
