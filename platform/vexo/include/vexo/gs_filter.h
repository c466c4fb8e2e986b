// An off-screen pass with its own output texture. Once attached, the device
// runs Draw once per composed frame with the texture as render target, after
// the items' Prepare and before their Draw. Subclasses detach in their own
// destructor so that Draw never runs on a half-destroyed object.
#pragma once

#include <memory>

#include "vexo/gs_texture.h"
#include "vexo/gs_types.h"

class GsDevice;

class GsFilter {
public:
    GsFilter(int width, int height, GsDevice* device);
    virtual ~GsFilter();
    GsFilter(const GsFilter&) = delete;
    GsFilter& operator=(const GsFilter&) = delete;

    void Attach();
    // Returns once the filter's Draw is no longer running nor will run.
    void Detach();
    // Drawing thread.
    virtual void Draw() {}

    int width() const { return texture->width(); }
    int height() const { return texture->height(); }

    const std::unique_ptr<GsTexture> texture;  // the pass's output

private:
    GsDevice* const device_;  // borrowed; may be null
};
