// A picture of width x height composed from items in the order added. The
// scene holds a reference on each item and releases them when it goes.
#pragma once

#include <cstdint>
#include <vector>

#include "vexo/ref_count_interface.h"

class GsDevice;
class GsItem;

class GsScene : public RefCountInterface {
public:
    GsScene(uint32_t width, uint32_t height, GsDevice* device);

    void AddItem(GsItem* item);
    // Drawing thread (under the device's frame lock).
    const std::vector<GsItem*>& items() const { return items_; }
    GsDevice* device() const { return device_; }

    const uint32_t width;
    const uint32_t height;

protected:
    ~GsScene() override;

private:
    GsDevice* const device_;       // borrowed; may be null
    std::vector<GsItem*> items_;  // one reference each
};
