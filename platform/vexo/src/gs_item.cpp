#include "vexo/gs_item.h"

GsItem::GsItem(float width, float height, GsDevice* device) : device_(device) {
    size.x = width;
    size.y = height;
}

GsItem::GsItem(GsDevice* device) : device_(device) {}
